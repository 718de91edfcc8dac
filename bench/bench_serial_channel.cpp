// Serial channel benchmarks against the q714-sim executable (a separate
// process, so only the tool's own work is measured):
//   P1: SerialTransaction round trip / bare write-then-read round trip, the
//       two interleaved one by one on the same open port with the same
//       reply; ratio of the medians (target <= 1.2).
//   P2: CPU time of this process while SerialTransaction waits for a reply
//       delayed by 50 ms, as a share of wall time (target <= 2 %).
#include "BareTerminal.h"
#include "Serial_driver.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

bool openChannel(const QString& device) {
    COMPortHandle = OpenSerialPort(device);
    return COMPortHandle && COMPortHandle->setBaudRate(115200);
}

template <typename Exchange> double secondsOf(Exchange&& exchange) {
    QElapsedTimer clock;
    clock.start();
    exchange();
    return clock.nsecsElapsed() / 1e9;
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

int measureRoundTripRatio(const QString& device) {
    constexpr int exchanges = 4000;
    if (!openChannel(device))
        return std::printf("P1: cannot open %s\n", qPrintable(device)), 1;
    BareTerminal bare;
    bare.Attach(int(COMPortHandle->handle()));
    QByteArray reply;
    const auto channelExchange = [&] { SerialTransaction(COMPortHandle, "r", 0, reply); };
    const auto bareExchange = [&] { bare.Exchange("r", reply); };
    std::vector<double> channel;
    std::vector<double> plain;
    for (int i = 0; i < exchanges + 100; ++i) {
        const double c = secondsOf(channelExchange);
        const double p = secondsOf(bareExchange);
        if (i >= 100) { // the first ones warm up
            channel.push_back(c);
            plain.push_back(p);
        }
    }
    CloseCOMPort();
    const double c = median(channel);
    const double p = median(plain);
    std::printf("P1 round trip (medians of %d interleaved): SerialTransaction %.1f us, bare "
                "%.1f us, ratio %.3f (target <= 1.2)\n",
                exchanges, c * 1e6, p * 1e6, c / p);
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
    SimProcess fast;
    SimProcess slow;
    const QString fastDevice = fast.Start(QStringLiteral("bench-fast"));
    const QString slowDevice = slow.Start(QStringLiteral("bench-slow"), {"--delay", "50"});
    if (fastDevice.isEmpty() || slowDevice.isEmpty())
        return std::printf("The simulator did not start\n"), 1;
    return measureRoundTripRatio(fastDevice) + measureWaitingCpuShare(slowDevice);
}
