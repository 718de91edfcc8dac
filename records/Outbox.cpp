#include "Outbox.h"

#include "RecordFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

namespace {

// The outbox file's own schema, in SQLite's user_version.
constexpr int OutboxSchemaVersion = 1;
// Record files are sent to their store in attempts of this many.
constexpr int ImportBatch = 200;

const char* const StateNames[] = {"waiting", "conflict", "refused"};

QString sqlProblem(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

// A text for a NOT NULL column: a null QString would bind as NULL.
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

OutboxState stateOf(const QString& name) {
    for (int i = 0; i < 3; ++i)
        if (name == QLatin1String(StateNames[i]))
            return OutboxState(i);
    return OutboxState::Waiting;
}

struct Waiting {
    QString runId;
    QByteArray json;
};

// The outbox file exists before SQLite opens it, readable by its owner
// only; SQLite gives its journal the same permissions.
bool makePrivateFile(const QString& path, QString& problem) {
    QFile file(path);
    constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    const bool ready = file.exists() ? file.setPermissions(ownerOnly)
                                     : file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                                                 ownerOnly) ||
                                           file.exists(); // another q714 made it just now
    if (!ready)
        problem = QStringLiteral("%1: %2").arg(path, file.errorString());
    return ready;
}

} // namespace

QString OutboxStateName(OutboxState state) {
    return QLatin1String(StateNames[int(state)]);
}

Outbox::Outbox() : connectionName(QStringLiteral("outbox-") + QUuid::createUuid().toString()) {}

Outbox::~Outbox() {
    if (QSqlDatabase::contains(connectionName)) {
        QSqlDatabase::database(connectionName, false).close();
        QSqlDatabase::removeDatabase(connectionName);
    }
}

QString Outbox::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/q714/outbox.sqlite");
}

QString Outbox::StoreOf(const QString& url) {
    if (!url.startsWith(QLatin1String("postgresql://")) &&
        !url.startsWith(QLatin1String("postgres://")))
        return url;
    QUrl store(url);
    store.setPassword(QString());
    QUrlQuery query(store);
    query.removeAllQueryItems(QStringLiteral("password"));
    store.setQuery(query);
    return store.toString();
}

bool Outbox::Open(const QString& path, QString& problem) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!MakePrivateFolder(folder, problem) || !makePrivateFile(path, problem))
        return false;
    // The folder is q714's own: what lies in it is nobody else's business.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        problem = QStringLiteral("Qt's QSQLITE driver is not installed");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    if (!db.open()) {
        problem = QStringLiteral("%1: %2").arg(path, sqlProblem(db.lastError()));
        return false;
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA secure_delete=ON")); // what leaves the file leaves no trace
    if (!migrate(problem)) {
        problem = QStringLiteral("%1: %2").arg(path, problem);
        return false;
    }
    open = true;
    return true;
}

// Brings an outbox of an earlier q714 forward: the state and reason of each
// record, the runs settled, and no password left anywhere in the file.
bool Outbox::migrate(QString& problem) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery q(db);
    const auto run = [&](const QString& sql) {
        if (q.exec(sql))
            return true;
        problem = sqlProblem(q.lastError());
        return false;
    };
    if (!run(QStringLiteral("BEGIN IMMEDIATE")) || !run(QStringLiteral("PRAGMA user_version")) ||
        !q.next())
        return false;
    if (q.value(0).toInt() >= OutboxSchemaVersion)
        return run(QStringLiteral("COMMIT"));
    const bool ok =
        run(QStringLiteral("CREATE TABLE IF NOT EXISTS outbox (run_id TEXT PRIMARY KEY,"
                           " store_url TEXT NOT NULL, queued_utc TEXT NOT NULL,"
                           " record_json TEXT NOT NULL)")) &&
        run(QStringLiteral(
            "ALTER TABLE outbox ADD COLUMN state TEXT NOT NULL DEFAULT 'waiting'")) &&
        run(QStringLiteral("ALTER TABLE outbox ADD COLUMN reason TEXT NOT NULL DEFAULT ''")) &&
        run(QStringLiteral("CREATE TABLE settled (run_id TEXT PRIMARY KEY, file TEXT NOT NULL,"
                           " how TEXT NOT NULL)")) &&
        run(QStringLiteral("SELECT DISTINCT store_url FROM outbox"));
    QStringList stores;
    while (ok && q.next())
        stores << q.value(0).toString();
    QSqlQuery strip(db);
    strip.prepare(QStringLiteral("UPDATE outbox SET store_url = ? WHERE store_url = ?"));
    bool stripped = false;
    for (const QString& store : stores) {
        if (StoreOf(store) == store)
            continue;
        strip.addBindValue(StoreOf(store));
        strip.addBindValue(store);
        if (!strip.exec()) {
            problem = sqlProblem(strip.lastError());
            return run(QStringLiteral("ROLLBACK")), false;
        }
        stripped = true;
    }
    if (!ok || !run(QStringLiteral("PRAGMA user_version = %1").arg(OutboxSchemaVersion)) ||
        !run(QStringLiteral("COMMIT")))
        return run(QStringLiteral("ROLLBACK")), false;
    // Rewritten whole, so that no old page keeps a password.
    if (stripped)
        run(QStringLiteral("VACUUM")) && run(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    return true;
}

bool Outbox::Queue(const RunRecord& record, const QString& storeUrl, const QString& reason,
                   OutboxState state, QString& problem) {
    if (!open) {
        problem = QStringLiteral("the outbox is not open");
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("INSERT INTO outbox (run_id, store_url, queued_utc, record_json,"
                             " state, reason) VALUES (?, ?, ?, ?, ?, ?)"
                             " ON CONFLICT (run_id) DO NOTHING"));
    q.addBindValue(record.runId);
    q.addBindValue(StoreOf(storeUrl));
    q.addBindValue(UtcText(QDateTime::currentDateTimeUtc()));
    q.addBindValue(
        QString::fromUtf8(QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact)));
    q.addBindValue(OutboxStateName(state));
    q.addBindValue(notNull(reason));
    if (!q.exec()) {
        problem = sqlProblem(q.lastError());
        return false;
    }
    return true;
}

int Outbox::Pending(QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    if (!open || !q.exec(QStringLiteral("SELECT count(*) FROM outbox")) || !q.next()) {
        problem = open ? sqlProblem(q.lastError()) : QStringLiteral("the outbox is not open");
        return -1;
    }
    return q.value(0).toInt();
}

std::optional<QList<OutboxEntry>> Outbox::Entries(QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    if (!open || !q.exec(QStringLiteral("SELECT run_id, store_url, queued_utc, state, reason"
                                        " FROM outbox ORDER BY queued_utc, run_id"))) {
        problem = open ? sqlProblem(q.lastError()) : QStringLiteral("the outbox is not open");
        return std::nullopt;
    }
    QList<OutboxEntry> entries;
    while (q.next())
        entries << OutboxEntry{q.value(0).toString(), q.value(1).toString(),
                               QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs),
                               stateOf(q.value(3).toString()), q.value(4).toString()};
    return entries;
}

std::optional<OutboxEntry> Outbox::Find(const QString& id, QString& problem) {
    const std::optional<QList<OutboxEntry>> entries = Entries(problem);
    if (!entries)
        return std::nullopt;
    QList<OutboxEntry> matching;
    for (const OutboxEntry& entry : *entries)
        if (entry.runId == id || (id.size() >= 8 && entry.runId.startsWith(id)))
            matching << entry;
    if (matching.size() == 1)
        return matching.first();
    problem = matching.isEmpty()
                  ? QStringLiteral("no record %1 in the outbox").arg(id)
                  : QStringLiteral("several records in the outbox begin with %1").arg(id);
    return std::nullopt;
}

bool Outbox::Drop(const QString& runId, QString& problem) {
    // Remembered, so that its record file is never imported after all.
    return remove(runId, problem) && settle(runId, {}, QStringLiteral("dropped"), problem);
}

bool Outbox::NoteStored(const QString& runId, const QString& file, QString& problem) {
    return settle(runId, file, QStringLiteral("stored"), problem);
}

bool Outbox::settle(const QString& runId, const QString& file, const QString& how,
                    QString& problem) {
    if (!open) {
        problem = QStringLiteral("the outbox is not open");
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("INSERT INTO settled (run_id, file, how) VALUES (?, ?, ?)"
                             " ON CONFLICT (run_id) DO UPDATE SET how = excluded.how,"
                             " file = CASE WHEN excluded.file = '' THEN file"
                             " ELSE excluded.file END"));
    q.addBindValue(runId);
    q.addBindValue(notNull(file));
    q.addBindValue(how);
    if (q.exec())
        return true;
    problem = sqlProblem(q.lastError());
    return false;
}

bool Outbox::remove(const QString& runId, QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE run_id = ?"));
    q.addBindValue(runId);
    if (q.exec())
        return true;
    problem = sqlProblem(q.lastError());
    return false;
}

bool Outbox::noteFile(const QString& runId, const QString& file, QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("UPDATE settled SET file = ? WHERE run_id = ?"));
    q.addBindValue(file);
    q.addBindValue(runId);
    if (q.exec())
        return true;
    problem = sqlProblem(q.lastError());
    return false;
}

bool Outbox::setState(const QString& runId, OutboxState state, const QString& reason,
                      QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("UPDATE outbox SET state = ?, reason = ? WHERE run_id = ?"));
    q.addBindValue(OutboxStateName(state));
    q.addBindValue(notNull(reason));
    q.addBindValue(runId);
    if (q.exec())
        return true;
    problem = sqlProblem(q.lastError());
    return false;
}

std::optional<QSet<QString>> Outbox::column(const char* sql, QString& problem) {
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.setForwardOnly(true);
    if (!open || !q.exec(QLatin1String(sql))) {
        problem = open ? sqlProblem(q.lastError()) : QStringLiteral("the outbox is not open");
        return std::nullopt;
    }
    QSet<QString> values;
    while (q.next())
        values.insert(q.value(0).toString());
    return values;
}

namespace {

// How a batch of records fared in one store attempt, counted into `report`;
// `onEach` settles each record that got an answer.
void countAttempt(const StoreAttemptResult& attempt, qsizetype records, SyncReport& report,
                  const std::function<void(qsizetype, const StoreResult&)>& onEach) {
    for (qsizetype i = 0; i < attempt.results.size(); ++i) {
        const StoreResult& result = attempt.results[i];
        switch (result.stored) {
        case RecordStore::Stored::New:
        case RecordStore::Stored::AlreadyThere:
            break;
        case RecordStore::Stored::Conflict:
            report.conflicts += 1;
            break;
        case RecordStore::Stored::Refused:
            report.refused += 1;
            break;
        case RecordStore::Stored::Failed:
            report.left += 1;
            report.problems << result.problem;
            break;
        }
        onEach(i, result);
    }
    report.left += int(records - attempt.results.size());
    if (!attempt.opened || attempt.givenUp)
        report.problems << attempt.problem;
}

} // namespace

SyncReport Outbox::Send(const OutboxRoute& route, const StoreWait& wait, bool conflictsToo) {
    SyncReport report;
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    const QString states =
        conflictsToo ? QStringLiteral("'waiting', 'conflict'") : QStringLiteral("'waiting'");
    if (!open || !q.exec(QStringLiteral("SELECT store_url, run_id, record_json FROM outbox"
                                        " WHERE state IN (%1) ORDER BY queued_utc, run_id")
                             .arg(states))) {
        report.problems << (open ? sqlProblem(q.lastError())
                                 : QStringLiteral("the outbox is not open"));
        return report;
    }
    QStringList targets; // in the order their first record waits
    QHash<QString, QList<Waiting>> byTarget;
    while (q.next()) {
        const QString target = route(q.value(0).toString());
        if (target.isEmpty())
            continue;
        if (!byTarget.contains(target))
            targets << target;
        byTarget[target] << Waiting{q.value(1).toString(), q.value(2).toString().toUtf8()};
    }
    for (const QString& target : targets) {
        const QList<Waiting>& waiting = byTarget[target];
        if (wait.stop && wait.stop()) { // stopped: the rest waits for the next time
            report.left += int(waiting.size());
            continue;
        }
        QList<RunRecord> records;
        QStringList runIds;
        for (const Waiting& w : waiting) {
            RunRecord record;
            QString bad;
            if (!RecordFromJson(QJsonDocument::fromJson(w.json).object(), record, bad)) {
                report.left += 1;
                report.problems << QStringLiteral("run %1 in the outbox: %2").arg(w.runId, bad);
                continue;
            }
            records << record;
            runIds << w.runId;
        }
        const StoreAttemptResult attempt = AttemptStore(target, records, wait);
        countAttempt(attempt, records.size(), report, [&](qsizetype i, const StoreResult& r) {
            QString problem;
            const QString& runId = runIds[i];
            bool ok = true;
            if (r.stored == RecordStore::Stored::New ||
                r.stored == RecordStore::Stored::AlreadyThere) {
                (r.stored == RecordStore::Stored::New ? report.sent : report.alreadyThere) += 1;
                // Only once the store has it does the record leave the outbox.
                ok = remove(runId, problem) && NoteStored(runId, {}, problem);
            } else if (r.stored == RecordStore::Stored::Conflict) {
                report.problems << QStringLiteral("run %1 is stored with other content; it stays "
                                                  "in the outbox: %2")
                                       .arg(runId, r.problem);
                ok = setState(runId, OutboxState::Conflict, r.problem, problem);
            } else if (r.stored == RecordStore::Stored::Refused) {
                report.problems << QStringLiteral("the store refused run %1, set aside: %2")
                                       .arg(runId, r.problem);
                ok = setState(runId, OutboxState::Refused, r.problem, problem);
            } else {
                ok = setState(runId, OutboxState::Waiting, r.problem, problem);
            }
            if (!ok)
                report.problems << problem;
        });
        // Why the rest still waits, for `records outbox list`.
        for (qsizetype i = attempt.results.size(); i < records.size(); ++i) {
            QString problem;
            setState(runIds[i], OutboxState::Waiting, attempt.problem, problem);
        }
    }
    return report;
}

SyncReport Outbox::Send(const QString& onlyUrl, const StoreWait& wait) {
    const QString only = StoreOf(onlyUrl);
    return Send(
        [&](const QString& store) {
            if (onlyUrl.isEmpty())
                return store;
            return store == only ? onlyUrl : QString();
        },
        wait, false);
}

SyncReport Outbox::ImportRecordFiles(const QString& folder, const QString& storeUrl,
                                     const StoreWait& wait) {
    SyncReport report;
    if (wait.stop && wait.stop()) // stopped: the files wait for the next sync
        return report;
    QString problem;
    std::optional<QSet<QString>> queued = column("SELECT run_id FROM outbox", problem);
    const std::optional<QSet<QString>> settled = column("SELECT run_id FROM settled", problem);
    const std::optional<QSet<QString>> settledFiles =
        column("SELECT file FROM settled WHERE file <> ''", problem);
    if (!queued || !settled || !settledFiles) {
        report.problems << problem;
        return report;
    }
    const QDir base(folder);
    QList<RunRecord> batch;
    QStringList batchFiles;
    const auto sendBatch = [&] {
        if (batch.isEmpty())
            return true;
        if (wait.stop && wait.stop()) { // stopped: the files wait for the next sync
            report.left += int(batch.size());
            return false;
        }
        const StoreAttemptResult attempt = AttemptStore(storeUrl, batch, wait);
        countAttempt(attempt, batch.size(), report, [&](qsizetype i, const StoreResult& r) {
            QString problem;
            bool ok = true;
            if (r.stored == RecordStore::Stored::New) {
                report.imported += 1;
                ok = NoteStored(batch[i].runId, batchFiles[i], problem);
            } else if (r.stored == RecordStore::Stored::AlreadyThere) {
                report.alreadyThere += 1;
                ok = NoteStored(batch[i].runId, batchFiles[i], problem);
            } else if (r.stored == RecordStore::Stored::Conflict ||
                       r.stored == RecordStore::Stored::Refused) {
                const bool conflict = r.stored == RecordStore::Stored::Conflict;
                report.problems << QStringLiteral("%1: %2, kept in the outbox: %3")
                                       .arg(batchFiles[i],
                                            conflict ? QStringLiteral("stored with other content")
                                                     : QStringLiteral("refused by the store"),
                                            r.problem);
                ok = Queue(batch[i], storeUrl, r.problem,
                           conflict ? OutboxState::Conflict : OutboxState::Refused, problem);
            }
            if (!ok)
                report.problems << problem;
        });
        const bool goOn =
            attempt.opened && !attempt.givenUp && attempt.results.size() == batch.size();
        batch.clear();
        batchFiles.clear();
        return goOn;
    };
    for (const QString& path : RecordFilesUnder(folder)) {
        const QString file = base.relativeFilePath(path);
        if (settledFiles->contains(file))
            continue;
        RunRecord record;
        if (!ReadRecordFile(path, record, problem)) {
            report.problems << problem;
            continue;
        }
        if (settled->contains(record.runId)) {
            // Settled by way of the outbox: its file need not be read again.
            if (!noteFile(record.runId, file, problem))
                report.problems << problem;
            continue;
        }
        if (queued->contains(record.runId))
            continue;
        queued->insert(record.runId); // a copy of the same record is the same record
        batch << record;
        batchFiles << file;
        if (batch.size() >= ImportBatch && !sendBatch())
            return report; // the store is not there: the rest waits for the next sync
    }
    sendBatch();
    return report;
}
