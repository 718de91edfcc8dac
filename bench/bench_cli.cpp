// q714 benchmarks against q714-sim processes, each phase the whole q714
// process from start to exit, as a script gets it:
//   C1: `q714 read --count 20000` against a bare program's write-then-read
//       loop doing the same exchanges (the connection's and the readings') on
//       the same simulator, alternating whole phases; readings per second,
//       q714 / bare (target >= 0.95).
//   C2: with --baud 115200 on the simulators, one adapter's readings against
//       the wire limit of the bytes exchanged (target >= 0.95), and four
//       adapters at once (`--port` four times) against one
//       (target >= 3.6 times).
//   C3: `q714 info` against a bare Qt program that opens the port and does
//       the same exchanges, both as whole processes, medians of alternating
//       launches (target <= 1.3).
//   memory: `q714 read --follow` for some minutes, its resident memory
//       sampled every 10 s (target: flat).
//
//   build/bench/bench_cli [c1|c2|c3|memory MINUTES] [rounds]
#include "BareTerminal.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QByteArray FrameCommand = "?07:000"; // the raw frame of the default model
constexpr int Baud = 115200;

struct Exchange {
    QByteArray command;
    int replyBytes = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QByteArray unescaped(QByteArray text) {
    return text.replace("\\r", "\r");
}

// Runs q714 with `arguments`; its seconds from start to exit, -1 on failure.
double runQ714(const QStringList& arguments, QByteArray* errors = nullptr) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!errors)
        process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(Q714_CLI_PATH), arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::printf("q714 %s failed: %s\n", qPrintable(arguments.join(' ')),
                    process.readAllStandardError().constData());
        return -1;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (errors)
        *errors = process.readAllStandardError();
    return seconds;
}

// The exchanges q714 does for `command` (without its readings), as its
// --log-comms shows them.
std::vector<Exchange> exchangesOf(const QString& port, const QStringList& command) {
    QByteArray log;
    if (runQ714(QStringList{"--port", port, "--quiet", "--log-comms"} + command, &log) < 0)
        return {};
    std::vector<Exchange> exchanges;
    for (const QByteArray& line : log.split('\n')) {
        if (line.startsWith("TX:"))
            exchanges.push_back({unescaped(line.mid(3)), 0});
        else if (line.startsWith("RX:") && !exchanges.empty())
            exchanges.back().replyBytes = int(unescaped(line.mid(3)).size());
    }
    return exchanges;
}

// The bare program: this benchmark run again with --bare-exchanges DEVICE
// COMMAND..., where "N*COMMAND" is the command N times. It opens the port
// with QSerialPort, as q714 does, and then only writes and reads.
int bareExchanges(const QStringList& arguments) {
    QSerialPort port(arguments.value(0));
    if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(Baud))
        return 1;
    BareTerminal terminal;
    terminal.Attach(int(port.handle()));
    QByteArray reply;
    for (const QString& argument : arguments.mid(1)) {
        const qsizetype star = argument.indexOf(QLatin1Char('*'));
        const int times = star > 0 ? argument.left(star).toInt() : 1;
        const QByteArray command = argument.mid(star > 0 ? star + 1 : 0).toLatin1();
        for (int i = 0; i < times; ++i)
            if (!terminal.Exchange(command, reply))
                return 1;
    }
    return 0;
}

// The bare program doing `exchanges`, then `readings` frame reads; its
// seconds from start to exit, -1 on failure.
double runBare(const QString& device, const std::vector<Exchange>& exchanges, int readings = 0) {
    QStringList arguments{"--bare-exchanges", device};
    for (const Exchange& exchange : exchanges)
        arguments << QString::fromLatin1(exchange.command);
    if (readings > 0)
        arguments << QStringLiteral("%1*%2").arg(readings).arg(QLatin1String(FrameCommand));
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return clock.nsecsElapsed() / 1e9;
}

bool powerOn(const QString& device) {
    return runQ714({"--port", device, "--quiet", "power", "on"}) >= 0;
}

int c1(int rounds) {
    constexpr int readings = 20000;
    SimProcess sim;
    const QString device = sim.Start(QStringLiteral("bench-cli"));
    if (device.isEmpty() || !powerOn(device))
        return std::printf("C1: the simulator did not start\n"), 1;
    std::vector<Exchange> connection = exchangesOf(device, {"read", "--count", "1"});
    if (connection.empty())
        return 1;
    connection.pop_back(); // the reading
    const QStringList read = {"--port",   device,    "--quiet",
                              "read",     "--count", QString::number(readings),
                              "--format", "jsonl"};
    double q714Seconds = 0, bareSeconds = 0;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const double q = runQ714(read);
        const double b = runBare(device, connection, readings);
        if (q < 0 || b < 0)
            return std::printf("C1: a phase failed\n"), 1;
        q714Seconds += q;
        bareSeconds += b;
        ratios.push_back(b / q);
    }
    std::printf("C1 read --count %d, %d alternating rounds: q714 %.0f readings/s, bare %.0f/s, "
                "ratio %.3f (rounds %.3f to %.3f; target >= 0.95)\n",
                readings, rounds, rounds * readings / q714Seconds, rounds * readings / bareSeconds,
                bareSeconds / q714Seconds, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}

double wireSeconds(const std::vector<Exchange>& exchanges) {
    qint64 bytes = 0;
    for (const Exchange& exchange : exchanges)
        bytes += exchange.command.size() + exchange.replyBytes;
    return bytes * 10.0 / Baud;
}

int c2(int rounds) {
    constexpr int readings = 2000;
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList ports;
    for (int i = 0; i < 4; ++i) {
        sims.push_back(std::make_unique<SimProcess>());
        const QString device = sims.back()->Start(QStringLiteral("bench-cli-%1").arg(i),
                                                  {"--baud", QString::number(Baud)});
        if (device.isEmpty() || !powerOn(device))
            return std::printf("C2: a simulator did not start\n"), 1;
        ports << "--port" << device;
    }
    const QStringList read = {"--quiet",  "read", "--count", QString::number(readings),
                              "--format", "jsonl"};
    const std::vector<Exchange> whole =
        exchangesOf(ports[1], QStringList{"read", "--count", QString::number(readings)});
    const double wire = wireSeconds(whole);
    std::vector<Exchange> connection = whole;
    connection.resize(connection.size() - readings);
    std::vector<double> wireShares, bareShares, scalings;
    for (int round = 0; round < rounds; ++round) {
        const double one = runQ714(ports.mid(0, 2) + read);
        const double bare = runBare(ports[1], connection, readings);
        const double four = runQ714(ports + read);
        if (one < 0 || bare < 0 || four < 0)
            return std::printf("C2: a phase failed\n"), 1;
        wireShares.push_back(wire / one);
        bareShares.push_back(wire / bare);
        scalings.push_back(4 * one / four);
    }
    std::printf("C2 at %d baud, read --count %d, medians of %d rounds: one adapter %.3f of the "
                "wire limit (%.0f readings/s; target >= 0.95; the bare program %.3f); four "
                "adapters %.2f times one (target >= 3.6)\n",
                Baud, readings, rounds, median(wireShares), readings * median(wireShares) / wire,
                median(bareShares), median(scalings));
    return 0;
}

int c3(int rounds) {
    SimProcess sim;
    const QString device = sim.Start(QStringLiteral("bench-cli"));
    if (device.isEmpty() || !powerOn(device))
        return std::printf("C3: the simulator did not start\n"), 1;
    const std::vector<Exchange> exchanges = exchangesOf(device, {"info"});
    const QStringList info = {"--port", device, "--quiet", "info", "--format", "json"};
    std::vector<double> q714Times, bareTimes;
    for (int launch = 0; launch < rounds * 6 + 1; ++launch) {
        const double q = runQ714(info);
        const double b = runBare(device, exchanges);
        if (q < 0 || b < 0)
            return std::printf("C3: a launch failed\n"), 1;
        q714Times.push_back(q);
        bareTimes.push_back(b);
    }
    const double q = median(q714Times), b = median(bareTimes);
    std::printf("C3 info (%zu exchanges), medians of %zu alternating launches: q714 %.1f ms, bare "
                "%.1f ms, ratio %.2f (target <= 1.3)\n",
                exchanges.size(), q714Times.size(), q * 1e3, b * 1e3, q / b);
    return 0;
}

long residentKiB(qint64 pid) {
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * 4;
}

int memory(int minutes) {
    SimProcess sim;
    const QString device = sim.Start(QStringLiteral("bench-cli"));
    if (device.isEmpty() || !powerOn(device))
        return std::printf("memory: the simulator did not start\n"), 1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral(Q714_CLI_PATH),
                  {"--port", device, "--quiet", "read", "--follow", "--format", "jsonl"});
    if (!process.waitForStarted())
        return 1;
    long least = 0, most = 0, afterMinute = 0;
    for (int tenths = 1; tenths <= minutes * 6 && process.state() == QProcess::Running; ++tenths) {
        QThread::sleep(10);
        const long kib = residentKiB(process.processId());
        afterMinute = tenths == 6 ? kib : afterMinute;
        least = least == 0 ? kib : std::min(least, kib);
        most = std::max(most, kib);
    }
    const long last = residentKiB(process.processId());
    process.terminate();
    process.waitForFinished();
    std::printf("memory of read --follow over %d minute(s): %.1f MB after 1 minute, %.1f MB at "
                "the end, never outside %.1f to %.1f MB\n",
                minutes, afterMinute / 1024.0, last / 1024.0, least / 1024.0, most / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("--bare-exchanges"))
        return bareExchanges(arguments.mid(1));
    const QString which = arguments.value(0, QStringLiteral("all"));
    if (which == QLatin1String("memory"))
        return memory(qMax(1, arguments.value(1).toInt()));
    const int rounds = qMax(1, arguments.value(1, QStringLiteral("5")).toInt());
    int failures = 0;
    if (which == QLatin1String("all") || which == QLatin1String("c1"))
        failures += c1(rounds);
    if (which == QLatin1String("all") || which == QLatin1String("c2"))
        failures += c2(rounds);
    if (which == QLatin1String("all") || which == QLatin1String("c3"))
        failures += c3(rounds);
    return failures;
}
