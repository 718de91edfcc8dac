#pragma once
// Where a finished run's record goes: its attachments and JSON file into the
// records folder, then the record store; a store that cannot take it now
// gets it later through the outbox. Records waiting in the outbox for the
// same store go first.
//
// Every store attempt runs on a worker thread of its own and is waited for
// until it ends, a deadline passes (about 10 s for one step) or a further
// stop comes (Ctrl+C again): a stalled server never hangs a station, and the
// record then waits in the outbox. Why a record went to the outbox, or
// nowhere, is a problem: it shows even with --quiet.

#include "Outbox.h"
#include "StoreAttempt.h"
#include "TestRecord.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

class FrontEnd;

struct KeptRecord {
    QString file;         // the record's JSON file; empty when it could not be written
    bool stored = false;  // in the store now
    bool queued = false;  // in the outbox, for the store
    QString storeProblem; // why it is not in the store
    QStringList problems; // what went wrong on the way (each also shown)
    bool Safe() const { return !file.isEmpty() || stored || queued; }
};

// The store as found before the run. One that can never work is refused
// before any device is touched; one that cannot be reached now lets the
// run go on, and its record goes to the outbox without a second wait.
struct StoreCheck {
    bool reachable = false;
    QString problem;
};

// Where record keeping says what it does: news (left out with --quiet) and
// problems (always shown).
struct RecordVoice {
    std::function<void(const QString&)> news;
    std::function<void(const QString&)> problem;
};
RecordVoice VoiceOf(FrontEnd& front);
RecordVoice ConsoleVoice(bool quiet);

// Waiting for a store as record keeping does: each step within the
// deadline, given up at a stop that comes while it waits, and saying so
// when it takes longer than a second.
StoreWait StoreWaitOf(const RecordVoice& voice);

// Opens the store before any device is touched, waiting as for a record:
// ExitDone with `check` filled, or the exit status after a message (the
// store can never work as given, or a stop came first).
int CheckStore(const QString& url, const RecordVoice& voice, StoreCheck& check);

KeptRecord KeepRecord(RunRecord& record, const QList<QPair<QString, QString>>& files,
                      const QString& recordsFolder, const QString& storeUrl,
                      const StoreCheck& before, const RecordVoice& voice);

// --db, else $Q714_DB, else the default SQLite file.
QString StoreUrlOf(const QString& option);

// Where `records sync` sends what waits: everything to the store `given`
// now (--db) when there is one; else each record to its own store, with the
// credentials of $Q714_DB when that names the same store, else with
// libpq's own (PGPASSWORD, ~/.pgpass).
OutboxRoute SyncRoute(const QString& given);
