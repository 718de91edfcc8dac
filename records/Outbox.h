#pragma once
// Records that could not reach their store wait here, in a local SQLite
// file readable by its owner only, each with the store it was meant for,
// since when and why. The store is kept without any password: a sync takes
// credentials from the URL it is given, PGPASSWORD or ~/.pgpass, so a
// changed password strands nothing. The next run to the same store sends
// what waits for it first, and `q714 records sync` sends everything at any
// time. A record leaves the outbox only once a store has it (stored now or
// already there), so a record is never lost and, the run id being the
// store's key, never stored twice. A record its store refuses for its
// content is set aside with the reason rather than sent again and again;
// one whose run id the store holds with other content (a conflict) is kept
// and reported at every sync. Only the user drops a record.
//
// The file also remembers the runs that reached a store or were dropped, so
// that a sync imports from the records folder only the record files that
// never reached a store nor the outbox (a power loss between the two).

#include "StoreAttempt.h"
#include "TestRecord.h"

#include <QSet>
#include <QString>
#include <functional>
#include <optional>

enum class OutboxState {
    Waiting,  // for its store to be reached
    Conflict, // its store holds the run id with other content: kept, reported
    Refused,  // its store refused the content: set aside
};

QString OutboxStateName(OutboxState state); // "waiting", "conflict", "refused"

struct OutboxEntry {
    QString runId;
    QString store; // without any password
    QDateTime queued;
    OutboxState state = OutboxState::Waiting;
    QString reason;
};

struct SyncReport {
    int sent = 0;         // stored now
    int alreadyThere = 0; // the store had them (an earlier sync was cut off)
    int left = 0;         // still waiting: their store could not be reached
    int conflicts = 0;    // kept: their store holds the run id with other content
    int refused = 0;      // set aside now: their store refused the content
    int imported = 0;     // record files stored that had reached no store
    QStringList problems; // what went wrong, each in words
};

// Where the records waiting for a store (named without password) go: the
// URL to send them to, with credentials where it has them, or empty to
// leave them waiting.
using OutboxRoute = std::function<QString(const QString& store)>;

class Outbox {
public:
    Outbox();
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // The outbox in the user's data folder of q714.
    static QString DefaultPath();
    // The store a URL names, without its password: what the outbox keeps.
    static QString StoreOf(const QString& url);

    bool Open(const QString& path, QString& problem);
    // Queues the record for its store, with why it waits there; a record
    // queued already keeps its place.
    bool Queue(const RunRecord& record, const QString& storeUrl, const QString& reason,
               OutboxState state, QString& problem);
    bool Queue(const RunRecord& record, const QString& storeUrl, QString& problem) {
        return Queue(record, storeUrl, {}, OutboxState::Waiting, problem);
    }
    // The records in the outbox, oldest first; -1 with the problem.
    int Pending(QString& problem);
    std::optional<QList<OutboxEntry>> Entries(QString& problem);
    // The record `id` names (a run id, or a unique prefix of at least 8
    // characters); nothing, with the problem, when it names none or several.
    std::optional<OutboxEntry> Find(const QString& id, QString& problem);
    // Removes a record for good; its file is never imported after all.
    bool Drop(const QString& runId, QString& problem);

    // Sends what waits (and, with `conflictsToo`, what conflicted) to the
    // stores `route` names, one attempt per store, each waited for as `wait`
    // says.
    SyncReport Send(const OutboxRoute& route, const StoreWait& wait, bool conflictsToo);
    // Sends what waits to each record's own store, or only what waits for
    // `onlyUrl` (sent there, with its credentials) when it is given.
    SyncReport Send(const QString& onlyUrl = {}, const StoreWait& wait = {});

    // Notes that a store has the run's record (`file`: its record file,
    // relative to the records folder; may be empty).
    bool NoteStored(const QString& runId, const QString& file, QString& problem);
    // Stores in `storeUrl` every record file under `folder` that reached no
    // store, nor the outbox, and was not dropped: `imported` counts them.
    SyncReport ImportRecordFiles(const QString& folder, const QString& storeUrl,
                                 const StoreWait& wait);

private:
    bool migrate(QString& problem);
    bool remove(const QString& runId, QString& problem);
    bool noteFile(const QString& runId, const QString& file, QString& problem);
    bool settle(const QString& runId, const QString& file, const QString& how, QString& problem);
    bool setState(const QString& runId, OutboxState state, const QString& reason, QString& problem);
    std::optional<QSet<QString>> column(const char* sql, QString& problem);

    QString connectionName;
    bool open = false;
};
