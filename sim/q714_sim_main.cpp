// q714-sim: serves a simulated Q714-7R adapter with an encoder behind it on a
// pseudo-terminal and announces it to the tool, until SIGINT or SIGTERM.
#include "Announcement.h"
#include "Orodja.h"
#include "ProgramOptions.h"
#include "PtySimulator.h"
#include "SimulatedAdapter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* Description =
    R"(Simulated Q714-7R USB interface adapter with one Ulvax encoder behind it.

Opens a pseudo-terminal, announces it as a symbolic link in the runtime folder
($XDG_RUNTIME_DIR/q714-7r/, or /tmp/q714-7r-<uid>/ without that variable),
where the tool finds it like a USB serial adapter, and answers the adapter's
commands until Ctrl+C (SIGINT) or SIGTERM; then the link is removed. Start
several simulators to offer several adapters (each needs its own --name).

Like the real adapter it starts with the encoder supply off: "n" switches it
on (the tool's ON button does that). While the supply is off the adapter
still answers its own commands (v r o V5 V3 n f e M1..M8 m D001..D900 Ce Cr
G0:1), "x" still confirms the reset, the encoder commands "j", "R:", "W:" and
"d" answer "ERROR: encoder supply is off", and raw SPI frames ("?07:000")
come back as all zeros, because an unpowered encoder leaves its data line low.
Switched on again, the encoder reports its position as before (absolute, the
turns kept); --power-jump-every injects a fault there.

Positions are in counts: turns x 2^(single-turn bits) + single-turn count.
The encoder model fixes the type, register map, resolution, firmware and
which optional registers exist; see --list-models.)";

const ProgramOption Options[] = {
    {"model", "Encoder model behind the adapter, by name (see --list-models).", "name", "t2-mt17"},
    {"list-models", "Print the catalogue of encoder models, one per line, and exit.", nullptr,
     nullptr},
    {"identity", "Adapter identity, the reply to \"v\".", "text", "Q714-7R v1.12"},
    {"serial", "Adapter serial number, the reply to \"r\".", "text", "Q7R00417"},
    {"revision", "Adapter firmware revision, the reply to \"o\".", "n", "57"},
    {"name", "Name of the link in the runtime folder (default q714-sim-<pid>).", "linkname",
     nullptr},
    {"no-announce", "Do not create the link; connect to the printed device path yourself.", nullptr,
     nullptr},
    {"power-on", "Start with the encoder supply already on.", nullptr, nullptr},
    {"delay",
     "Wait this long before every reply (a reply later than 400 ms is a time-out "
     "for the tool).",
     "ms", "0"},
    {"late-reply",
     "Every n-th reply comes this many milliseconds late, e.g. 100:600 (the replies "
     "after it queue behind it, as on a busy adapter).",
     "n:ms", nullptr},
    {"silent", "Read every command but never reply.", nullptr, nullptr},
    {"baud",
     "Every exchange takes as long as its bytes need on a real UART at this rate (10 bits a "
     "byte, the command and the reply), e.g. 115200; 0 answers at once.",
     "n", "0"},
    {"garbage", "Replace every reply by random bytes of the same length (a final CR stays).",
     nullptr, nullptr},
    {"split", "Send every reply in this many writes...", "n", "1"},
    {"split-gap", "...with this pause between them.", "ms", "0"},
    {"partial", "Send only the first n bytes of every reply (no CR: the tool times out).", "n",
     nullptr},
    {"speed",
     "Shaft speed in revolutions per minute; negative turns backwards, 0 stands "
     "still.",
     "rpm", "6"},
    {"counts-per-second", "Shaft speed in counts per second instead of --speed.", "counts",
     nullptr},
    {"noise",
     "Every reading deviates from the true position by up to this many counts, each "
     "whole deviation equally likely: a standard deviation of sqrt(n(n+1)/3), so the "
     "tool's position-noise measurement of a resting shaft (--speed 0) shows a 6 sigma "
     "of about 8.5 for 2, 15.5 for 4, 0 for 0.",
     "counts", "2"},
    {"position", "Position at start, in counts.", "counts", "0"},
    {"error",
     "The encoder reports an error: error bit low in the frames, status bit "
     "\"Error System\".",
     nullptr, nullptr},
    {"warning",
     "The encoder reports a warning: warning bit low in the frames, status bit "
     "\"Warning Temperature\".",
     nullptr, nullptr},
    {"status",
     "Further status bits in the encoder's own layout, hexadecimal (16 bits on U2 "
     "encoders, 32 on U4), e.g. 0303.",
     "hex", "0"},
    {"temperature",
     "Ambient temperature in degrees Celsius; the thermistor of types 3 to 5 "
     "reads about 1312 at 25, the sensor register shows 6 degrees more.",
     "celsius", "25"},
    {"signal",
     "Mean signal level; it varies by +-20 % over a turn, so the air gap traces a "
     "curve (default: per model).",
     "level", nullptr},
    {"cr-only",
     "The encoder's register protocol uses non-inverted CRC: register accesses "
     "fail with 0xe6/0xf9 until the tool sends \"Cr\".",
     nullptr, nullptr},
    {"selfcal-seconds",
     "How long a self-calibration runs; the encoder does not answer "
     "register accesses meanwhile.",
     "s", "3"},
    {"selfcal-outcome",
     "Outcome of every self-calibration run: auto (decided by the arc, 10 to 360 degrees, the "
     "encoder's error state and the time-out against --selfcal-seconds), success, "
     "no-correction, arc, timeout or error.",
     "outcome", "auto"},
    {"fail-read-at",
     "Every register read at this address (hexadecimal, e.g. 1A58 for point 300 of the "
     "error map of a U2 encoder) fails with the --read-fault reply.",
     "hex", nullptr},
    {"fail-read-after",
     "After this many register reads that go ahead (connecting makes 9 to 19), "
     "--failing-reads reads fail with the --read-fault reply.",
     "n", nullptr},
    {"failing-reads", "How many reads fail after --fail-read-after; 0: every later read.", "n",
     "1"},
    {"read-fault",
     "Reply of a failing read: crc (0xe6:), invalid (0x26:), range (0x56:), denied (0x96:), "
     "size (0xee:) or noresponse (\"ERROR: no response from encoder after 3 retries\").",
     "kind", "crc"},
    {"d-form",
     "Form of the \"d\" reply: auto (22 characters multi-turn, 15 single-turn), "
     "15, 22 or 17 (turns only).",
     "form", "auto"},
    {"power-jump-every",
     "Position fault for the tool's power-cycling test: every n-th time the supply "
     "comes on, the encoder comes back with its position moved by --power-jump-deg "
     "(and keeps it). 0 never.",
     "n", "0"},
    {"power-jump-deg", "Size of that jump in degrees of the shaft; negative jumps backwards.",
     "deg", "10"},
    {"nvram-forgets",
     "The NVRAM does not keep the setting register at this address (hexadecimal, e.g. 04 for "
     "the position filter of a U2 encoder): a save leaves its stored value as it was.",
     "hex", nullptr},
    {"debug-lock",
     "The debug record is locked at every power-on: its reads answer \"0xe6:\" until the debug "
     "unlock code is written to register 0x49 (the tool's Unlock, sent when a recording "
     "starts).",
     nullptr, nullptr},
    {"reply",
     "Answer this exact command with this text and CR instead, e.g. \"?07:000=ZZZZ\" for a "
     "position frame that is no frame. May be given several times.",
     "command=text", nullptr},
    {"verbose", "Print every command received.", nullptr, nullptr},
};

QString firmwareText(const EncoderProfile& p) {
    if (!p.firmwareRegisters)
        return QStringLiteral("none");
    return QStringLiteral("%1.%2.%3.%4").arg(p.fwMajor).arg(p.fwMinor).arg(p.fwComm).arg(p.fwSvn);
}

// One line of the catalogue, in columns under catalogueHeading().
QString modelLine(const EncoderProfile& p) {
    const QString resolution =
        QStringLiteral("%1-bit %2")
            .arg(p.stBits)
            .arg(p.multiturn ? QStringLiteral("multi-turn") : QStringLiteral("single-turn"));
    return QStringLiteral("%1 %2 %3 %4 %5 %6%7")
        .arg(p.name, -14)
        .arg(p.type, -4)
        .arg(p.map == RegisterMapKind::U2 ? QStringLiteral("U2") : QStringLiteral("U4"), -3)
        .arg(resolution, -18)
        .arg(firmwareText(p), -17)
        .arg(p.summary)
        .arg(p.name == DefaultEncoderModelName() ? QStringLiteral(" (default)") : QString());
}

QString catalogueHeading() {
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(QStringLiteral("name"), -14)
        .arg(QStringLiteral("type"), -4)
        .arg(QStringLiteral("map"), -3)
        .arg(QStringLiteral("resolution"), -18)
        .arg(QStringLiteral("firmware"), -17)
        .arg(QStringLiteral("shows"));
}

void listModels() {
    PrintLine(catalogueHeading());
    for (const EncoderProfile& profile : EncoderCatalogue())
        PrintLine(modelLine(profile));
}

bool numberOption(const QCommandLineParser& parser, const char* name, double& value) {
    bool ok = false;
    value = parser.value(QString::fromLatin1(name)).toDouble(&ok);
    if (!ok)
        PrintLine(QStringLiteral("q714-sim: --%1 needs a number").arg(QLatin1String(name)));
    return ok;
}

// Looks `text` up among `names`; the value at the same place, or nothing.
template <typename T>
std::optional<T> choice(const QString& text, const QStringList& names, const QList<T>& values) {
    const qsizetype index = names.indexOf(text);
    if (index < 0)
        return std::nullopt;
    return values[index];
}

std::optional<SelfCalOutcome> selfCalOutcome(const QCommandLineParser& parser) {
    const auto outcome = choice<SelfCalOutcome>(
        parser.value("selfcal-outcome"),
        {"auto", "success", "no-correction", "arc", "timeout", "error"},
        {SelfCalOutcome::Auto, SelfCalOutcome::Success, SelfCalOutcome::NoCorrection,
         SelfCalOutcome::ArcOutOfRange, SelfCalOutcome::Timeout, SelfCalOutcome::EncoderError});
    if (!outcome)
        PrintLine(QStringLiteral(
            "q714-sim: --selfcal-outcome is auto, success, no-correction, arc, timeout or error"));
    return outcome;
}

// The read faults of --fail-read-at and --fail-read-after.
bool configureReadFaults(const QCommandLineParser& parser, SimulatedEncoder& encoder) {
    const auto fault = choice<RegisterFault>(
        parser.value("read-fault"), {"crc", "invalid", "range", "denied", "size", "noresponse"},
        {RegisterFault::ReadCrc, RegisterFault::InvalidAddress, RegisterFault::OutOfRange,
         RegisterFault::AccessDenied, RegisterFault::WrongSize, RegisterFault::NoResponse});
    if (!fault) {
        PrintLine(QStringLiteral(
            "q714-sim: --read-fault is crc, invalid, range, denied, size or noresponse"));
        return false;
    }
    bool ok = true;
    if (parser.isSet("fail-read-at")) {
        const quint32 address = parser.value("fail-read-at").toUInt(&ok, 16);
        if (!ok) {
            PrintLine(QStringLiteral("q714-sim: --fail-read-at needs a hexadecimal address"));
            return false;
        }
        encoder.ReadFaults().FailAt(address, *fault);
    }
    if (parser.isSet("fail-read-after")) {
        bool failuresOk = false;
        const int goodReads = parser.value("fail-read-after").toInt(&ok);
        const int failures = parser.value("failing-reads").toInt(&failuresOk);
        if (!ok || !failuresOk || goodReads < 0 || failures < 0) {
            PrintLine(QStringLiteral(
                "q714-sim: --fail-read-after and --failing-reads need numbers of 0 or more"));
            return false;
        }
        encoder.ReadFaults().FailAfter(goodReads, *fault, failures);
    }
    return true;
}

bool configurePowerOnJump(const QCommandLineParser& parser, SimulatedAdapter& adapter) {
    double every = 0, degrees = 0;
    if (!numberOption(parser, "power-jump-every", every) ||
        !numberOption(parser, "power-jump-deg", degrees))
        return false;
    adapter.WithEncoder([&](SimulatedEncoder& e) {
        const auto counts = static_cast<qint64>(std::llround(degrees / 360 * e.CountsPerTurn()));
        e.SetPowerOnJump(static_cast<int>(every), counts);
    });
    return true;
}

bool configureEncoder(const QCommandLineParser& parser, SimulatedAdapter& adapter) {
    EncoderProfile profile = *FindEncoderProfile(parser.value("model"));
    if (parser.isSet("cr-only"))
        profile.registerCrc = RegisterCrc::NonInverted;
    double speed = 0, noise = 0, position = 0, temperature = 0, selfCal = 0, signal = 0;
    if (!numberOption(parser, "speed", speed) || !numberOption(parser, "noise", noise) ||
        !numberOption(parser, "position", position) ||
        !numberOption(parser, "temperature", temperature) ||
        !numberOption(parser, "selfcal-seconds", selfCal))
        return false;
    if (parser.isSet("signal") && !numberOption(parser, "signal", signal))
        return false;
    bool statusOk = false;
    const quint32 status = parser.value("status").toUInt(&statusOk, 16);
    if (!statusOk) {
        PrintLine(QStringLiteral("q714-sim: --status needs hexadecimal bits"));
        return false;
    }
    const std::optional<SelfCalOutcome> outcome = selfCalOutcome(parser);
    if (!outcome)
        return false;
    adapter.SetEncoderProfile(profile);
    if (!adapter.WithEncoder([&](SimulatedEncoder& e) { return configureReadFaults(parser, e); }))
        return false;
    adapter.WithEncoder([&](SimulatedEncoder& e) {
        e.SetPositionCounts(static_cast<qint64>(position));
        e.SetSpeedRpm(speed);
        e.SetNoiseCounts(static_cast<int>(noise));
        e.SetAmbientTemperature(temperature);
        e.SetSelfCalDurationMs(static_cast<int>(selfCal * 1000));
        e.SetSelfCalOutcome(*outcome);
        e.SetErrorActive(parser.isSet("error"));
        e.SetWarningActive(parser.isSet("warning"));
        e.SetStatusBits(status);
        e.SetDebugLock(parser.isSet("debug-lock"));
        if (parser.isSet("nvram-forgets"))
            e.NvramForgets(parser.value("nvram-forgets").toUInt(nullptr, 16));
        if (parser.isSet("signal"))
            e.SetSignalLevelBase(static_cast<int>(signal));
    });
    if (!configurePowerOnJump(parser, adapter))
        return false;
    if (parser.isSet("counts-per-second")) {
        double countsPerSecond = 0;
        if (!numberOption(parser, "counts-per-second", countsPerSecond))
            return false;
        adapter.WithEncoder(
            [&](SimulatedEncoder& e) { e.SetSpeedCountsPerSecond(countsPerSecond); });
    }
    return true;
}

bool configureAdapter(const QCommandLineParser& parser, SimulatedAdapter& adapter) {
    AdapterSettings settings;
    settings.identity = parser.value("identity").toLatin1();
    settings.serialNumber = parser.value("serial").toLatin1();
    settings.revision = parser.value("revision").toInt();
    adapter.SetSettings(settings);
    const QString form = parser.value("d-form");
    const QStringList forms = {"auto", "15", "22", "17"};
    if (!forms.contains(form)) {
        PrintLine(QStringLiteral("q714-sim: --d-form is auto, 15, 22 or 17"));
        return false;
    }
    const StatusReplyForm replyForms[] = {StatusReplyForm::Auto, StatusReplyForm::Singleturn15,
                                          StatusReplyForm::Multiturn22,
                                          StatusReplyForm::TurnsOnly17};
    adapter.SetStatusReplyForm(replyForms[forms.indexOf(form)]);
    for (const QString& reply : parser.values("reply")) {
        const qsizetype equals = reply.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            PrintLine(QStringLiteral("q714-sim: --reply takes command=text, e.g. ?07:000=ZZZZ"));
            return false;
        }
        adapter.OverrideReply(reply.left(equals).toLatin1(),
                              reply.mid(equals + 1).toLatin1() + '\r');
    }
    if (!configureEncoder(parser, adapter))
        return false;
    adapter.SetSupplyOn(parser.isSet("power-on"));
    return true;
}

FaultSettings faultsFrom(const QCommandLineParser& parser) {
    FaultSettings faults;
    faults.replyDelayMs = parser.value("delay").toInt();
    faults.silent = parser.isSet("silent");
    faults.baudRate = qMax(0, parser.value("baud").toInt());
    faults.garbage = parser.isSet("garbage");
    faults.splitParts = qMax(1, parser.value("split").toInt());
    faults.splitGapMs = parser.value("split-gap").toInt();
    if (parser.isSet("partial"))
        faults.partialBytes = qMax(0, parser.value("partial").toInt());
    const QStringList late = parser.value("late-reply").split(QLatin1Char(':'));
    if (late.size() == 2) {
        faults.lateReplyEvery = late[0].toInt();
        faults.lateReplyMs = late[1].toInt();
    }
    return faults;
}

// SIGINT and SIGTERM end the event loop: the handler only writes a byte into
// a socket pair, which the loop watches.
int signalSockets[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalSockets[0], &byte, 1);
}

bool quitOnTerminationSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

void describe(const SimulatedAdapter& adapter, const PtySimulator& server,
              const Announcement& announcement) {
    const EncoderProfile profile = adapter.EncoderProfileInUse();
    PrintLine(
        QStringLiteral("q714-sim: encoder %1 (type %2, %3-bit %4, firmware %5) behind %6")
            .arg(profile.name)
            .arg(profile.type)
            .arg(profile.stBits)
            .arg(profile.multiturn ? QStringLiteral("multi-turn") : QStringLiteral("single-turn"))
            .arg(firmwareText(profile), QString::fromLatin1(adapter.Settings().identity)));
    PrintLine(QStringLiteral("  supply: %1")
                  .arg(adapter.SupplyOn() ? "on" : "off (\"n\" switches it on)"));
    PrintLine(QStringLiteral("  device: %1").arg(server.DevicePath()));
    if (!announcement.LinkPath().isEmpty())
        PrintLine(QStringLiteral("  link:   %1").arg(announcement.LinkPath()));
    PrintLine(QStringLiteral("Serving until Ctrl+C."));
}

// Empties the list of received commands, printing them with --verbose.
void takeCommands(SimulatedAdapter& adapter, bool verbose) {
    const QList<QByteArray> commands = adapter.TakeReceivedCommands();
    if (verbose)
        for (const QByteArray& command : commands)
            PrintLine(QStringLiteral("< %1").arg(QString::fromLatin1(KeepPrintable(command))));
}

void watchCommands(QCoreApplication& app, SimulatedAdapter& adapter, bool verbose) {
    auto* timer = new QTimer(&app);
    QObject::connect(timer, &QTimer::timeout, &app,
                     [&adapter, verbose] { takeCommands(adapter, verbose); });
    timer->start(100);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q714-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q714_SIM_VERSION));
    QCommandLineParser parser;
    AddProgramOptions(parser, Description, Options);
    parser.process(app);
    if (parser.isSet("list-models")) {
        listModels();
        return 0;
    }
    if (!FindEncoderProfile(parser.value("model"))) {
        PrintLine(QStringLiteral("q714-sim: unknown model \"%1\"; see --list-models")
                      .arg(parser.value("model")));
        return 2;
    }
    SimulatedAdapter adapter;
    if (!configureAdapter(parser, adapter))
        return 2;
    const FaultSettings faults = faultsFrom(parser);
    if (parser.isSet("late-reply") && (faults.lateReplyEvery <= 0 || faults.lateReplyMs <= 0)) {
        PrintLine(QStringLiteral("q714-sim: --late-reply takes n:ms, two positive numbers"));
        return 2;
    }
    PtySimulator server(adapter);
    server.SetFaults(faults);
    if (!server.Open() || !server.Start()) {
        PrintLine(QStringLiteral("q714-sim: %1").arg(server.ErrorText()));
        return 1;
    }
    Announcement announcement;
    const QString name =
        parser.isSet("name") ? parser.value("name") : QStringLiteral("q714-sim-%1").arg(getpid());
    if (!parser.isSet("no-announce") && !announcement.Announce(server.DevicePath(), name)) {
        PrintLine(QStringLiteral("q714-sim: cannot announce \"%1\" in %2 (name taken, or the "
                                 "folder is not yours alone?)")
                      .arg(name, SimulatedAdapterFolder()));
        return 1;
    }
    if (!quitOnTerminationSignals(app))
        PrintLine(QStringLiteral("q714-sim: cannot watch SIGINT/SIGTERM; stop it with SIGKILL "
                                 "and remove the link yourself"));
    watchCommands(app, adapter, parser.isSet("verbose"));
    describe(adapter, server, announcement);
    const int result = app.exec();
    server.Stop();
    takeCommands(adapter, parser.isSet("verbose"));
    announcement.Withdraw();
    PrintLine(QStringLiteral("q714-sim: stopped, link removed."));
    return result;
}
