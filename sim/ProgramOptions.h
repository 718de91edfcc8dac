#pragma once
// The command lines of the simulator programs: options described by a table,
// each with its help text and default, and plain output lines.

#include <QString>
#include <cstddef>

class QCommandLineParser;

struct ProgramOption {
    const char* name;
    const char* description;
    const char* valueName; // nullptr for a switch
    const char* defaultValue;
};

// Adds --help, --version and every option of the table; a default value is
// named at the end of its option's help text.
void AddProgramOptions(QCommandLineParser& parser, const char* description,
                       const ProgramOption* options, std::size_t count);
template <std::size_t N>
void AddProgramOptions(QCommandLineParser& parser, const char* description,
                       const ProgramOption (&options)[N]) {
    AddProgramOptions(parser, description, options, N);
}

// Writes the line and a line end to standard output at once.
void PrintLine(const QString& line);
