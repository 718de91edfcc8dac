#include "Failure.h"

#include "ExitStatus.h"

#include <QMutex>
#include <QStringList>
#include <cstdio>

namespace {

struct Remembered {
    int status;
    QString message;
};

QMutex failuresLock;
QList<Remembered> failures; // in the order they came

struct ExitClassEntry {
    int status;
    const char* name;
    const char* words; // the message when no failure said more
};

const ExitClassEntry ExitClasses[] = {
    {ExitDone, "done", "done"},
    {ExitCheckFailed, "check_failed", "a check failed"},
    {ExitUsage, "usage", "the command line is not right"},
    {ExitLink, "link", "the adapter or its link failed"},
    {ExitEncoder, "encoder", "the encoder refused or did not answer"},
    {ExitFile, "file", "a file could not be read or written"},
    {ExitInterrupted, "interrupted", "interrupted"},
};

const ExitClassEntry& classOf(int status) {
    for (const ExitClassEntry& entry : ExitClasses)
        if (entry.status == status)
            return entry;
    return ExitClasses[3]; // a child that died is counted as a link failure
}

QString messageFor(int status) {
    QMutexLocker lock(&failuresLock);
    for (auto it = failures.crbegin(); it != failures.crend(); ++it)
        if (it->status == status)
            return it->message;
    if (!failures.isEmpty())
        return failures.last().message;
    return QString::fromLatin1(classOf(status).words);
}

} // namespace

int Fail(int status, const QString& message) {
    {
        QMutexLocker lock(&failuresLock);
        failures.append({status, message});
    }
    std::fprintf(stderr, "q714: %s\n", qPrintable(message));
    std::fflush(stderr);
    return status;
}

QString ExitClass(int status) {
    return QString::fromLatin1(classOf(status).name);
}

QJsonObject OutcomeFields(int status) {
    QJsonObject fields{{"exit_status", status}, {"exit_class", ExitClass(status)}};
    if (status != ExitDone)
        fields.insert(QStringLiteral("message"), messageFor(status));
    return fields;
}
