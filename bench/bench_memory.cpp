// Memory over a shift: the real window reads continuously with no pause for
// the given minutes (default 10) with "Log Encoder Errors" and "Log comms"
// both ticked, against a q714-sim process whose encoder reports a warning,
// so both logs write on every reading. Resident memory is sampled every 30 s;
// after the first minute (memo full, caches warm) it must stay flat.
//
//   xvfb-run -a build/bench/bench_memory [minutes]
#include "BenchWindow.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"
#include "SimProcess.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

double residentMegabytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? qMax(0.5, atof(argv[1])) : 10.0;
    SimProcess sim;
    if (sim.Start(QStringLiteral("bench-memory"), {"--model", "t2-mt17", "--warning"}).isEmpty())
        return std::printf("memory: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("bench"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!ConnectWindowToSimulator(form))
        return std::printf("memory: no encoder connected\n"), 1;
    form.cbLogErrors->setChecked(true);
    form.cbLogComms->click();

    QElapsedTimer clock;
    clock.start();
    double afterFirstMinute = 0;
    double last = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double elapsed = clock.elapsed() / 60000.0;
        last = residentMegabytes();
        std::printf("  %5.1f min: %7.1f MB resident, %9.0f readings, memo %d lines\n", elapsed,
                    last, form.FrameCounter, form.Memo1->blockCount());
        std::fflush(stdout);
        if (afterFirstMinute == 0 && elapsed >= 0.99)
            afterFirstMinute = last;
        if (elapsed >= minutes)
            form.cbReadEncConstantly->setChecked(false);
    });
    sampler.start(30000);
    form.cbReadEncConstantly->click(); // reads until the sampler stops it
    if (afterFirstMinute == 0)
        afterFirstMinute = last;
    const double span = qMax(minutes - 1.0, 0.5);
    std::printf("Memory with both logs on: %.1f MB after 1 min, %.1f MB after %.1f min: growth "
                "%.2f MB per hour\n",
                afterFirstMinute, last, minutes, (last - afterFirstMinute) / span * 60);
    return 0;
}
