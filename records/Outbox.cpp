#include "Outbox.h"

#include "RecordStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

namespace {

QString sqlProblem(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

struct Waiting {
    QString runId;
    QByteArray json;
};

} // namespace

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

bool Outbox::Open(const QString& path, QString& problem) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        problem = QStringLiteral("the folder of %1 cannot be made").arg(path);
        return false;
    }
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
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS outbox (run_id TEXT PRIMARY KEY,"
                               " store_url TEXT NOT NULL, queued_utc TEXT NOT NULL,"
                               " record_json TEXT NOT NULL)"))) {
        problem = QStringLiteral("%1: %2").arg(path, sqlProblem(q.lastError()));
        return false;
    }
    open = true;
    return true;
}

bool Outbox::Queue(const RunRecord& record, const QString& storeUrl, QString& problem) {
    if (!open) {
        problem = QStringLiteral("the outbox is not open");
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(connectionName, false));
    q.prepare(QStringLiteral("INSERT INTO outbox (run_id, store_url, queued_utc, record_json)"
                             " VALUES (?, ?, ?, ?) ON CONFLICT (run_id) DO NOTHING"));
    q.addBindValue(record.runId);
    q.addBindValue(storeUrl);
    q.addBindValue(UtcText(QDateTime::currentDateTimeUtc()));
    q.addBindValue(
        QString::fromUtf8(QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Compact)));
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

SyncReport Outbox::Send(const QString& onlyUrl) {
    SyncReport report;
    if (!open) {
        report.problems << QStringLiteral("the outbox is not open");
        return report;
    }
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery q(db);
    q.prepare(onlyUrl.isEmpty() ? QStringLiteral("SELECT store_url, run_id, record_json FROM "
                                                 "outbox ORDER BY queued_utc")
                                : QStringLiteral("SELECT store_url, run_id, record_json FROM "
                                                 "outbox WHERE store_url = ? ORDER BY queued_utc"));
    if (!onlyUrl.isEmpty())
        q.addBindValue(onlyUrl);
    if (!q.exec()) {
        report.problems << sqlProblem(q.lastError());
        return report;
    }
    QMap<QString, QList<Waiting>> byStore;
    while (q.next())
        byStore[q.value(0).toString()]
            << Waiting{q.value(1).toString(), q.value(2).toString().toUtf8()};
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM outbox WHERE run_id = ?"));
    for (auto it = byStore.cbegin(); it != byStore.cend(); ++it) {
        RecordStore store;
        QString problem;
        if (!store.Open(it.key(), problem)) {
            report.left += int(it.value().size());
            report.problems << problem;
            continue;
        }
        for (const Waiting& waiting : it.value()) {
            RunRecord record;
            QString bad;
            if (!RecordFromJson(QJsonDocument::fromJson(waiting.json).object(), record, bad)) {
                report.left += 1;
                report.problems
                    << QStringLiteral("run %1 in the outbox: %2").arg(waiting.runId, bad);
                continue;
            }
            const RecordStore::Stored stored = store.Store(record, problem);
            if (stored == RecordStore::Stored::Failed) {
                report.left += 1;
                report.problems << problem;
                continue;
            }
            (stored == RecordStore::Stored::New ? report.sent : report.alreadyThere) += 1;
            // Only once the store has it does the record leave the outbox.
            remove.addBindValue(waiting.runId);
            if (!remove.exec())
                report.problems << sqlProblem(remove.lastError());
        }
    }
    return report;
}
