// P3: continuous reading as the user gets it. The real window, shown on a real
// X server (run it under xvfb-run), reads continuously with no pause through
// its own loop, event processing and painting included; the baseline is a
// bare write-then-read loop on the same port that does not use the program's
// serial channel. Whole phases of each alternate in one run against a
// q714-sim process; the figure is the window's readings per second divided
// by the bare exchanges per second, over all phases (target >= 0.8).
//
//   xvfb-run -a build/bench/bench_read_cycle [rounds] [seconds per phase]
#include "BareTerminal.h"
#include "BenchWindow.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimProcess.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

const QByteArray FrameCommand = "?07:000"; // the raw frame of the model below

struct Phase {
    double count = 0;
    double seconds = 0;
    double Rate() const { return seconds > 0 ? count / seconds : 0; }
    Phase& operator+=(const Phase& other) {
        count += other.count;
        seconds += other.seconds;
        return *this;
    }
};

// The user's continuous reading: tick "Read constantly", untick it after
// `seconds`. The loop runs inside the click, as it does for the user.
Phase windowPhase(TMainForm& form, double seconds) {
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] { form.cbReadEncConstantly->setChecked(false); });
    const double before = form.FrameCounter;
    QElapsedTimer clock;
    clock.start();
    stop.start(int(seconds * 1000));
    form.cbReadEncConstantly->click();
    return {form.FrameCounter - before, clock.nsecsElapsed() / 1e9};
}

Phase barePhase(BareTerminal& terminal, double seconds) {
    QByteArray reply;
    Phase phase;
    QElapsedTimer clock;
    clock.start();
    while (clock.nsecsElapsed() < seconds * 1e9) {
        if (!terminal.Exchange(FrameCommand, reply))
            break;
        phase.count += 1;
    }
    phase.seconds = clock.nsecsElapsed() / 1e9;
    return phase;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    const double seconds = argc > 2 ? qMax(0.2, atof(argv[2])) : 2.0;
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        std::printf("P3: platform \"%s\": painting is not measured on a real X server; "
                    "run under xvfb-run\n",
                    qPrintable(QGuiApplication::platformName()));
    SimProcess sim;
    if (sim.Start(QStringLiteral("bench-p3"), {"--model", "t2-mt17"}).isEmpty())
        return std::printf("P3: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("bench"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!ConnectWindowToSimulator(form))
        return std::printf("P3: no encoder connected\n"), 1;
    form.Page->setCurrentWidget(form.tabInit);
    QApplication::processEvents();
    BareTerminal bare;
    bare.Attach(int(COMPortHandle->handle()));

    windowPhase(form, 0.3); // warm-up
    barePhase(bare, 0.3);
    Phase windowTotal;
    Phase bareTotal;
    for (int round = 0; round < rounds; ++round) {
        const Phase w = windowPhase(form, seconds);
        const Phase b = barePhase(bare, seconds);
        std::printf("  round %d: window %.0f readings/s, bare %.0f exchanges/s, ratio %.3f\n",
                    round + 1, w.Rate(), b.Rate(), w.Rate() / b.Rate());
        windowTotal += w;
        bareTotal += b;
    }
    if (!form.Memo1->toPlainText().isEmpty() || EncoderPosition.ErrComm != 0)
        return std::printf("P3: readings failed:\n%s\n", qPrintable(form.Memo1->toPlainText())), 1;
    std::printf("P3 continuous reading: window %.0f readings/s, bare loop %.0f exchanges/s, "
                "ratio %.3f (target >= 0.8)\n",
                windowTotal.Rate(), bareTotal.Rate(), windowTotal.Rate() / bareTotal.Rate());
    return 0;
}
