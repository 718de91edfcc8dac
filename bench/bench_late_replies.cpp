// L1: late replies as the user gets them. The real window reads continuously
// on the Debug tab (every reading reads the debug record: about 38 exchanges)
// against the in-process simulator on a pseudo-terminal, in three whole
// phases: no fault, then every 100th reply 600 ms late (q714-sim
// --late-reply 100:600), then no fault again. A reading that fails stops the
// loop, as it does for the user; the bench then does what the user does:
// waits for the adapter search, presses Connect and ticks "Read constantly"
// again. Figures per phase: readings per second and the longest interval in
// which the window processed no events (measured by a 1 ms timer).
// Targets: the longest blocked interval at most about one time-out (400 ms),
// and readings per second after the fault at least 0.9 of those before it.
//
//   xvfb-run -a build/bench/bench_late_replies [seconds per phase] [tab]
//   (tab: debug (default), signal or init)
#include "BenchWindow.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"
#include "SimFixture.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

struct PhaseFigures {
    double readings = 0;
    double seconds = 0;
    qint64 longestBlockedMs = 0;
    int restarts = 0; // readings that stopped the loop
    double Rate() const { return seconds > 0 ? readings / seconds : 0; }
};

// Longest gap between two ticks of a 1 ms timer: the longest time the window
// could not react.
class BlockedWatch {
public:
    BlockedWatch() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { longest = qMax(longest, clock.restart()); });
    }
    void Start() {
        longest = 0;
        clock.start();
        timer.start(1);
    }
    qint64 Stop() {
        timer.stop();
        return qMax(longest, clock.elapsed());
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 longest = 0;
};

// Reads continuously for `seconds`; a reading that stops the loop is
// followed by what the user does next.
PhaseFigures readingPhase(TMainForm& form, QWidget* tab, double seconds) {
    PhaseFigures figures;
    BlockedWatch watch;
    QElapsedTimer clock;
    clock.start();
    double counted = 0;
    watch.Start();
    while (clock.elapsed() < seconds * 1000) {
        QTimer stop;
        stop.setSingleShot(true);
        stop.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
        QObject::connect(&stop, &QTimer::timeout,
                         [&] { form.cbReadEncConstantly->setChecked(false); });
        stop.start(int(qMax(1.0, seconds * 1000 - clock.elapsed())));
        const double start = form.FrameCounter;
        form.cbReadEncConstantly->click();
        counted += form.FrameCounter - start;
        if (clock.elapsed() >= seconds * 1000)
            break;
        ++figures.restarts;
        if (qEnvironmentVariableIsSet("L1_VERBOSE"))
            std::printf("    loop stopped: %s\n",
                        qPrintable(form.Memo1->toPlainText().section('\n', -3)));
        // The loop stopped on a failed reading: wait for the search, connect.
        while (form.initTimer->isActive() && clock.elapsed() < seconds * 1000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        form.btnConnectEncoderClick();
        form.Page->setCurrentWidget(tab);
    }
    figures.longestBlockedMs = watch.Stop();
    figures.seconds = clock.nsecsElapsed() / 1e9;
    figures.readings = counted;
    return figures;
}

void print(const char* name, const PhaseFigures& f) {
    std::printf("  %-22s %7.0f readings/s, longest blocked %4lld ms, %d restarts of the loop\n",
                name, f.Rate(), static_cast<long long>(f.longestBlockedMs), f.restarts);
}

QWidget* tabNamed(TMainForm& form, const QString& name) {
    if (name == QLatin1String("signal"))
        return form.tabSignalLevelTemperature;
    if (name == QLatin1String("init"))
        return form.tabInit;
    return form.tabDebug;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? qMax(1.0, atof(argv[1])) : 10.0;
    const QString tabName = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("debug");
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        std::printf("L1: platform \"%s\": painting is not measured on a real X server; "
                    "run under xvfb-run\n",
                    qPrintable(QGuiApplication::platformName()));
    SimFixture sim(QStringLiteral("t2-mt17"));
    if (!sim.Serving() || !sim.Announce(QStringLiteral("q714-bench")))
        return std::printf("L1: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("talve"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!ConnectWindowToSimulator(form))
        return std::printf("L1: no encoder connected\n"), 1;
    form.initTimer->setInterval(1000);
    QWidget* tab = tabNamed(form, tabName);
    form.Page->setCurrentWidget(tab);
    readingPhase(form, tab, 0.5); // warm-up

    const PhaseFigures before = readingPhase(form, tab, seconds);
    FaultSettings late;
    late.lateReplyEvery = 100;
    late.lateReplyMs = 600;
    sim.Server().SetFaults(late);
    const PhaseFigures during = readingPhase(form, tab, seconds);
    sim.Server().SetFaults(FaultSettings());
    // The fault has stopped once the last late reply is in (600 ms at most)
    // and a search it asked for has run.
    DelayProcessMessages(late.lateReplyMs);
    while (form.initTimer->isActive())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (!form.EncoderConnected)
        form.btnConnectEncoderClick();
    form.Page->setCurrentWidget(tab);
    const PhaseFigures after = readingPhase(form, tab, seconds);

    std::printf("L1 late replies (every 100th reply 600 ms late), %s tab, %.0f s phases:\n",
                qPrintable(tabName), seconds);
    print("before the fault", before);
    print("during the fault", during);
    print("after the fault", after);
    const qint64 longest =
        qMax(before.longestBlockedMs, qMax(during.longestBlockedMs, after.longestBlockedMs));
    std::printf("L1: longest blocked %lld ms (target about 400), readings after / before the "
                "fault %.3f (target >= 0.9)\n",
                static_cast<long long>(longest), after.Rate() / before.Rate());
    return 0;
}
