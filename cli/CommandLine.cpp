#include "CommandLine.h"

#include "Console.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "SelfCalibration.h"
#include "SystemIdentity.h"

#include <QCommandLineOption>
#include <QRegularExpression>
#include <cstdio>

namespace {

struct OptionEntry {
    const char* name;
    const char* valueName; // nullptr for a switch
    const char* description;
    std::optional<NumberRange> number = std::nullopt; // a whole number within this range
    bool changesEncoder = false; // makes a command that only looks one that changes
};

// Options every command takes.
const OptionEntry GlobalOptions[] = {
    {"port", "path|serial",
     "The adapter's port: a /dev path, a /dev/serial/by-id link, a simulator's link or name, "
     "or the adapter's serial number. Several --port run on each at once."},
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
    {"count", "n", "Number of readings (read: default 1; record).", NumberRange{1, 1000000000}},
    {"follow", nullptr, "Read until Ctrl+C."},
    {"interval", "ms", "Pause between readings (default 0).", NumberRange{0, 3600000}},
    {"resolution", "nom/den", "Units per count (default 360/counts per turn: degrees)."},
    {"unit", "text", "Name of the unit (default deg; needs --resolution)."},
    {"signal", nullptr, "Also read signal level, air gap and temperatures."},
    {"decoded", nullptr, "Read the adapter's decoded status (\"d\") instead of the raw frame."},
    {"clock", "1..8", "SPI clock setting: 1 = 94 kHz ... 5 = 1.5 MHz (default) ... 8 = 12 MHz.",
     NumberRange{1, 8}},
    {"ncs-delay", "us", "Delay between chip select and the first clock, 1 to 900 us (default 15).",
     NumberRange{1, 900}},
    {"include-unit", nullptr, "Restore or verify the settings bound to one encoder too."},
    {"other-encoder", nullptr,
     "Restore or verify a settings file of another encoder type or register map, or one "
     "that does not say."},
    {"arc", "deg", "Partial arc of the self-calibration, 10 to 360 (default: the encoder's).",
     NumberRange{SelfCalArcMinDeg, SelfCalArcMaxDeg}},
    {"timeout", "s", "Time-out of the self-calibration, 1 to 40 (default: the encoder's).",
     NumberRange{SelfCalTimeoutMinS, SelfCalTimeoutMaxS}},
    {"clear-persistent", nullptr, "Clear the persistent status.", std::nullopt, true},
    {"reset-margin", nullptr, "Reset the decoding safety margin PER.", std::nullopt, true},
    {"write-access", nullptr, "Read the write-access status register.", std::nullopt, true},
    {"csv", "file", "Write the error map as CSV."},
    {"png", "file", "Write the error map's chart as PNG."},
    {"samples", "n", "Readings of the noise measurement (default 5000).", NumberRange{2, 10000000}},
    {"cycles", "n", "Power cycles (default 10).", NumberRange{1, 100000}},
    {"min", "ms", "Shortest phase (default 150).", NumberRange{10, 10000}},
    {"max", "ms", "Longest phase (default 400).", NumberRange{10, 10000}},
    {"stationary", nullptr, "The shaft rests: any change of more than 2 units is a jump."},
    {"debug", "file", "Record every reading with the encoder's debug record to this CSV file."},
    {"seconds", "s", "Record for this long.", NumberRange{1, 100000000}},
    {"station", "id", "run: the station's name (default: the host name); records: only its."},
    {"operator", "name", "The operator of the run (default: the login name)."},
    {"dut-id", "id", "The operator's own name for the device under test."},
    {"unattended", nullptr, "Nobody is there: an operator prompt is an error."},
    {"db", "url",
     "The record store: sqlite:PATH or postgresql://user@host:port/db (default: "
     "$Q714_DB, else SQLite in the user's data folder)."},
    {"records", "folder",
     "Where the records' JSON files go, and where records sync looks for them (default: the "
     "user's data folder)."},
    {"serial", "serial", "Only the records of this encoder."},
    {"outcome", "outcome", "Only the records with this outcome (PASS, FAIL, ERROR, ABORTED)."},
    {"since", "date", "Only the records of runs started since (2026-12-10, or a UTC time)."},
    {"limit", "n", "At most this many records, newest first."},
};

// The options of every command that connects the encoder: the SPI settings
// each connect sends.
const QStringList SpiOptions = {"clock", "ncs-delay"};

const QList<CommandEntry> CommandTable = {
    {"scan",
     "The adapters found (port, serial, identity, firmware); powers nothing.",
     {},
     {},
     false,
     false,
     "adapters",
     false},
    {"info",
     "Power the encoder when needed, connect, and show its identity.",
     {},
     SpiOptions,
     false,
     true},
    {"power",
     "Switch the encoder's supply on or off.",
     {{"on", "", 0, 0}, {"off", "", 0, 0}},
     {},
     true,
     false},
    {"spi",
     "Set the SPI clock and the NCS-SCK delay alone, without connecting.",
     {},
     SpiOptions,
     true,
     false},
    {"read",
     "Read the position and status, once or repeatedly.",
     {},
     QStringList{"count", "follow", "interval", "resolution", "unit", "signal", "decoded"} +
         SpiOptions,
     false,
     true,
     "readings"},
    {"config",
     "The encoder's settings (position_offset, position_filter, multiturn_error_arc).",
     {{"get", "", 0, 0},
      {"set", "KEY=VALUE...", 1, AnyNumber},
      {"dump", "[FILE]", 0, 1},
      {"restore", "FILE", 1, 1, std::nullopt, true},
      {"verify", "FILE", 1, 1}},
     QStringList{"include-unit", "other-encoder"} + SpiOptions,
     true,
     true},
    {"zero",
     "Make the current position the zero, store it, preset the turns to 0.",
     {{nullptr, "", 0, 0, std::nullopt, true}},
     SpiOptions,
     true,
     true},
    {"preset-mt",
     "Preset the turn count to N (-32768 to 65535).",
     {{nullptr, "N", 1, 1, NumberRange{-32768, 65535}, true}},
     SpiOptions,
     true,
     true},
    {"store",
     "Store the settings in the encoder's NVRAM.",
     {{nullptr, "", 0, 0, std::nullopt, true}},
     SpiOptions,
     true,
     true},
    {"factory-reset",
     "Restore the encoder's factory settings.",
     {{nullptr, "", 0, 0, std::nullopt, true}},
     SpiOptions,
     true,
     true},
    {"calibrate",
     "Run the encoder's self-calibration.",
     {},
     QStringList{"arc", "timeout"} + SpiOptions,
     true,
     true},
    {"diag",
     "The diagnostics counters; with options, the diagnostics actions.",
     {},
     QStringList{"clear-persistent", "reset-margin", "write-access"} + SpiOptions,
     false,
     true},
    {"errormap",
     "Read the error map (512 corrections).",
     {},
     QStringList{"csv", "png"} + SpiOptions,
     false,
     true,
     "corrections"},
    {"noise",
     "Position noise of a resting shaft.",
     {},
     QStringList{"samples"} + SpiOptions,
     false,
     true},
    {"power-cycle",
     "Switch the supply off and on, checking every power-up for a position jump.",
     {},
     QStringList{"cycles", "min", "max", "stationary"} + SpiOptions,
     true,
     true,
     "jumps_found"},
    {"record",
     "Record readings with the debug record to a CSV file.",
     {},
     QStringList{"debug", "count", "seconds"} + SpiOptions,
     false,
     true},
    {"run",
     "Run a test plan on the device and keep its record (a file and the record store).",
     {{nullptr, "PLAN.toml", 1, 1}},
     QStringList{"station", "operator", "dut-id", "unattended", "db", "records"} + SpiOptions,
     true,
     false,
     "steps"},
    {"plan",
     "Check a test plan without a device; every mistake is named with its line.",
     {{"check", "PLAN.toml", 1, 1}},
     {},
     false,
     false,
     nullptr,
     false},
    {"records",
     "The stored records: list and show them, export them (--format csv, json or junit), "
     "send the outbox, list or drop what waits in it; migrate makes or updates the store's "
     "tables (its owner, once).",
     {{"list", "", 0, 0},
      {"show", "ID", 1, 1},
      {"export", "", 0, 0},
      {"sync", "", 0, 0},
      {"outbox", "list|drop ID", 1, 2},
      {"migrate", "", 0, 0}},
     {"db", "serial", "station", "outcome", "since", "limit", "records"},
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
    const QString arguments = ArgumentsUsage(c);
    if (!arguments.isEmpty())
        help += QLatin1Char(' ') + arguments;
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
    Fail(ExitUsage, message);
    std::fputs("Try q714 --help.\n", stderr);
    return ExitUsage;
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

bool startsNegativeNumber(const QString& argument) {
    return argument.size() > 1 && argument[0] == QLatin1Char('-') && argument[1].isDigit();
}

// Whether `argument`, an option, takes the next argument as its value.
bool takesNextArgument(const QString& argument) {
    if (argument.contains(QLatin1Char('=')))
        return false;
    const OptionEntry* option = optionEntry(QString(argument).remove(QRegularExpression("^-+")));
    return option && option->valueName;
}

// QCommandLineParser takes "-5" for an option. Where an argument could
// stand (not as the value of an option that takes one), such a number is an
// argument: the arguments then go behind "--", in their order, the options
// before it.
QStringList withNegativeNumbersAsArguments(const QStringList& arguments) {
    QStringList options = arguments.mid(0, 1);
    QStringList positional;
    bool moved = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (startsNegativeNumber(argument)) {
            positional << argument;
            moved = true;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            options << argument;
            if (takesNextArgument(argument) && i + 1 < arguments.size())
                options << arguments[++i];
        } else {
            positional << argument;
        }
    }
    return moved ? options << QStringLiteral("--") << positional : arguments;
}

QString numberProblem(const QString& what, const NumberRange& range, const QString& text) {
    return QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
        .arg(what)
        .arg(range.lowest)
        .arg(range.highest)
        .arg(text);
}

// The arguments fit one of the command's forms: 0 and `form` set, or the
// exit status after the usage error.
int checkArguments(const CommandEntry& command, const QStringList& arguments,
                   const ArgumentForm*& form) {
    const QString name = QLatin1String(command.name);
    form = nullptr;
    if (command.forms.isEmpty()) {
        if (!arguments.isEmpty())
            return usageError(
                QStringLiteral("%1 takes no arguments, not \"%2\"").arg(name, arguments.first()));
        return -1;
    }
    const bool actions = command.forms.first().action != nullptr;
    for (const ArgumentForm& f : command.forms)
        if (!actions || arguments.value(0) == QLatin1String(f.action))
            form = &f;
    if (!form) {
        QStringList words;
        for (const ArgumentForm& f : command.forms)
            words << QLatin1String(f.action);
        const QString last = words.takeLast();
        QString message = QStringLiteral("%1 takes %2").arg(name, last);
        if (!words.isEmpty())
            message = QStringLiteral("%1 takes %2 or %3")
                          .arg(name, words.join(QStringLiteral(", ")), last);
        if (!arguments.isEmpty())
            message += QStringLiteral(", not \"%1\"").arg(arguments.first());
        return usageError(message);
    }
    const QStringList after = arguments.mid(actions ? 1 : 0);
    const QString usage =
        QStringLiteral("q714 %1 %2 %3")
            .arg(name, QLatin1String(actions ? form->action : ""), QLatin1String(form->usage))
            .simplified();
    if (after.size() < form->least || (form->most != AnyNumber && after.size() > form->most))
        return usageError(QStringLiteral("wrong number of arguments: %1").arg(usage));
    qint64 value = 0;
    for (const QString& argument : after)
        if (form->number && !ParseWholeNumber(argument, *form->number, value))
            return usageError(numberProblem(name, *form->number, argument));
    return -1;
}

// Every whole-number option given is one within its range.
int checkNumberOptions(const QCommandLineParser& parser) {
    qint64 value = 0;
    for (const OptionEntry& o : CommandOptions) {
        const QString name = QLatin1String(o.name);
        if (o.number && parser.isSet(name) &&
            !ParseWholeNumber(parser.value(name), *o.number, value))
            return usageError(
                numberProblem(QStringLiteral("--") + name, *o.number, parser.value(name)));
    }
    return -1;
}

// The options whose text goes into a run's record. A record store cannot
// keep a NUL character (PostgreSQL's text has none), so none may hold one.
const char* const RecordTextOptions[] = {"station", "operator", "dut-id"};

// The global options' values, and what one option needs of another.
int checkOptionValues(const CliRequest& request) {
    for (const char* option : RecordTextOptions)
        if (request.IsSet(option) && request.Value(option).contains(QChar(0)))
            return usageError(QStringLiteral("--%1 holds a NUL character (\\u0000), which a "
                                             "record store cannot keep")
                                  .arg(QLatin1String(option)));
    const QString volt = request.Value("volt");
    if (request.IsSet("volt") && volt != QLatin1String("3.3") && volt != QLatin1String("5"))
        return usageError(QStringLiteral("--volt takes 3.3 or 5, not \"%1\"").arg(volt));
    if (request.IsSet("expect-serial") && request.expectSerial.isEmpty())
        return usageError(QStringLiteral("--expect-serial needs a serial number"));
    if (request.IsSet("unit") && !request.IsSet("resolution"))
        return usageError(QStringLiteral("--unit names the unit of --resolution: give both"));
    return -1;
}

// A command that changes stored settings asks on a terminal; elsewhere it
// needs --yes, which is known before any device is touched.
int checkAnswerPossible(const CliRequest& request) {
    bool asks = request.form && request.form->asks;
    for (const OptionEntry& o : CommandOptions)
        asks = asks || (o.changesEncoder && request.IsSet(o.name));
    if (!asks || request.yes || StdinIsTerminal())
        return -1;
    return usageError(QStringLiteral("%1 changes the encoder and asks first, but standard input "
                                     "is not a terminal: --yes does it without asking")
                          .arg(QLatin1String(request.command->name)));
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

QString ArgumentsUsage(const CommandEntry& command) {
    QStringList forms;
    for (const ArgumentForm& f : command.forms)
        forms << QStringLiteral("%1 %2")
                     .arg(QLatin1String(f.action ? f.action : ""), QLatin1String(f.usage))
                     .trimmed();
    return forms.join(QLatin1Char('|'));
}

const NumberRange* OptionRange(const QString& option) {
    const OptionEntry* entry = optionEntry(option);
    return entry && entry->number ? &*entry->number : nullptr;
}

bool ParseWholeNumber(const QString& text, const NumberRange& range, qint64& value) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || !decimal.match(text).hasMatch() || number < range.lowest || number > range.highest)
        return false;
    value = number;
    return true;
}

bool CliRequest::ChangesDevice() const {
    if (command->changesDevice)
        return true;
    for (const OptionEntry& o : CommandOptions)
        if (o.changesEncoder && IsSet(o.name))
            return true;
    return false;
}

qint64 CliRequest::Number(const char* option, qint64 fallback) const {
    qint64 value = fallback;
    if (IsSet(option))
        ParseWholeNumber(Value(option), *OptionRange(QLatin1String(option)), value);
    return value;
}

int ParseCommandLine(const QStringList& arguments, QCommandLineParser& parser,
                     CliRequest& request) {
    addOptions(parser);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(withNegativeNumbersAsArguments(arguments)))
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
    request.formatChosen = true;
    if (request.allAdapters && !request.ports.isEmpty())
        return usageError(QStringLiteral("--all and --port exclude each other"));
    if (const int status = checkArguments(*command, request.arguments, request.form); status >= 0)
        return status;
    if (const int status = checkNumberOptions(parser); status >= 0)
        return status;
    if (const int status = checkOptionValues(request); status >= 0)
        return status;
    return checkAnswerPossible(request);
}
