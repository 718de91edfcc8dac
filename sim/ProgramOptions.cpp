#include "ProgramOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cstdio>

void AddProgramOptions(QCommandLineParser& parser, const char* description,
                       const ProgramOption* options, std::size_t count) {
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    parser.addVersionOption();
    for (std::size_t i = 0; i < count; ++i) {
        const ProgramOption& option = options[i];
        QCommandLineOption o(QString::fromLatin1(option.name),
                             QString::fromUtf8(option.description));
        if (option.valueName)
            o.setValueName(QString::fromLatin1(option.valueName));
        if (option.defaultValue) {
            o.setDefaultValue(QString::fromUtf8(option.defaultValue));
            o.setDescription(
                o.description() +
                QStringLiteral(" Default: %1.").arg(QString::fromUtf8(option.defaultValue)));
        }
        parser.addOption(o);
    }
}

void PrintLine(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
