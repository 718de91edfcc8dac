#pragma once
// Where a finished run's record goes: its attachments and JSON file into the
// records folder, then the record store; a store that cannot be reached
// gets it later through the outbox. Records waiting in the outbox for the
// same store go first.

#include "TestRecord.h"

#include <QPair>
#include <QString>
#include <QStringList>

class FrontEnd;

struct KeptRecord {
    QString file;         // the record's JSON file; empty when it could not be written
    bool stored = false;  // in the store now
    bool queued = false;  // in the outbox, for the store
    QStringList problems; // what went wrong on the way (each also logged)
    bool Safe() const { return !file.isEmpty() || stored || queued; }
};

KeptRecord KeepRecord(RunRecord& record, const QList<QPair<QString, QString>>& files,
                      const QString& recordsFolder, const QString& storeUrl, FrontEnd& front);

// --db, else $Q714_DB, else the default SQLite file.
QString StoreUrlOf(const QString& option);
