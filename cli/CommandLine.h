#pragma once
// The command line of q714: its commands, their arguments and options with
// the values each takes, and what a parsed command line asks for. The
// tables here are the one place a value's range is declared: the check of
// the whole command line and the commands read it alike.

#include "Output.h"

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The whole numbers a value may take, both bounds included.
struct NumberRange {
    qint64 lowest;
    qint64 highest;
};

inline constexpr int AnyNumber = -1;

// One way of calling a command: an action word (or none) and the arguments
// after it.
struct ArgumentForm {
    const char* action; // nullptr: the arguments follow the command's name
    const char* usage;  // the arguments as the usage line shows them
    int least;          // arguments after the action
    int most;           // AnyNumber: no limit
    std::optional<NumberRange> number = std::nullopt; // each argument: a whole number within it
    bool asks = false; // changes stored settings: asks first, or --yes
};

struct CommandEntry {
    const char* name;
    const char* summary;
    QList<ArgumentForm> forms;      // empty: the command takes no arguments
    QStringList options;            // the command's own options (besides the global ones)
    bool changesDevice;             // never run on an adapter chosen without --port
    bool connectsEncoder;           // powers (when needed) and connects the encoder first
    const char* itemsKey = nullptr; // names the items in a json result ("readings", ...)
    bool usesAdapter = true;        // false: runs without any device (plan, records)
};

// Every command, in the order of the help text.
const QList<CommandEntry>& Commands();
const CommandEntry* FindCommand(const QString& name);
// "get|set KEY=VALUE...|dump [FILE]": the command's arguments for its usage line.
QString ArgumentsUsage(const CommandEntry& command);

// The range of a whole-number option; nullptr for an option of another kind.
const NumberRange* OptionRange(const QString& option);
// A whole number (optionally signed decimal digits, nothing else) within
// `range`; false for anything else.
bool ParseWholeNumber(const QString& text, const NumberRange& range, qint64& value);

struct CliRequest {
    const CommandEntry* command = nullptr;
    const ArgumentForm* form = nullptr; // the form the arguments take, when the command has forms
    QStringList arguments;              // after the command's name
    QStringList ports;                  // --port, in order
    bool allAdapters = false;
    QString expectSerial;
    OutputFormat format = OutputFormat::Text;
    bool quiet = false;
    bool logComms = false;
    bool yes = false;
    bool child = false;        // run for a parent q714 on one of several ports
    bool junit = false;        // records export --format junit
    bool formatChosen = false; // the output's format is known: a usage error can be a result
    QCommandLineParser* parser = nullptr; // the command's option values

    QString Value(const char* option) const { return parser->value(QLatin1String(option)); }
    bool IsSet(const char* option) const { return parser->isSet(QLatin1String(option)); }
    // The command, or one of its options given, changes the encoder: it
    // never runs on an adapter chosen without --port.
    bool ChangesDevice() const;
    // The value of a whole-number option (checked whole when the command
    // line was parsed), or `fallback` when it is not given.
    qint64 Number(const char* option, qint64 fallback) const;
};

// Parses and checks the whole command line: the command, its arguments and
// every option's value. Returns -1 and fills `request` to go on; otherwise
// the exit status after printing help, the version or the usage error.
int ParseCommandLine(const QStringList& arguments, QCommandLineParser& parser, CliRequest& request);
