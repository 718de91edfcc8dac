#pragma once
// A front-end for the workflow suites: it records every log line, alert and
// news of a success, and its waits and pauses only count the milliseconds
// asked for.

#include "AdapterCommands.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"

#include <QStringList>

class RecordingFrontEnd : public FrontEnd {
public:
    void Log(const QString& line) override { lines << line; }
    void Alert(const QString& text) override { alerts << text; }
    void Inform(const QString& text) override { informs << text; }
    // The problem's particulars as they are, so that a suite sees what the
    // workflow handed over rather than how a program words it.
    QString Words(const SetupCommandProblem& problem) const override {
        return QString::fromLatin1(problem.command + " -> " + problem.reply);
    }
    QString Words(const UnknownResolution& problem) const override {
        return QString::fromLatin1("resolution " + problem.code);
    }
    void Wait(int milliseconds) override { waitedMs += milliseconds; }
    void Pause(int milliseconds) override { pausedMs += milliseconds; }
    bool Stopping() const override { return stopping; }

    // The log as the window's memo shows it: one entry per line.
    QStringList LogLines() const {
        QStringList split;
        for (const QString& line : lines)
            split += QString(line).replace(QLatin1String("\r\n"), QLatin1String("\n")).split('\n');
        return split;
    }
    void Forget() {
        lines.clear();
        alerts.clear();
        informs.clear();
    }

    QStringList lines;
    QStringList alerts;
    QStringList informs;
    qint64 waitedMs = 0;
    qint64 pausedMs = 0;
    bool stopping = false;
};
