#pragma once
// The command line of q714: its commands, their options, and what a parsed
// command line asks for.

#include "Output.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

struct CommandEntry {
    const char* name;
    const char* arguments; // shown after the name in its usage line
    const char* summary;
    QStringList options;            // the command's own options (besides the global ones)
    bool changesDevice;             // never run on an adapter chosen without --port
    bool connectsEncoder;           // powers (when needed) and connects the encoder first
    const char* itemsKey = nullptr; // names the items in a json result ("readings", ...)
    bool usesAdapter = true;        // false: runs without any device (plan, records)
};

// Every command, in the order of the help text.
const QList<CommandEntry>& Commands();
const CommandEntry* FindCommand(const QString& name);

struct CliRequest {
    const CommandEntry* command = nullptr;
    QStringList arguments; // after the command's name
    QStringList ports;     // --port, in order
    bool allAdapters = false;
    QString expectSerial;
    OutputFormat format = OutputFormat::Text;
    bool quiet = false;
    bool logComms = false;
    bool yes = false;
    bool child = false;                   // run for a parent q714 on one of several ports
    bool junit = false;                   // records export --format junit
    QCommandLineParser* parser = nullptr; // the command's option values

    QString Value(const char* option) const { return parser->value(QLatin1String(option)); }
    bool IsSet(const char* option) const { return parser->isSet(QLatin1String(option)); }
};

// Parses the whole command line. Returns -1 and fills `request` to go on;
// otherwise the exit status after printing help, the version or the usage
// error.
int ParseCommandLine(const QStringList& arguments, QCommandLineParser& parser, CliRequest& request);
