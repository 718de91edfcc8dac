#include "RecordKeeping.h"

#include "FrontEnd.h"
#include "Outbox.h"
#include "RecordFiles.h"
#include "RecordStore.h"

namespace {

void attach(RunRecord& record, const QList<QPair<QString, QString>>& files, const QString& folder,
            KeptRecord& kept, FrontEnd& front) {
    for (const auto& [name, path] : files) {
        Attachment attachment;
        QString problem;
        if (AttachFile(folder, record, name, path, attachment, problem)) {
            record.attachments << attachment;
        } else {
            kept.problems << QStringLiteral("the %1 was not kept: %2").arg(name, problem);
            front.Log(kept.problems.last());
        }
    }
}

// Sends what waits for this store, then stores the record; a store that
// cannot be reached gets it through the outbox.
void store(const RunRecord& record, const QString& url, KeptRecord& kept, FrontEnd& front) {
    Outbox outbox;
    QString problem;
    const bool outboxOpen = outbox.Open(Outbox::DefaultPath(), problem);
    if (outboxOpen) {
        const SyncReport sent = outbox.Send(url);
        if (sent.sent > 0)
            front.Log(QStringLiteral("%1 record(s) from the outbox stored").arg(sent.sent));
    }
    RecordStore records;
    if (records.Open(url, problem)) {
        const RecordStore::Stored stored = records.Store(record, problem);
        kept.stored = stored != RecordStore::Stored::Failed;
        if (kept.stored)
            return;
    }
    kept.problems << problem;
    front.Log(QStringLiteral("the record store cannot be reached: ") + problem);
    if (outboxOpen && outbox.Queue(record, url, problem)) {
        kept.queued = true;
        front.Log(QStringLiteral("the record waits in the outbox (q714 records sync sends it)"));
        return;
    }
    kept.problems << problem;
    front.Log(QStringLiteral("the record is not in the outbox either: ") + problem);
}

} // namespace

QString StoreUrlOf(const QString& option) {
    if (!option.isEmpty())
        return option;
    const QString fromEnvironment = qEnvironmentVariable("Q714_DB");
    return fromEnvironment.isEmpty() ? RecordStore::DefaultUrl() : fromEnvironment;
}

KeptRecord KeepRecord(RunRecord& record, const QList<QPair<QString, QString>>& files,
                      const QString& recordsFolder, const QString& storeUrl, FrontEnd& front) {
    KeptRecord kept;
    attach(record, files, recordsFolder, kept, front);
    QString problem;
    if (!WriteRecordFile(recordsFolder, record, kept.file, problem)) {
        kept.file.clear();
        kept.problems << problem;
        front.Log(QStringLiteral("the record's file was not written: ") + problem);
    }
    store(record, storeUrl, kept, front);
    return kept;
}
