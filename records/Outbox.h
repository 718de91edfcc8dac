#pragma once
// Records that could not reach their store wait here, in a local SQLite
// file, each with the store it was meant for. The next run sends them first,
// and `q714 records sync` sends them at any time. A record leaves the outbox
// only once its store has it (stored now or already there), so a record is
// never lost and, the run id being the store's key, never stored twice.

#include "TestRecord.h"

#include <QString>

struct SyncReport {
    int sent = 0;         // stored now
    int alreadyThere = 0; // the store had them (an earlier sync was cut off)
    int left = 0;         // still waiting
    QStringList problems; // one per store that could not be reached
};

class Outbox {
public:
    Outbox();
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // The outbox in the user's data folder of q714.
    static QString DefaultPath();

    bool Open(const QString& path, QString& problem);
    bool Queue(const RunRecord& record, const QString& storeUrl, QString& problem);
    int Pending(QString& problem);
    // Sends what waits, to each record's own store (or only those meant for
    // `onlyUrl` when it is given).
    SyncReport Send(const QString& onlyUrl = {});

private:
    QString connectionName;
    bool open = false;
};
