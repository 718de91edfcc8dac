#pragma once
// The program's command line, the way Qt programs take theirs: --help,
// --help-all (adds Qt's own options such as -platform and -style) and
// --version; Qt's own options are accepted as well.

#include <optional>

class QApplication;
class QCommandLineParser;

// The program's name and version as Qt reports them (--version, settings).
void SetApplicationIdentity();

// Answers --help and --version before anything graphical exists, so both work
// without a display. Returns the exit code when the program ends there.
std::optional<int> AnswerInformationRequest(int& argc, char** argv);

// Once the application has taken Qt's own options out of the arguments:
// answers --help-all and rejects unknown options and arguments. Returns the
// exit code when the program ends there.
std::optional<int> CheckCommandLine(const QApplication& application);
