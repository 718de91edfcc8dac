// Serial channel benchmarks against the q714-sim executable (a separate
// process, so only the tool's own work is measured):
//   P1: SerialTransaction round trip / bare write-then-read round trip on the
//       same terminal with the same reply (target <= 1.2).
//   P2: CPU time of this process while SerialTransaction waits for a reply
//       delayed by 50 ms, as a share of wall time (target <= 2 %).
#include "BareTerminal.h"
#include "Orodja.h"
#include "Serial_driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {

// A q714-sim process announced under `name`; returns its terminal's path.
QString startSimulator(QProcess& process, const QString& name, const QStringList& options) {
    process.start(QStringLiteral(Q714_SIM_PATH), QStringList{"--name", name} + options);
    const QString link = SimulatedAdapterFolder() + QLatin1Char('/') + name;
    for (int i = 0; i < 100 && !QFileInfo(link).isSymLink(); ++i)
        QThread::msleep(20);
    return QFileInfo(link).symLinkTarget();
}

bool openChannel(const QString& device) {
    COMPortHandle = OpenSerialPort(device);
    return COMPortHandle && COMPortHandle->setBaudRate(115200);
}

double secondsPerChannelExchange(int count) {
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        SerialTransaction(COMPortHandle, "r", 0, reply);
    return clock.nsecsElapsed() / 1e9 / count;
}

double secondsPerBareExchange(BareTerminal& terminal, int count) {
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        terminal.Exchange("r", reply);
    return clock.nsecsElapsed() / 1e9 / count;
}

int measureRoundTripRatio(const QString& device) {
    constexpr int rounds = 5;
    constexpr int perRound = 400;
    double channel = 0;
    double bare = 0;
    for (int round = 0; round < rounds; ++round) {
        if (!openChannel(device))
            return std::printf("P1: cannot open %s\n", qPrintable(device)), 1;
        secondsPerChannelExchange(20); // warm-up
        channel += secondsPerChannelExchange(perRound);
        CloseCOMPort();
        BareTerminal terminal;
        if (!terminal.Open(device))
            return std::printf("P1: cannot open %s bare\n", qPrintable(device)), 1;
        secondsPerBareExchange(terminal, 20);
        bare += secondsPerBareExchange(terminal, perRound);
    }
    std::printf("P1 round trip: SerialTransaction %.1f us, bare %.1f us, ratio %.3f "
                "(target <= 1.2)\n",
                channel / rounds * 1e6, bare / rounds * 1e6, channel / bare);
    return 0;
}

int measureWaitingCpuShare(const QString& device) {
    if (!openChannel(device))
        return std::printf("P2: cannot open %s\n", qPrintable(device)), 1;
    QByteArray reply;
    SerialTransaction(COMPortHandle, "r", 0, reply);
    constexpr int exchanges = 40;
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < exchanges; ++i)
        SerialTransaction(COMPortHandle, "r", 0, reply);
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    const double share = (ProcessCpuSeconds() - cpuBefore) / wallSeconds;
    CloseCOMPort();
    std::printf("P2 waiting CPU: %.3f s CPU over %.3f s wall, share %.2f %% (target <= 2 %%)\n",
                ProcessCpuSeconds() - cpuBefore, wallSeconds, share * 100);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QProcess fast;
    QProcess slow;
    const QString fastDevice = startSimulator(fast, "bench-fast", {});
    const QString slowDevice = startSimulator(slow, "bench-slow", {"--delay", "50"});
    int failures = 0;
    if (fastDevice.isEmpty() || slowDevice.isEmpty()) {
        std::printf("The simulator did not start (%s)\n", Q714_SIM_PATH);
        failures = 1;
    } else {
        failures += measureRoundTripRatio(fastDevice);
        failures += measureWaitingCpuShare(slowDevice);
    }
    for (QProcess* sim : {&fast, &slow}) {
        sim->terminate();
        sim->waitForFinished(2000);
    }
    return failures;
}
