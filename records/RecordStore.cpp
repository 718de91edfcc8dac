#include "RecordStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <cmath>

namespace {

// Each schema version's statements, applied in order to bring an older
// store forward. Plain SQL that SQLite and PostgreSQL both take.
const QList<QStringList> Migrations = {
    // version 1
    {QStringLiteral("CREATE TABLE runs ("
                    " run_id TEXT PRIMARY KEY, station TEXT NOT NULL, operator TEXT NOT NULL,"
                    " dut_id TEXT NOT NULL, plan_name TEXT NOT NULL, plan_version TEXT NOT NULL,"
                    " plan_sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, port TEXT NOT NULL,"
                    " adapter_serial TEXT NOT NULL, adapter_firmware TEXT NOT NULL,"
                    " encoder_type INTEGER NOT NULL, encoder_serial TEXT NOT NULL,"
                    " encoder_part TEXT NOT NULL, encoder_firmware TEXT NOT NULL,"
                    " started_utc TEXT NOT NULL, ended_utc TEXT NOT NULL, outcome TEXT NOT NULL,"
                    " message TEXT NOT NULL)"),
     QStringLiteral("CREATE TABLE steps ("
                    " run_id TEXT NOT NULL REFERENCES runs(run_id) ON DELETE CASCADE,"
                    " position INTEGER NOT NULL, step_index INTEGER NOT NULL,"
                    " repetition INTEGER NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL,"
                    " outcome TEXT NOT NULL, message TEXT NOT NULL, started_utc TEXT NOT NULL,"
                    " ended_utc TEXT NOT NULL, PRIMARY KEY (run_id, position))"),
     QStringLiteral("CREATE TABLE measurements ("
                    " run_id TEXT NOT NULL REFERENCES runs(run_id) ON DELETE CASCADE,"
                    " step_position INTEGER NOT NULL, position INTEGER NOT NULL,"
                    " name TEXT NOT NULL, value DOUBLE PRECISION, unit TEXT NOT NULL,"
                    " low DOUBLE PRECISION, high DOUBLE PRECISION,"
                    " marginal_band DOUBLE PRECISION NOT NULL, outcome TEXT NOT NULL,"
                    " marginal INTEGER NOT NULL, time_utc TEXT NOT NULL,"
                    " PRIMARY KEY (run_id, step_position, position))"),
     QStringLiteral("CREATE TABLE attachments ("
                    " run_id TEXT NOT NULL REFERENCES runs(run_id) ON DELETE CASCADE,"
                    " position INTEGER NOT NULL, name TEXT NOT NULL, file TEXT NOT NULL,"
                    " sha256 TEXT NOT NULL, bytes BIGINT NOT NULL,"
                    " PRIMARY KEY (run_id, position))"),
     QStringLiteral("CREATE INDEX runs_by_serial ON runs (encoder_serial, started_utc)"),
     QStringLiteral("CREATE INDEX runs_by_station ON runs (station, started_utc)"),
     QStringLiteral("CREATE INDEX runs_by_start ON runs (started_utc)")},
};

const char* const SummaryColumns =
    "run_id, station, encoder_serial, plan_name, plan_version, outcome, started_utc, ended_utc";

QString sqlProblem(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

QDateTime utcOf(const QVariant& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

QVariant optionalNumber(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? QVariant(*value) : QVariant();
}

std::optional<double> optionalNumber(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return value.toDouble();
}

Outcome outcomeOf(const QVariant& value) {
    Outcome outcome = Outcome::Error;
    ParseOutcome(value.toString(), outcome);
    return outcome;
}

// Binds values in order; a null text becomes "" for the NOT NULL columns,
// while a missing number (an invalid QVariant) stays NULL.
void bindAll(QSqlQuery& q, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        const bool nullText = v.typeId() == QMetaType::QString && v.toString().isNull();
        q.bindValue(i, nullText ? QVariant(QStringLiteral("")) : v);
    }
}

bool isSqlite(const QString& url) {
    return url.startsWith(QLatin1String("sqlite:"));
}

bool isPostgres(const QString& url) {
    return url.startsWith(QLatin1String("postgresql://")) ||
           url.startsWith(QLatin1String("postgres://"));
}

bool configureSqlite(QSqlDatabase& db, const QString& url, QString& problem) {
    const QString path = url.mid(int(qstrlen("sqlite:")));
    if (path.isEmpty()) {
        problem = QStringLiteral("sqlite: needs a file, as in sqlite:/path/records.sqlite");
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        problem = QStringLiteral("the folder of %1 cannot be made").arg(path);
        return false;
    }
    db.setDatabaseName(path);
    // Stations on one machine may share the file: wait for each other.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    return true;
}

bool configurePostgres(QSqlDatabase& db, const QString& url, QString& problem) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString name = parsed.path().mid(1);
    if (!parsed.isValid() || parsed.host().isEmpty() || name.isEmpty()) {
        problem = QStringLiteral("a PostgreSQL store is postgresql://user@host:port/dbname");
        return false;
    }
    db.setHostName(parsed.host());
    db.setPort(parsed.port(5432));
    db.setDatabaseName(name);
    db.setUserName(parsed.userName());
    if (!parsed.password().isEmpty())
        db.setPassword(parsed.password());
    db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    return true;
}

} // namespace

RecordStore::RecordStore()
    : connectionName(QStringLiteral("records-") + QUuid::createUuid().toString()) {}

RecordStore::~RecordStore() {
    if (db.isValid())
        db.close();
    db = QSqlDatabase();
    if (QSqlDatabase::contains(connectionName))
        QSqlDatabase::removeDatabase(connectionName);
}

QString RecordStore::DefaultUrl() {
    return QStringLiteral("sqlite:") +
           QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/q714/records.sqlite");
}

QString RecordStore::ShownUrl(const QString& url) {
    if (!isPostgres(url))
        return url;
    QUrl shown(url);
    if (!shown.password().isEmpty())
        shown.setPassword(QStringLiteral("***"));
    return shown.toString();
}

bool RecordStore::Open(const QString& wanted, QString& problem) {
    fault = Fault::None;
    if (openStore(wanted, problem))
        return true;
    fault = Fault::Outage;
    return false;
}

bool RecordStore::openStore(const QString& wanted, QString& problem) {
    url = wanted.isEmpty() ? DefaultUrl() : wanted;
    const bool sqlite = isSqlite(url);
    if (!sqlite && !isPostgres(url)) {
        problem = QStringLiteral("%1 is not a store: use sqlite:PATH or "
                                 "postgresql://user@host:port/dbname")
                      .arg(ShownUrl(url));
        return false;
    }
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        problem = QStringLiteral("Qt's %1 driver is not installed").arg(driver);
        return false;
    }
    db = QSqlDatabase::addDatabase(driver, connectionName);
    if (!(sqlite ? configureSqlite(db, url, problem) : configurePostgres(db, url, problem)))
        return false;
    if (!db.open()) {
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(db.lastError()));
        return false;
    }
    if (sqlite) {
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    }
    if (!migrate(problem)) {
        db.close();
        return false;
    }
    return true;
}

bool RecordStore::IsOpen() const {
    return db.isValid() && db.isOpen();
}

// Brings the schema forward inside one transaction that holds the store's
// write lock, so stations opening a new store at once create it only once.
bool RecordStore::migrate(QString& problem) {
    const bool sqlite = db.driverName() == QLatin1String("QSQLITE");
    QSqlQuery q(db);
    const auto run = [&](const QString& sql) {
        if (q.exec(sql))
            return true;
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(q.lastError()));
        return false;
    };
    if (!run(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return false;
    const auto fail = [&] {
        q.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (!sqlite && !run(QStringLiteral("SELECT pg_advisory_xact_lock(7147)")))
        return fail();
    if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS q714_schema (version INTEGER NOT NULL)")) ||
        !run(QStringLiteral("SELECT version FROM q714_schema")))
        return fail();
    const bool known = q.next();
    schemaVersion = known ? q.value(0).toInt() : 0;
    if (schemaVersion > StoreSchemaVersion) {
        problem = QStringLiteral("%1 holds records of schema version %2; this q714 knows up to %3")
                      .arg(ShownUrl(url))
                      .arg(schemaVersion)
                      .arg(StoreSchemaVersion);
        return fail();
    }
    for (int version = schemaVersion + 1; version <= StoreSchemaVersion; ++version)
        for (const QString& statement : Migrations[version - 1])
            if (!run(statement))
                return fail();
    if (schemaVersion != StoreSchemaVersion) {
        const QString set = known ? QStringLiteral("UPDATE q714_schema SET version = %1")
                                  : QStringLiteral("INSERT INTO q714_schema VALUES (%1)");
        if (!run(set.arg(StoreSchemaVersion)))
            return fail();
        schemaVersion = StoreSchemaVersion;
    }
    return run(QStringLiteral("COMMIT")) || fail();
}

namespace {

bool insertRun(QSqlDatabase& db, const RunRecord& r, bool& inserted, QSqlError& error) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO runs (run_id, station, operator, dut_id, plan_name, plan_version,"
        " plan_sha256, tool_version, port, adapter_serial, adapter_firmware, encoder_type,"
        " encoder_serial, encoder_part, encoder_firmware, started_utc, ended_utc, outcome,"
        " message) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
        " ON CONFLICT (run_id) DO NOTHING"));
    bindAll(q, {r.runId, r.station, r.operatorName, r.dutId, r.planName, r.planVersion,
                r.planSha256, r.toolVersion, r.port, r.adapterSerial, r.adapterFirmware,
                r.encoderType, r.encoderSerial, r.encoderPart, r.encoderFirmware,
                UtcText(r.started), UtcText(r.ended), OutcomeName(r.outcome), r.message});
    if (!q.exec())
        return error = q.lastError(), false;
    inserted = q.numRowsAffected() > 0;
    return true;
}

bool insertSteps(QSqlDatabase& db, const RunRecord& r, QSqlError& error) {
    QSqlQuery step(db), measurement(db);
    step.prepare(QStringLiteral(
        "INSERT INTO steps (run_id, position, step_index, repetition, name, kind, outcome,"
        " message, started_utc, ended_utc) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    measurement.prepare(QStringLiteral(
        "INSERT INTO measurements (run_id, step_position, position, name, value, unit, low,"
        " high, marginal_band, outcome, marginal, time_utc)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int s = 0; s < r.steps.size(); ++s) {
        const StepRecord& st = r.steps[s];
        bindAll(step,
                {r.runId, s, st.index, st.repetition, st.name, st.kind, OutcomeName(st.outcome),
                 st.message, UtcText(st.started), UtcText(st.ended)});
        if (!step.exec())
            return error = step.lastError(), false;
        for (int m = 0; m < st.measurements.size(); ++m) {
            const Measurement& me = st.measurements[m];
            bindAll(measurement, {r.runId, s, m, me.name,
                                  std::isfinite(me.value) ? QVariant(me.value) : QVariant(),
                                  me.unit, optionalNumber(me.limits.low),
                                  optionalNumber(me.limits.high), me.limits.marginal,
                                  OutcomeName(me.outcome), int(me.marginal), UtcText(me.time)});
            if (!measurement.exec())
                return error = measurement.lastError(), false;
        }
    }
    return true;
}

bool insertAttachments(QSqlDatabase& db, const RunRecord& r, QSqlError& error) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO attachments (run_id, position, name, file, sha256,"
                             " bytes) VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < r.attachments.size(); ++i) {
        const Attachment& a = r.attachments[i];
        bindAll(q, {r.runId, i, a.name, a.file, a.sha256, a.bytes});
        if (!q.exec())
            return error = q.lastError(), false;
    }
    return true;
}

} // namespace

RecordStore::Stored RecordStore::Store(const RunRecord& record, QString& problem) {
    fault = Fault::None;
    const Stored stored = storeRecord(record, problem);
    if (stored == Stored::Failed)
        fault = Fault::Outage;
    return stored;
}

RecordStore::Stored RecordStore::storeRecord(const RunRecord& record, QString& problem) {
    if (!IsOpen()) {
        problem = QStringLiteral("the record store is not open");
        return Stored::Failed;
    }
    if (!db.transaction()) {
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(db.lastError()));
        return Stored::Failed;
    }
    bool inserted = false;
    QSqlError error;
    const bool ok =
        insertRun(db, record, inserted, error) &&
        (!inserted || (insertSteps(db, record, error) && insertAttachments(db, record, error)));
    if (!ok || !inserted) {
        db.rollback();
        if (ok)
            return Stored::AlreadyThere;
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(error));
        return Stored::Failed;
    }
    if (!db.commit()) {
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(db.lastError()));
        db.rollback();
        return Stored::Failed;
    }
    return Stored::New;
}

namespace {

// The WHERE clause and its values for a filter.
QString whereOf(const RecordFilter& filter, QVariantList& values) {
    QStringList conditions;
    if (!filter.serial.isEmpty())
        conditions << QStringLiteral("encoder_serial = ?"), values << filter.serial;
    if (!filter.station.isEmpty())
        conditions << QStringLiteral("station = ?"), values << filter.station;
    if (filter.outcome)
        conditions << QStringLiteral("outcome = ?"), values << OutcomeName(*filter.outcome);
    if (filter.since.isValid())
        conditions << QStringLiteral("started_utc >= ?"), values << UtcText(filter.since);
    return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(" AND ");
}

RecordSummary summaryOf(const QSqlQuery& q) {
    RecordSummary s;
    s.runId = q.value(0).toString();
    s.station = q.value(1).toString();
    s.encoderSerial = q.value(2).toString();
    s.planName = q.value(3).toString();
    s.planVersion = q.value(4).toString();
    s.outcome = outcomeOf(q.value(5));
    s.started = utcOf(q.value(6));
    s.ended = utcOf(q.value(7));
    return s;
}

bool selectRuns(QSqlQuery& q, const QString& columns, const RecordFilter& filter) {
    QVariantList values;
    QString sql = QStringLiteral("SELECT %1 FROM runs").arg(columns) + whereOf(filter, values) +
                  QStringLiteral(" ORDER BY started_utc DESC, run_id");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& value : values)
        q.addBindValue(value);
    return q.exec();
}

} // namespace

std::optional<QList<RecordSummary>> RecordStore::List(const RecordFilter& filter,
                                                      QString& problem) {
    QSqlQuery q(db);
    if (!IsOpen() || !selectRuns(q, QLatin1String(SummaryColumns), filter)) {
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(q.lastError()));
        return std::nullopt;
    }
    QList<RecordSummary> found;
    while (q.next())
        found << summaryOf(q);
    return found;
}

namespace {

void readRun(const QSqlQuery& q, RunRecord& r) {
    r.runId = q.value(0).toString();
    r.station = q.value(1).toString();
    r.operatorName = q.value(2).toString();
    r.dutId = q.value(3).toString();
    r.planName = q.value(4).toString();
    r.planVersion = q.value(5).toString();
    r.planSha256 = q.value(6).toString();
    r.toolVersion = q.value(7).toString();
    r.port = q.value(8).toString();
    r.adapterSerial = q.value(9).toString();
    r.adapterFirmware = q.value(10).toString();
    r.encoderType = q.value(11).toInt();
    r.encoderSerial = q.value(12).toString();
    r.encoderPart = q.value(13).toString();
    r.encoderFirmware = q.value(14).toString();
    r.started = utcOf(q.value(15));
    r.ended = utcOf(q.value(16));
    r.outcome = outcomeOf(q.value(17));
    r.message = q.value(18).toString();
}

const char* const RunColumns =
    "run_id, station, operator, dut_id, plan_name, plan_version, plan_sha256, tool_version,"
    " port, adapter_serial, adapter_firmware, encoder_type, encoder_serial, encoder_part,"
    " encoder_firmware, started_utc, ended_utc, outcome, message";

bool readSteps(QSqlDatabase& db, RunRecord& r) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT step_index, repetition, name, kind, outcome, message,"
                             " started_utc, ended_utc FROM steps WHERE run_id = ?"
                             " ORDER BY position"));
    q.addBindValue(r.runId);
    if (!q.exec())
        return false;
    while (q.next()) {
        StepRecord s;
        s.index = q.value(0).toInt();
        s.repetition = q.value(1).toInt();
        s.name = q.value(2).toString();
        s.kind = q.value(3).toString();
        s.outcome = outcomeOf(q.value(4));
        s.message = q.value(5).toString();
        s.started = utcOf(q.value(6));
        s.ended = utcOf(q.value(7));
        r.steps << s;
    }
    q.prepare(QStringLiteral("SELECT step_position, name, value, unit, low, high, marginal_band,"
                             " outcome, marginal, time_utc FROM measurements WHERE run_id = ?"
                             " ORDER BY step_position, position"));
    q.addBindValue(r.runId);
    if (!q.exec())
        return false;
    while (q.next()) {
        const int step = q.value(0).toInt();
        if (step < 0 || step >= r.steps.size())
            continue;
        Measurement m;
        m.name = q.value(1).toString();
        m.value = q.value(2).isNull() ? std::nan("") : q.value(2).toDouble();
        m.unit = q.value(3).toString();
        m.limits.low = optionalNumber(q.value(4));
        m.limits.high = optionalNumber(q.value(5));
        m.limits.marginal = q.value(6).toDouble();
        m.outcome = outcomeOf(q.value(7));
        m.marginal = q.value(8).toInt() != 0;
        m.time = utcOf(q.value(9));
        r.steps[step].measurements << m;
    }
    return true;
}

bool readAttachments(QSqlDatabase& db, RunRecord& r) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT name, file, sha256, bytes FROM attachments"
                             " WHERE run_id = ? ORDER BY position"));
    q.addBindValue(r.runId);
    if (!q.exec())
        return false;
    while (q.next())
        r.attachments << Attachment{q.value(0).toString(), q.value(1).toString(),
                                    q.value(2).toString(), q.value(3).toLongLong()};
    return true;
}

} // namespace

std::optional<RunRecord> RecordStore::Load(const QString& runId, QString& problem) {
    problem.clear();
    if (!IsOpen())
        return problem = QStringLiteral("the record store is not open"), std::nullopt;
    QSqlQuery q(db);
    const bool prefix = runId.size() >= 8 && runId.size() < 36;
    q.prepare(QStringLiteral("SELECT %1 FROM runs WHERE %2 LIMIT 2")
                  .arg(QLatin1String(RunColumns),
                       prefix ? QStringLiteral("substr(run_id, 1, %1) = ?").arg(runId.size())
                              : QStringLiteral("run_id = ?")));
    q.addBindValue(runId);
    if (!q.exec())
        return problem = sqlProblem(q.lastError()), std::nullopt;
    if (!q.next())
        return std::nullopt;
    RunRecord record;
    readRun(q, record);
    if (q.next())
        return problem = QStringLiteral("several records begin with %1").arg(runId), std::nullopt;
    if (!readSteps(db, record) || !readAttachments(db, record))
        return problem = sqlProblem(db.lastError()), std::nullopt;
    return record;
}

std::optional<QList<RunRecord>> RecordStore::LoadAll(const RecordFilter& filter, QString& problem) {
    QSqlQuery q(db);
    if (!IsOpen() || !selectRuns(q, QLatin1String(RunColumns), filter)) {
        problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(q.lastError()));
        return std::nullopt;
    }
    QList<RunRecord> records;
    while (q.next()) {
        RunRecord r;
        readRun(q, r);
        records << r;
    }
    for (RunRecord& r : records)
        if (!readSteps(db, r) || !readAttachments(db, r)) {
            problem = QStringLiteral("%1: %2").arg(ShownUrl(url), sqlProblem(db.lastError()));
            return std::nullopt;
        }
    return records;
}
