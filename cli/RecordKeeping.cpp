#include "RecordKeeping.h"

#include "Console.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "FrontEnd.h"
#include "RecordFiles.h"
#include "RecordStore.h"

#include <QDir>
#include <cstdio>

namespace {

void attach(RunRecord& record, const QList<QPair<QString, QString>>& files, const QString& folder,
            KeptRecord& kept, const RecordVoice& voice) {
    for (const auto& [name, path] : files) {
        Attachment attachment;
        QString problem;
        if (AttachFile(folder, record, name, path, attachment, problem)) {
            record.attachments << attachment;
        } else {
            kept.problems << QStringLiteral("the %1 was not kept: %2").arg(name, problem);
            voice.problem(kept.problems.last());
        }
    }
}

void writeFile(const RunRecord& record, const QString& folder, KeptRecord& kept,
               const RecordVoice& voice) {
    QString problem;
    if (WriteRecordFile(folder, record, kept.file, problem))
        return;
    kept.file.clear();
    kept.problems << problem;
    voice.problem(QStringLiteral("the record's file was not written: ") + problem);
}

// Sends what waits in the outbox for this store first; false when the store
// did not take it (the run's own record then goes to the outbox at once,
// rather than waiting for the store a second time), with why.
bool sendWaiting(Outbox& outbox, const QString& url, const StoreWait& wait,
                 const RecordVoice& voice, QString& why) {
    const SyncReport sent = outbox.Send(url, wait);
    if (sent.sent > 0)
        voice.news(QStringLiteral("%1 record(s) from the outbox stored").arg(sent.sent));
    if (sent.left == 0) {
        for (const QString& problem : sent.problems) // set aside now
            voice.problem(problem);
        return true;
    }
    why = sent.problems.value(0, QStringLiteral("the record store did not take the outbox"));
    return false;
}

// The outbox of the user's data folder, open; or not, with why.
struct OpenOutbox {
    Outbox outbox;
    QString problem;
    bool open = outbox.Open(Outbox::DefaultPath(), problem);
};

void queue(OpenOutbox& outbox, const RunRecord& record, const QString& url, OutboxState state,
           KeptRecord& kept, const RecordVoice& voice) {
    QString problem = QStringLiteral("it cannot be opened: ") + outbox.problem;
    if (outbox.open && outbox.outbox.Queue(record, url, kept.storeProblem, state, problem)) {
        kept.queued = true;
        voice.problem(state == OutboxState::Waiting
                          ? QStringLiteral("the record waits in the outbox (q714 records sync "
                                           "sends it)")
                          : QStringLiteral("the record is kept in the outbox, not sent again "
                                           "(q714 records outbox list)"));
        return;
    }
    kept.problems << problem;
    voice.problem(QStringLiteral("the record is not in the outbox either: ") + problem);
}

// What the store answered for the run's own record.
void settle(const StoreAttemptResult& attempt, const RunRecord& record, const QString& url,
            const QString& folder, OpenOutbox& outbox, KeptRecord& kept, const RecordVoice& voice) {
    const StoreResult result = attempt.results.value(0);
    if (attempt.results.isEmpty()) { // not opened, or given up
        kept.storeProblem = attempt.problem;
    } else if (result.stored == RecordStore::Stored::New ||
               result.stored == RecordStore::Stored::AlreadyThere) {
        kept.stored = true;
        QString problem;
        const QString file = QDir(folder).relativeFilePath(kept.file);
        if (outbox.open && !outbox.outbox.NoteStored(record.runId, file, problem))
            voice.news(QStringLiteral("the outbox did not note the stored record: ") + problem);
        return;
    } else {
        kept.storeProblem = result.problem;
    }
    kept.problems << kept.storeProblem;
    OutboxState state = OutboxState::Waiting;
    if (result.stored == RecordStore::Stored::Conflict) {
        state = OutboxState::Conflict;
        voice.problem(QStringLiteral("the record store holds run %1 with other content: %2")
                          .arg(record.runId, kept.storeProblem));
    } else if (result.stored == RecordStore::Stored::Refused) {
        state = OutboxState::Refused;
        voice.problem(QStringLiteral("the record store refused the record: ") + kept.storeProblem);
    } else {
        voice.problem(QStringLiteral("the record store did not take the record: ") +
                      kept.storeProblem);
    }
    queue(outbox, record, url, state, kept, voice);
}

} // namespace

RecordVoice VoiceOf(FrontEnd& front) {
    return {[&front](const QString& line) { front.Log(line); },
            [&front](const QString& line) { front.Alert(line); }};
}

RecordVoice ConsoleVoice(bool quiet) {
    const auto write = [](const QString& line) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
        std::fflush(stderr);
    };
    return {[quiet, write](const QString& line) {
                if (!quiet)
                    write(line);
            },
            [write](const QString& line) { write(QStringLiteral("q714: ") + line); }};
}

StoreWait StoreWaitOf(const RecordVoice& voice) {
    StoreWait wait;
    const int stops = StopCount();
    wait.stop = [stops] { return StopCount() > stops; };
    wait.slow = [voice, seconds = wait.stepDeadline.count() / 1000] {
        voice.news(QStringLiteral("waiting for the record store (at most %1 s; Ctrl+C stops "
                                  "waiting and keeps the record in the outbox)")
                       .arg(seconds));
    };
    return wait;
}

int CheckStore(const QString& url, const RecordVoice& voice, StoreCheck& check) {
    const QString nothingRan = QStringLiteral("stopped before any device was touched");
    if (Interrupted())
        return Fail(ExitInterrupted, nothingRan);
    const StoreAttemptResult attempt = AttemptStore(url, {}, StoreWaitOf(voice));
    if (Interrupted())
        return Fail(ExitInterrupted, nothingRan);
    check.reachable = attempt.opened;
    check.problem = attempt.problem;
    if (attempt.opened)
        return ExitDone;
    if (!attempt.givenUp && attempt.fault == RecordStore::Fault::Unusable)
        return Fail(ExitLink, QStringLiteral("the record store cannot be used: %1; nothing was "
                                             "sent to any device")
                                  .arg(attempt.problem));
    voice.problem(QStringLiteral("the record store cannot be reached: %1; the run goes on and "
                                 "its record will wait in the outbox")
                      .arg(attempt.problem));
    return ExitDone;
}

QString StoreUrlOf(const QString& option) {
    if (!option.isEmpty())
        return option;
    const QString fromEnvironment = qEnvironmentVariable("Q714_DB");
    return fromEnvironment.isEmpty() ? RecordStore::DefaultUrl() : fromEnvironment;
}

OutboxRoute SyncRoute(const QString& given) {
    if (!given.isEmpty())
        return [given](const QString&) { return given; };
    const QString fromEnvironment = qEnvironmentVariable("Q714_DB");
    return [fromEnvironment](const QString& store) {
        const bool same = !fromEnvironment.isEmpty() && Outbox::StoreOf(fromEnvironment) == store;
        return same ? fromEnvironment : store;
    };
}

KeptRecord KeepRecord(RunRecord& record, const QList<QPair<QString, QString>>& files,
                      const QString& recordsFolder, const QString& storeUrl,
                      const StoreCheck& before, const RecordVoice& voice) {
    KeptRecord kept;
    attach(record, files, recordsFolder, kept, voice);
    writeFile(record, recordsFolder, kept, voice);
    OpenOutbox outbox;
    if (!outbox.open)
        voice.news(QStringLiteral("the outbox cannot be opened: ") + outbox.problem);
    const StoreWait wait = StoreWaitOf(voice);
    kept.storeProblem = before.problem;
    if (before.reachable &&
        (!outbox.open || sendWaiting(outbox.outbox, storeUrl, wait, voice, kept.storeProblem))) {
        settle(AttemptStore(storeUrl, {record}, wait), record, storeUrl, recordsFolder, outbox,
               kept, voice);
        return kept;
    }
    kept.problems << kept.storeProblem;
    if (before.reachable) // else said before the run
        voice.problem(QStringLiteral("the record store cannot be reached: ") + kept.storeProblem);
    queue(outbox, record, storeUrl, OutboxState::Waiting, kept, voice);
    return kept;
}
