// Error map benchmark against the in-process simulator on a pseudo-terminal
// (no reply delay), with the main window shown on the Error Map tab:
//   P4: time of btnReadErrMapClick (the whole map of 512 points, chart and
//       progress bar included) divided by the time of the same 512 register
//       reads done bare (write, read up to CR) on the same terminal, in the
//       same run (target <= 1.1).
// For information it also times the same reads through SerialTransaction
// alone (the program's channel without the handler): the floor of P4.
// The phases alternate round by round so both see the same load of the
// machine; the ratio is of their total times. The median of the rounds'
// ratios is printed too: on a loaded machine single rounds stall.
#include "BareTerminal.h"
#include "BenchWindow.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimFixture.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Rounds = 40;
constexpr int ErrorMapTab = 7;

QList<QByteArray> errorMapReads() {
    QList<QByteArray> commands;
    for (int point = 0; point < 512; ++point)
        commands << "R:0002:" + QByteArray::number(0x1800 + 2 * point, 16)
                                    .toUpper()
                                    .rightJustified(8, '0'); // the U2 map of t2-mt17
    return commands;
}

double secondsOf(const std::function<bool()>& phase, bool& ok) {
    QElapsedTimer clock;
    clock.start();
    ok = phase() && ok;
    return clock.nsecsElapsed() / 1e9;
}

// The 512 reads without the program: the port is handed to a bare terminal
// for the phase and taken back after it.
bool bareReads(const QString& device, const QList<QByteArray>& commands, double& seconds) {
    CloseCOMPort();
    bool ok = true;
    {
        BareTerminal terminal;
        ok = terminal.Open(device);
        QByteArray reply;
        seconds = secondsOf(
            [&] {
                for (const QByteArray& command : commands)
                    if (!terminal.Exchange(command, reply) || !reply.startsWith("0x9:"))
                        return false;
                return true;
            },
            ok);
    }
    COMPortHandle = OpenSerialPort(device);
    return ok && COMPortHandle && COMPortHandle->setBaudRate(QSerialPort::Baud115200);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SimFixture sim(QStringLiteral("t2-mt17"));
    if (!sim.Serving() || !sim.Announce(QStringLiteral("q714-bench")))
        return std::printf("P4: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("bench"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!ConnectWindowToSimulator(form) || EncoderType != 2)
        return std::printf("P4: no encoder connected\n"), 1;
    form.Page->setTabVisible(ErrorMapTab, true);
    form.Page->setCurrentWidget(form.tabErrMap);
    QApplication::processEvents();

    const QList<QByteArray> commands = errorMapReads();
    const auto readMap = [&] {
        form.btnReadErrMapClick();
        return form.Series1->count() == 512;
    };
    const auto channelReads = [&] {
        QByteArray reply;
        for (const QByteArray& command : commands)
            if (SerialTransaction(COMPortHandle, command, 0, reply) != 0)
                return false;
        return true;
    };
    double handlerTotal = 0, bareTotal = 0, channelTotal = 0;
    std::vector<double> ratios;
    bool ok = true;
    for (int round = -1; round < Rounds && ok; ++round) { // round -1 warms up
        double handler = secondsOf(readMap, ok);
        QApplication::processEvents(); // the window paints the new curve
        const double channel = secondsOf(channelReads, ok);
        double bare = 0;
        ok = bareReads(sim.DevicePath(), commands, bare) && ok;
        if (round >= 0) {
            handlerTotal += handler;
            bareTotal += bare;
            channelTotal += channel;
            ratios.push_back(handler / bare);
        }
    }
    if (!ok || !form.Memo1->toPlainText().isEmpty())
        return std::printf("P4: reads failed:\n%s\n", qPrintable(form.Memo1->toPlainText())), 1;

    std::sort(ratios.begin(), ratios.end());
    std::printf("P4 error map: handler %.1f ms per map, bare 512 reads %.1f ms, ratio %.3f "
                "(target <= 1.1); median of %d rounds %.3f\n",
                handlerTotal / Rounds * 1e3, bareTotal / Rounds * 1e3, handlerTotal / bareTotal,
                Rounds, ratios[ratios.size() / 2]);
    std::printf("   SerialTransaction alone: %.1f ms per 512 reads, ratio %.3f to bare\n",
                channelTotal / Rounds * 1e3, channelTotal / bareTotal);
    return 0;
}
