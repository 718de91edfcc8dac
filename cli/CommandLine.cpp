#include "CommandLine.h"

#include "Console.h"
#include "SystemIdentity.h"

#include <QCommandLineOption>
#include <cstdio>

namespace {

struct OptionEntry {
    const char* name;
    const char* valueName; // nullptr for a switch
    const char* description;
};

// Options every command takes.
const OptionEntry GlobalOptions[] = {
    {"port", "path",
     "The adapter's port: a /dev path, a /dev/serial/by-id link or a simulator's "
     "link or name. Several --port run on each at once."},
    {"all", nullptr, "Every adapter found, each at once."},
    {"expect-serial", "serial",
     "Touch nothing unless the adapter's or the encoder's serial number is this."},
    {"format", "format", "Output: text, json, jsonl or csv (text on a terminal, json otherwise)."},
    {"quiet", nullptr, "No log lines on standard error (problems still show)."},
    {"log-comms", nullptr, "Every adapter exchange (TX/RX lines) on standard error."},
    {"yes", nullptr, "Do what changes the encoder's stored settings without asking."},
    {"volt", "3.3|5", "Supply voltage when the encoder is switched on (default 5)."},
    {"child", nullptr, ""}, // one device of a parent q714 (not shown)
};

const OptionEntry CommandOptions[] = {
    {"count", "n", "Number of readings (read: default 1; record)."},
    {"follow", nullptr, "Read until Ctrl+C."},
    {"interval", "ms", "Pause between readings (default 0)."},
    {"resolution", "nom/den", "Units per count (default 360/counts per turn: degrees)."},
    {"unit", "text", "Name of the unit (default deg)."},
    {"signal", nullptr, "Also read signal level, air gap and temperatures."},
    {"decoded", nullptr, "Read the adapter's decoded status (\"d\") instead of the raw frame."},
    {"clock", "1..8", "SPI clock setting: 1 = 94 kHz ... 5 = 1.5 MHz ... 8 = 12 MHz."},
    {"ncs-delay", "us", "Delay between chip select and the first clock, 1 to 900 us."},
    {"include-unit", nullptr, "Restore or verify the settings bound to one encoder too."},
    {"arc", "deg", "Partial arc of the self-calibration (default: the encoder's)."},
    {"timeout", "s", "Time-out of the self-calibration (default: the encoder's)."},
    {"clear-persistent", nullptr, "Clear the persistent status."},
    {"reset-margin", nullptr, "Reset the decoding safety margin PER."},
    {"write-access", nullptr, "Read the write-access status register."},
    {"csv", "file", "Write the error map as CSV."},
    {"png", "file", "Write the error map's chart as PNG."},
    {"samples", "n", "Readings of the noise measurement (default 5000)."},
    {"cycles", "n", "Power cycles (default 10)."},
    {"min", "ms", "Shortest phase (default 150)."},
    {"max", "ms", "Longest phase (default 400)."},
    {"stationary", nullptr, "The shaft rests: any change of more than 2 units is a jump."},
    {"debug", "file", "Record every reading with the encoder's debug record to this CSV file."},
    {"seconds", "s", "Record for this long."},
    {"station", "id", "run: the station's name (default: the host name); records: only its."},
    {"operator", "name", "The operator of the run (default: the login name)."},
    {"dut-id", "id", "The operator's own name for the device under test."},
    {"unattended", nullptr, "Nobody is there: an operator prompt is an error."},
    {"db", "url",
     "The record store: sqlite:PATH or postgresql://user@host:port/db (default: "
     "$Q714_DB, else SQLite in the user's data folder)."},
    {"records", "folder", "Where the records' JSON files go (default: the user's data folder)."},
    {"serial", "serial", "Only the records of this encoder."},
    {"outcome", "outcome", "Only the records with this outcome (PASS, FAIL, ERROR, ABORTED)."},
    {"since", "date", "Only the records of runs started since (2026-12-10, or a UTC time)."},
    {"limit", "n", "At most this many records, newest first."},
};

const QList<CommandEntry> CommandTable = {
    {"scan",
     "",
     "The adapters found (port, serial, identity, firmware); powers nothing.",
     {},
     false,
     false,
     "adapters",
     false},
    {"info", "", "Power the encoder when needed, connect, and show its identity.", {}, false, true},
    {"power", "on|off", "Switch the encoder's supply on or off.", {}, true, false},
    {"spi", "", "Set the SPI clock and the NCS-SCK delay.", {"clock", "ncs-delay"}, true, false},
    {"read",
     "",
     "Read the position and status, once or repeatedly.",
     {"count", "follow", "interval", "resolution", "unit", "signal", "decoded"},
     false,
     true,
     "readings"},
    {"config",
     "get|set KEY=VALUE...|dump [FILE]|restore FILE|verify FILE",
     "The encoder's settings (position_offset, position_filter, multiturn_error_arc).",
     {"include-unit"},
     true,
     true},
    {"zero",
     "",
     "Make the current position the zero, store it, preset the turns to 0.",
     {},
     true,
     true},
    {"preset-mt", "N", "Preset the turn count to N.", {}, true, true},
    {"store", "", "Store the settings in the encoder's NVRAM.", {}, true, true},
    {"factory-reset", "", "Restore the encoder's factory settings.", {}, true, true},
    {"calibrate", "", "Run the encoder's self-calibration.", {"arc", "timeout"}, true, true},
    {"diag",
     "",
     "The diagnostics counters; with options, the diagnostics actions.",
     {"clear-persistent", "reset-margin", "write-access"},
     false,
     true},
    {"errormap",
     "",
     "Read the error map (512 corrections).",
     {"csv", "png"},
     false,
     true,
     "corrections"},
    {"noise", "", "Position noise of a resting shaft.", {"samples"}, false, true},
    {"power-cycle",
     "",
     "Switch the supply off and on, checking every power-up for a position jump.",
     {"cycles", "min", "max", "stationary"},
     true,
     true,
     "jumps_found"},
    {"record",
     "",
     "Record readings with the debug record to a CSV file.",
     {"debug", "count", "seconds"},
     false,
     true},
    {"run",
     "PLAN.toml",
     "Run a test plan on the device and keep its record (a file and the record store).",
     {"station", "operator", "dut-id", "unattended", "db", "records"},
     true,
     false,
     "steps"},
    {"plan",
     "check PLAN.toml",
     "Check a test plan without a device; every mistake is named with its line.",
     {},
     false,
     false,
     nullptr,
     false},
    {"records",
     "list|show ID|export|sync",
     "The stored records: list and show them, export them (--format csv, json or junit), "
     "send the outbox.",
     {"db", "serial", "station", "outcome", "since", "limit"},
     false,
     false,
     "records",
     false},
};

void addOptions(QCommandLineParser& parser) {
    for (const OptionEntry& o : GlobalOptions) {
        QCommandLineOption option(QString::fromLatin1(o.name), QString::fromUtf8(o.description));
        if (o.valueName)
            option.setValueName(QString::fromLatin1(o.valueName));
        if (QLatin1String(o.name) == QLatin1String("child"))
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const OptionEntry& o : CommandOptions) {
        QCommandLineOption option(QString::fromLatin1(o.name), QString::fromUtf8(o.description));
        if (o.valueName)
            option.setValueName(QString::fromLatin1(o.valueName));
        parser.addOption(option);
    }
    parser.addOption({{"h", "help"}, "Show this help, or a command's with the command."});
    parser.addOption({{"v", "version"}, "Show the version."});
}

const OptionEntry* optionEntry(const QString& name) {
    for (const OptionEntry& o : GlobalOptions)
        if (name == QLatin1String(o.name))
            return &o;
    for (const OptionEntry& o : CommandOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

QString optionLine(const OptionEntry& o) {
    QString left = QStringLiteral("  --") + QLatin1String(o.name);
    if (o.valueName)
        left += QLatin1Char(' ') + QLatin1String(o.valueName);
    return left.leftJustified(26) + QString::fromUtf8(o.description);
}

void print(const QString& text) {
    std::fputs(qPrintable(text), stdout);
}

void printGeneralHelp() {
    QString help = QStringLiteral(
        "Usage: q714 [options] <command> [arguments]\n\n"
        "Tests and configures Ulvax encoders behind Q714-7R adapters, for scripts and\n"
        "production lines: one command per workflow, several adapters at once, JSON out\n"
        "and fixed exit statuses (0 done, 1 a check failed, 2 usage, 3 adapter or link,\n"
        "4 encoder refused or silent, 5 file, 130 interrupted). See q714(1) and\n"
        "/usr/share/doc/q714-7r-dravonel-spi/cli.md.\n\nCommands:\n");
    for (const CommandEntry& c : CommandTable)
        help += (QStringLiteral("  ") + QLatin1String(c.name)).leftJustified(18) +
                QString::fromUtf8(c.summary) + QLatin1Char('\n');
    help += QStringLiteral("\nOptions of every command:\n");
    for (const OptionEntry& o : GlobalOptions)
        if (*o.description)
            help += optionLine(o) + QLatin1Char('\n');
    help += QStringLiteral("  --help                  This help; q714 <command> --help a "
                           "command's.\n  --version               The version.\n");
    print(help);
}

void printCommandHelp(const CommandEntry& c) {
    QString help = QStringLiteral("Usage: q714 [options] ") + QLatin1String(c.name);
    if (*c.arguments)
        help += QLatin1Char(' ') + QLatin1String(c.arguments);
    help += QStringLiteral("\n\n") + QString::fromUtf8(c.summary) + QStringLiteral("\n");
    if (!c.options.isEmpty()) {
        help += QStringLiteral("\nOptions:\n");
        for (const QString& name : c.options)
            help += optionLine(*optionEntry(name)) + QLatin1Char('\n');
    }
    help += QStringLiteral("\nThe options of every command: q714 --help\n");
    print(help);
}

int usageError(const QString& message) {
    std::fprintf(stderr, "q714: %s\nTry q714 --help.\n", qPrintable(message));
    return 2;
}

// The command's own options only, besides the global ones.
bool optionsFit(const CommandEntry& command, const QCommandLineParser& parser, QString& wrong) {
    for (const OptionEntry& o : CommandOptions) {
        if (parser.isSet(QLatin1String(o.name)) &&
            !command.options.contains(QLatin1String(o.name))) {
            wrong = QLatin1String(o.name);
            return false;
        }
    }
    return true;
}

} // namespace

const QList<CommandEntry>& Commands() {
    return CommandTable;
}

const CommandEntry* FindCommand(const QString& name) {
    for (const CommandEntry& c : CommandTable)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

int ParseCommandLine(const QStringList& arguments, QCommandLineParser& parser,
                     CliRequest& request) {
    addOptions(parser);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("version"))) {
        print(QStringLiteral("q714 ") + OwnVersionText() + QLatin1Char('\n'));
        return 0;
    }
    const QString name = positional.value(0);
    const CommandEntry* command =
        FindCommand(name == QLatin1String("help") ? positional.value(1) : name);
    if (parser.isSet(QStringLiteral("help")) || name.isEmpty() || name == QLatin1String("help")) {
        if (command)
            printCommandHelp(*command);
        else
            printGeneralHelp();
        return name.isEmpty() && !parser.isSet(QStringLiteral("help")) ? 2 : 0;
    }
    if (!command)
        return usageError(QStringLiteral("unknown command \"%1\"").arg(name));
    QString wrong;
    if (!optionsFit(*command, parser, wrong))
        return usageError(QStringLiteral("%1 takes no --%2").arg(name, wrong));
    request.command = command;
    request.arguments = positional.mid(1);
    request.ports = parser.values(QStringLiteral("port"));
    request.allAdapters = parser.isSet(QStringLiteral("all"));
    request.expectSerial = parser.value(QStringLiteral("expect-serial"));
    request.quiet = parser.isSet(QStringLiteral("quiet"));
    request.logComms = parser.isSet(QStringLiteral("log-comms"));
    request.yes = parser.isSet(QStringLiteral("yes"));
    request.child = parser.isSet(QStringLiteral("child"));
    request.parser = &parser;
    request.format = StdoutIsTerminal() ? OutputFormat::Text : OutputFormat::Json;
    const QString format = parser.value(QStringLiteral("format"));
    request.junit = name == QLatin1String("records") && format == QLatin1String("junit");
    if (parser.isSet(QStringLiteral("format")) && !request.junit &&
        !ParseOutputFormat(format, request.format))
        return usageError(QStringLiteral("--format is text, json, jsonl or csv"));
    if (request.allAdapters && !request.ports.isEmpty())
        return usageError(QStringLiteral("--all and --port exclude each other"));
    return -1;
}
