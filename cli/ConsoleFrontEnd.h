#pragma once
// The command line as the workflows' front-end: log lines, news of a success
// and alerts go to standard error (the communication log with them, when
// asked for; --quiet keeps all but the alerts back), waits
// sleep and end early on Ctrl+C or at a deadline (a test step's time-out).

#include "FrontEnd.h"

#include <QStringList>
#include <chrono>
#include <optional>

class ConsoleFrontEnd : public FrontEnd {
public:
    ConsoleFrontEnd(bool quiet, bool logComms);
    ~ConsoleFrontEnd() override;

    void Log(const QString& line) override;
    void Alert(const QString& text) override;
    void Inform(const QString& text) override;
    QString Words(const SetupCommandProblem& problem) const override;
    QString Words(const UnknownResolution& problem) const override;
    void Wait(int milliseconds) override;
    void Pause(int milliseconds) override;
    bool Stopping() const override;

    // Writes the communication log gathered so far to standard error.
    void FlushCommLog();
    // Holds log lines back (a first attempt whose lines matter only when the
    // second one fails too), then writes or drops them.
    void HoldLog(bool hold);
    void ReleaseHeldLog(bool write);
    // A prefix for every line written, e.g. the port of a child process.
    void SetLinePrefix(const QString& prefix) { linePrefix = prefix; }

    using Deadline = std::optional<std::chrono::steady_clock::time_point>;
    // From the deadline on, Stopping() holds and waits end.
    void SetDeadline(Deadline at) { deadline = at; }
    Deadline DeadlineAt() const { return deadline; }
    bool PastDeadline() const;

private:
    void writeLine(const QString& line);

    bool quiet;
    bool logComms;
    bool holding = false;
    QStringList held;
    QString linePrefix;
    Deadline deadline;
};
