// Read cycle benchmark against the in-process simulator on a pseudo-terminal
// (no reply delay), with the main window shown on the Initialization tab:
//   P3: read cycles per second of btnReadEncoderClick divided by bare
//       SerialTransaction round trips per second with the same raw-frame
//       command, in the same run (target >= 0.8).
// Cycles and bare round trips are timed one after the other, alternately, so
// both see the same load of the machine; the figures are medians.
// For information it also prints the continuous loop's pass (a cycle plus
// one round of event processing, which paints the changed labels).
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimFixture.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Samples = 5000;
const QByteArray FrameCommand = "?07:000"; // the frame of the multi-turn model below

double secondsOf(const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    return clock.nsecsElapsed() / 1e9;
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Median seconds of each action, the actions timed in turn.
std::vector<double> alternately(const std::vector<std::function<void()>>& actions) {
    std::vector<std::vector<double>> times(actions.size());
    for (int i = 0; i < Samples; ++i)
        for (size_t a = 0; a < actions.size(); ++a)
            times[a].push_back(secondsOf(actions[a]));
    std::vector<double> medians;
    for (const auto& t : times)
        medians.push_back(median(t));
    return medians;
}

bool connectEncoder(TMainForm& form) {
    form.initTimerTimer();
    if (!COMPortHandle)
        return false;
    form.btnPowerONClick();
    form.btnConnectEncoderClick();
    form.Page->setCurrentWidget(form.tabInit);
    form.show();
    QApplication::processEvents();
    form.Memo1->clear(); // from here on only failed readings write to it
    return form.btnReadEncoder->isEnabled();
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SimFixture sim(QStringLiteral("t2-mt17"));
    if (!sim.Serving() || !sim.Announce(QStringLiteral("q714-bench")))
        return std::printf("P3: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("bench"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!connectEncoder(form))
        return std::printf("P3: no encoder connected\n"), 1;

    QByteArray reply;
    const auto cycle = [&] { form.btnReadEncoderClick(); };
    const auto loopPass = [&] {
        form.btnReadEncoderClick();
        QApplication::processEvents();
    };
    const auto transaction = [&] { SerialTransaction(COMPortHandle, FrameCommand, 0, reply); };
    alternately({loopPass, transaction}); // warm-up
    const std::vector<double> t = alternately({cycle, transaction, loopPass});
    if (!form.Memo1->toPlainText().isEmpty() || EncoderPosition.ErrComm != 0)
        return std::printf("P3: readings failed:\n%s\n", qPrintable(form.Memo1->toPlainText())), 1;

    const double cycleSeconds = t[0], transactionSeconds = t[1], passSeconds = t[2];
    std::printf("P3 read cycle: %.1f us per cycle (%.0f/s), SerialTransaction %.1f us (%.0f/s), "
                "ratio %.3f (target >= 0.8)\n",
                cycleSeconds * 1e6, 1 / cycleSeconds, transactionSeconds * 1e6,
                1 / transactionSeconds, transactionSeconds / cycleSeconds);
    std::printf("   continuous loop pass (cycle + event processing): %.1f us, ratio %.3f\n",
                passSeconds * 1e6, transactionSeconds / passSeconds);
    return 0;
}
