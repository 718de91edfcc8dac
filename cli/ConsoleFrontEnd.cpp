#include "ConsoleFrontEnd.h"

#include "AdapterCommands.h"
#include "Console.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"

#include <QStringList>
#include <QThread>
#include <chrono>
#include <cstdio>

namespace {
constexpr int WaitStepMs = 10; // how soon a wait notices Ctrl+C
}

ConsoleFrontEnd::ConsoleFrontEnd(bool quiet, bool logComms) : quiet(quiet), logComms(logComms) {
    CommLogEnabled = logComms;
    if (logComms)
        CommLogAppended = [this] { FlushCommLog(); };
}

ConsoleFrontEnd::~ConsoleFrontEnd() {
    CommLogAppended = nullptr;
}

void ConsoleFrontEnd::writeLine(const QString& line) {
    QString text = line;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    for (const QString& part : text.split(QLatin1Char('\n')))
        std::fprintf(stderr, "%s%s\n", qPrintable(linePrefix), qPrintable(part));
    std::fflush(stderr);
}

void ConsoleFrontEnd::Log(const QString& line) {
    FlushCommLog();
    if (holding) {
        held << line;
        return;
    }
    if (!quiet)
        writeLine(line);
}

void ConsoleFrontEnd::Alert(const QString& text) {
    FlushCommLog();
    writeLine(QStringLiteral("q714: ") + text); // problems show even with --quiet
}

// The command's own result says it was done; this is a log line.
void ConsoleFrontEnd::Inform(const QString& text) {
    Log(text);
}

QString ConsoleFrontEnd::Words(const SetupCommandProblem& problem) const {
    return QStringLiteral("the adapter did not take the set-up command %1 (%2)")
        .arg(QString::fromLatin1(problem.command),
             problem.reply.isEmpty()
                 ? QStringLiteral("no reply")
                 : QStringLiteral("reply: ") + QString::fromLatin1(problem.reply));
}

QString ConsoleFrontEnd::Words(const UnknownResolution& problem) const {
    return QStringLiteral("the encoder's resolution code \"%1\" is not known")
        .arg(QString::fromLatin1(problem.code));
}

void ConsoleFrontEnd::Wait(int milliseconds) {
    using namespace std::chrono;
    const auto end = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!Stopping() && steady_clock::now() < end) {
        const auto left = duration_cast<std::chrono::milliseconds>(end - steady_clock::now());
        QThread::msleep(static_cast<unsigned long>(
            qBound(qint64(1), qint64(left.count()), qint64(WaitStepMs))));
    }
}

void ConsoleFrontEnd::Pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}

bool ConsoleFrontEnd::Stopping() const {
    return Interrupted() || PastDeadline();
}

bool ConsoleFrontEnd::PastDeadline() const {
    return deadline && std::chrono::steady_clock::now() >= *deadline;
}

void ConsoleFrontEnd::FlushCommLog() {
    if (!logComms || CommLogText.isEmpty())
        return;
    const QByteArray text = CommLogText;
    CommLogText.clear();
    QString lines = QString::fromLatin1(text);
    if (lines.endsWith(QLatin1String("\r\n")))
        lines.chop(2);
    for (QString line : lines.split(QStringLiteral("\r\n")))
        writeLine(line.replace(QLatin1Char('\r'), QStringLiteral("\\r")));
}

void ConsoleFrontEnd::HoldLog(bool hold) {
    holding = hold;
}

void ConsoleFrontEnd::ReleaseHeldLog(bool write) {
    holding = false;
    const QStringList lines = held;
    held.clear();
    if (write && !quiet)
        for (const QString& line : lines)
            writeLine(line);
}
