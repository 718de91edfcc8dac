#include "RecordStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <QWaitCondition>
#include <cmath>
#include <functional>
#include <libpq-fe.h>
#include <map>
#include <sys/socket.h>

namespace {

// The bounds of every wait on a PostgreSQL store: a connection is made within
// ConnectSeconds or not at all; the server ends a statement after 5 s and a
// wait for a lock after 3 s (SessionBounds); and a server that does not answer
// at all (stopped, or cut off without the connection being reset) has the
// connection cut by this side after NoAnswerMs. Keepalives find a peer gone
// while the connection is idle, and tcp_user_timeout data it never
// acknowledges.
constexpr int ConnectSeconds = 5;
constexpr int NoAnswerMs = 8000;
// The function form of SET statement_timeout and SET lock_timeout, both in
// one statement.
const char* const SessionBounds = "SELECT set_config('statement_timeout', '5s', false),"
                                  " set_config('lock_timeout', '3s', false)";
// Stations on one machine may share an SQLite file: each waits this long for
// another's write.
constexpr int SqliteBusyMs = 5000;

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

// The database's own words for an error: its first line (PostgreSQL adds
// the statement and a pointer into it on the next), with PostgreSQL's
// SQLSTATE.
QString sqlProblem(const QSqlError& error, bool postgres) {
    QString text = error.databaseText().section(QLatin1Char('\n'), 0, 0).simplified();
    if (text.isEmpty())
        text = error.driverText().simplified();
    if (text.isEmpty())
        return QStringLiteral("unknown database error");
    const QString code = error.nativeErrorCode();
    return postgres && !code.isEmpty() ? QStringLiteral("%1 (%2)").arg(text, code) : text;
}

QDateTime utcOf(const QVariant& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
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

// A table of a record and the columns of its rows, in the order of their
// values; `order` puts the rows of one run in their order.
struct Table {
    const char* name;
    const char* columns;
    const char* order;

    QStringList Columns() const { return QString::fromLatin1(columns).split(QLatin1String(", ")); }
    QString Insert() const {
        return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(QLatin1String(name), QLatin1String(columns),
                 QStringList(Columns().size(), QStringLiteral("?")).join(QLatin1String(", ")));
    }
    // The rows of one run id (bound).
    QString Select() const {
        return QStringLiteral("SELECT %2 FROM %1 WHERE run_id = ? ORDER BY %3")
            .arg(QLatin1String(name), QLatin1String(columns), QLatin1String(order));
    }
};

const Table Runs{"runs",
                 "run_id, station, operator, dut_id, plan_name, plan_version, plan_sha256, "
                 "tool_version, port, adapter_serial, adapter_firmware, encoder_type, "
                 "encoder_serial, encoder_part, encoder_firmware, started_utc, ended_utc, "
                 "outcome, message",
                 "run_id"};
const Table Steps{"steps",
                  "run_id, position, step_index, repetition, name, kind, outcome, message, "
                  "started_utc, ended_utc",
                  "position"};
const Table Measurements{"measurements",
                         "run_id, step_position, position, name, value, unit, low, high, "
                         "marginal_band, outcome, marginal, time_utc",
                         "step_position, position"};
const Table Attachments{"attachments", "run_id, position, name, file, sha256, bytes", "position"};

using Row = QVariantList;

// A record as the rows of its tables, each value as the store holds it: a
// null text as "" (the columns are NOT NULL), a missing or non-finite number
// as NULL.
struct RecordRows {
    Row run;
    QList<Row> steps;
    QList<Row> measurements;
    QList<Row> attachments;

    QList<QPair<const Table*, QList<Row>>> Tables() const {
        return {{&Runs, {run}},
                {&Steps, steps},
                {&Measurements, measurements},
                {&Attachments, attachments}};
    }
};

QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QVariant number(double value) {
    return std::isfinite(value) ? QVariant(value) : QVariant();
}

RecordRows rowsOf(const RunRecord& r) {
    RecordRows rows;
    rows.run = {
        text(r.runId),         text(r.station),        text(r.operatorName),    text(r.dutId),
        text(r.planName),      text(r.planVersion),    text(r.planSha256),      text(r.toolVersion),
        text(r.port),          text(r.adapterSerial),  text(r.adapterFirmware), r.encoderType,
        text(r.encoderSerial), text(r.encoderPart),    text(r.encoderFirmware), UtcText(r.started),
        UtcText(r.ended),      OutcomeName(r.outcome), text(r.message)};
    for (int s = 0; s < r.steps.size(); ++s) {
        const StepRecord& st = r.steps[s];
        rows.steps << Row{text(r.runId),
                          s,
                          st.index,
                          st.repetition,
                          text(st.name),
                          text(st.kind),
                          OutcomeName(st.outcome),
                          text(st.message),
                          UtcText(st.started),
                          UtcText(st.ended)};
        for (int m = 0; m < st.measurements.size(); ++m) {
            const Measurement& me = st.measurements[m];
            rows.measurements << Row{text(r.runId),
                                     s,
                                     m,
                                     text(me.name),
                                     number(me.value),
                                     text(me.unit),
                                     me.limits.low ? number(*me.limits.low) : QVariant(),
                                     me.limits.high ? number(*me.limits.high) : QVariant(),
                                     number(me.limits.marginal),
                                     OutcomeName(me.outcome),
                                     int(me.marginal),
                                     UtcText(me.time)};
        }
    }
    for (int i = 0; i < r.attachments.size(); ++i) {
        const Attachment& a = r.attachments[i];
        rows.attachments << Row{text(r.runId),  i,      text(a.name), text(a.file),
                                text(a.sha256), a.bytes};
    }
    return rows;
}

// A stored value and a record's value are the same: texts exactly, numbers
// by value, NULL only as NULL.
bool sameValue(const QVariant& stored, const QVariant& given) {
    if (stored.isNull() || given.isNull())
        return stored.isNull() == given.isNull();
    if (given.typeId() == QMetaType::QString)
        return stored.toString() == given.toString();
    if (given.typeId() == QMetaType::Double)
        return stored.toDouble() == given.toDouble();
    return stored.toLongLong() == given.toLongLong();
}

// Where text cannot be stored as it is: a NUL character (which PostgreSQL's
// text cannot hold), or a lone surrogate (not Unicode at all: it would reach
// either store altered). "table.column", or nothing.
QString unstorableText(const RecordRows& rows, bool postgres) {
    for (const auto& [table, tableRows] : rows.Tables())
        for (const Row& row : tableRows)
            for (int i = 0; i < row.size(); ++i) {
                if (row[i].typeId() != QMetaType::QString)
                    continue;
                const QString value = row[i].toString();
                if ((postgres && value.contains(QChar::Null)) || !value.isValidUtf16())
                    return QLatin1String(table->name) + QLatin1Char('.') + table->Columns()[i];
            }
    return {};
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
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(SqliteBusyMs));
    return true;
}

bool configurePostgres(QSqlDatabase& db, const QString& url, QString& problem) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString name = parsed.path().mid(1);
    if (!parsed.isValid() || parsed.host().isEmpty() || name.isEmpty()) {
        problem = QStringLiteral("%1 names no PostgreSQL database: use "
                                 "postgresql://user@host:port/dbname")
                      .arg(RecordStore::ShownUrl(url));
        return false;
    }
    if (parsed.hasQuery() || parsed.hasFragment()) { // never dropped in silence
        problem = QStringLiteral("%1: a PostgreSQL store takes no options after its database "
                                 "name; use postgresql://user@host:port/dbname")
                      .arg(RecordStore::ShownUrl(url));
        return false;
    }
    db.setHostName(parsed.host());
    db.setPort(parsed.port(5432));
    db.setDatabaseName(name);
    db.setUserName(parsed.userName());
    if (!parsed.password().isEmpty())
        db.setPassword(parsed.password());
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=5;"
                                        "keepalives_interval=2;keepalives_count=2;"
                                        "tcp_user_timeout=%2")
                             .arg(ConnectSeconds)
                             .arg(NoAnswerMs));
    return true;
}

// What a failed connection or statement means: the store cannot be reached
// now, it can never work as given, or it refuses this record for its
// content.
enum class Failure { Outage, Unusable, RecordRefused };

// By SQLite's primary result code (Qt gives it as the native error code).
Failure sqliteFailure(int code) {
    switch (code & 0xff) {
    case 18: // SQLITE_TOOBIG
    case 19: // SQLITE_CONSTRAINT
    case 20: // SQLITE_MISMATCH
        return Failure::RecordRefused;
    case 1:  // SQLITE_ERROR: no such table, an SQL error
    case 3:  // SQLITE_PERM
    case 8:  // SQLITE_READONLY
    case 11: // SQLITE_CORRUPT
    case 14: // SQLITE_CANTOPEN
    case 23: // SQLITE_AUTH
    case 26: // SQLITE_NOTADB
        return Failure::Unusable;
    default: // busy, locked, I/O, disk full: may pass
        return Failure::Outage;
    }
}

// By the class of PostgreSQL's SQLSTATE: data and integrity errors are the
// record's; credentials, unknown databases, missing privileges and SQL the
// server does not take are the store's for good; anything else (connection,
// shutdown, time-outs, locks, resources) may pass.
Failure postgresFailure(const QString& sqlState) {
    static const QStringList recordClasses = {"22", "23"};
    static const QStringList storeClasses = {"28", "3D", "3F", "42", "0A", "44"};
    const QString sqlClass = sqlState.left(2);
    if (recordClasses.contains(sqlClass))
        return Failure::RecordRefused;
    return storeClasses.contains(sqlClass) ? Failure::Unusable : Failure::Outage;
}

// A connection libpq could not make has no SQLSTATE, only libpq's message
// (with the server's, when it answered). These say it can never be made as
// given; anything else (refused, timed out, starting up or shutting down,
// too many connections) may pass.
Failure connectionFailure(const QString& message) {
    static const char* const forGood[] = {
        "authentication failed",     "no password supplied", "does not exist",
        "no pg_hba.conf entry",      "permission denied",    "not permitted to log in",
        "invalid connection option", "invalid port number",  "invalid integer value"};
    for (const char* words : forGood)
        if (message.contains(QLatin1String(words), Qt::CaseInsensitive))
            return Failure::Unusable;
    return Failure::Outage;
}

Failure failureOf(const QSqlError& error, bool postgres) {
    const QString code = error.nativeErrorCode();
    if (!postgres)
        return code.isEmpty() ? Failure::Outage : sqliteFailure(code.toInt());
    return code.isEmpty() ? connectionFailure(error.databaseText()) : postgresFailure(code);
}

PGconn* postgresConnection(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    // Qt 6 names the type by libpq's struct; Qt 5 named it by its typedef.
    const char* type = handle.typeName();
    if (!handle.isValid() || (qstrcmp(type, "pg_conn*") != 0 && qstrcmp(type, "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

void dropNotice(void*, const char*) {}

// Cuts a connection whose server has not answered for NoAnswerMs. Once
// connected, libpq waits for an answer without limit, and the kernel still
// acknowledges the data of a server process that is stopped, so neither TCP
// nor the server's own time-outs end that wait. Shutting the socket down
// (from this thread; the descriptor stays the connection's until it is
// closed) ends libpq's wait with the connection lost.
class AnswerWatch {
public:
    explicit AnswerWatch(int socket)
        : socket(socket), thread(QThread::create([this] { watch(); })) {
        thread->start();
    }
    ~AnswerWatch() {
        {
            QMutexLocker locked(&mutex);
            stopping = true;
            wake.wakeOne();
        }
        thread->wait();
    }

    // A wait for the server begins, or goes on after an answer.
    void Arm() {
        QMutexLocker locked(&mutex);
        deadline = QDeadlineTimer(NoAnswerMs);
        if (!armed) {
            armed = true;
            wake.wakeOne();
        }
    }
    void Disarm() {
        QMutexLocker locked(&mutex);
        armed = false;
    }
    bool Cut() const {
        QMutexLocker locked(&mutex);
        return cut;
    }

private:
    void watch() {
        QMutexLocker locked(&mutex);
        while (!stopping) {
            if (armed && deadline.hasExpired()) {
                ::shutdown(socket, SHUT_RDWR);
                cut = true;
                armed = false;
            } else {
                wake.wait(&mutex, armed ? deadline : QDeadlineTimer(QDeadlineTimer::Forever));
            }
        }
    }

    const int socket;
    mutable QMutex mutex;
    QWaitCondition wake;
    QDeadlineTimer deadline;
    bool armed = false;
    bool stopping = false;
    bool cut = false;
    std::unique_ptr<QThread> thread;
};

} // namespace

// The store's database connection. Every statement goes through it, so that
// each wait for a PostgreSQL server is watched, and the error of the last
// failed statement is kept.
class StoreConnection {
public:
    explicit StoreConnection(const QString& driver)
        : name(QStringLiteral("records-") + QUuid::createUuid().toString()) {
        db = QSqlDatabase::addDatabase(driver, name);
    }
    ~StoreConnection() {
        watch.reset(); // before the socket it watches is closed
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        statements.clear(); // with the driver gone: nothing is sent to free them
    }

    bool Postgres() const { return db.driverName() == QLatin1String("QPSQL"); }

    // Once open: PostgreSQL's notices kept off the terminal (libpq prints
    // them on standard error), every wait for the server watched, and the
    // server's own time-outs set for the session.
    bool SetUpPostgres() {
        PGconn* pg = postgresConnection(db);
        if (!pg)
            return Failed(
                QSqlError(QStringLiteral("Qt's PostgreSQL driver has no libpq connection"), {},
                          QSqlError::ConnectionError));
        PQsetNoticeProcessor(pg, dropNotice, nullptr);
        watch = std::make_unique<AnswerWatch>(PQsocket(pg));
        QSqlQuery q(db);
        return Exec(q, QLatin1String(SessionBounds));
    }

    // A statement without values.
    bool Exec(QSqlQuery& q, const QString& sql) {
        Waiting();
        return q.exec(sql) || Failed(q.lastError());
    }
    bool Exec(const QString& sql) {
        QSqlQuery q(db);
        return Exec(q, sql);
    }
    // The statement `sql` with `values` bound, executed; nothing when it
    // failed. Each statement is prepared once for the connection: on
    // PostgreSQL a preparation costs a round trip, and freeing it within a
    // failed transaction would be refused.
    QSqlQuery* Execute(const QString& sql, const QVariantList& values, bool forwardOnly = false) {
        QSqlQuery* q = prepared(sql, forwardOnly);
        if (!q)
            return nullptr;
        for (int i = 0; i < values.size(); ++i)
            q->bindValue(i, values[i]);
        Waiting();
        return q->exec() ? q : (Failed(q->lastError()), nullptr);
    }
    // Calls `row` for each row of an executed query; false when a row could
    // not be had (a forward-only PostgreSQL query fetches each from the
    // server).
    bool Rows(QSqlQuery& q, const std::function<void()>& row) {
        while (q.next()) {
            row();
            Waiting();
        }
        const bool complete = !q.lastError().isValid() || Failed(q.lastError());
        q.finish();
        return complete;
    }

    // Ends a transaction that failed or is not wanted, keeping the error
    // that ended it.
    void Rollback() {
        if (!db.isOpen())
            return;
        Waiting();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    }

    bool Failed(const QSqlError& failure) {
        error = failure;
        return false;
    }
    const QSqlError& Error() const { return error; }
    // The connection was cut for want of an answer.
    bool Cut() const { return watch && watch->Cut(); }
    // Between operations nothing is waited for.
    void Idle() {
        if (watch)
            watch->Disarm();
    }

    QSqlDatabase db;

private:
    void Waiting() {
        if (watch)
            watch->Arm();
    }

    QSqlQuery* prepared(const QString& sql, bool forwardOnly) {
        if (const auto known = statements.find(sql); known != statements.end())
            return known->second.get();
        auto q = std::make_unique<QSqlQuery>(db);
        q->setForwardOnly(forwardOnly);
        Waiting();
        if (!q->prepare(sql))
            return Failed(q->lastError()), nullptr;
        return statements.emplace(sql, std::move(q)).first->second.get();
    }

    const QString name;
    std::map<QString, std::unique_ptr<QSqlQuery>> statements;
    std::unique_ptr<AnswerWatch> watch;
    QSqlError error;
};

namespace {

// A connection cut for want of an answer, or lost without a word, is an
// outage; otherwise the error of the failed statement says.
Failure lastFailure(const StoreConnection* connection) {
    if (!connection || connection->Cut() || !connection->Error().isValid())
        return Failure::Outage;
    return failureOf(connection->Error(), connection->Postgres());
}

// The last statement was refused for want of a privilege: PostgreSQL's
// insufficient_privilege, SQLite's read-only file or denied access.
bool deniedToChange(const StoreConnection& connection) {
    const QString code = connection.Error().nativeErrorCode();
    if (connection.Postgres())
        return code == QLatin1String("42501");
    const int primary = code.toInt() & 0xff;
    return primary == 8 || primary == 3; // SQLITE_READONLY, SQLITE_PERM
}

// One operation of the store; once it ends, nothing is waited for.
class Operation {
public:
    explicit Operation(StoreConnection* connection) : connection(connection) {}
    ~Operation() {
        if (connection)
            connection->Idle();
    }

private:
    StoreConnection* connection;
};

} // namespace

RecordStore::RecordStore() = default;

RecordStore::~RecordStore() {
    close();
}

void RecordStore::close() {
    connection.reset();
    schemaVersion = 0;
    foundVersion = 0;
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
    close();
    fault = Fault::None;
    problem.clear();
    url = wanted.isEmpty() ? DefaultUrl() : wanted;
    if (openStore(problem))
        return true;
    close();
    return false;
}

bool RecordStore::openStore(QString& problem) {
    const bool sqlite = isSqlite(url);
    if (!sqlite && !isPostgres(url))
        return unusable(problem, QStringLiteral("%1 is not a store: use sqlite:PATH or "
                                                "postgresql://user@host:port/dbname")
                                     .arg(ShownUrl(url)));
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return unusable(problem, QStringLiteral("Qt's %1 driver is not installed").arg(driver));
    connection = std::make_unique<StoreConnection>(driver);
    QSqlDatabase& db = connection->db;
    QString wrong;
    if (!(sqlite ? configureSqlite(db, url, wrong) : configurePostgres(db, url, wrong)))
        return unusable(problem, wrong);
    if (!db.open())
        return connection->Failed(db.lastError()), failed(problem);
    const Operation operation(connection.get());
    if (!sqlite && !connection->SetUpPostgres())
        return failed(problem);
    if (sqlite) { // settings of this connection: nothing is written
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        pragma.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    }
    // The schema is read first, without a lock: a current store is used as
    // it is, and one of a newer schema is left as it was found.
    SchemaState found;
    if (!readSchema(found))
        return failed(problem);
    if (found.version > StoreSchemaVersion)
        return unusable(problem, newerSchema(found.version));
    foundVersion = found.version;
    if (found.version < StoreSchemaVersion && !migrate(found, problem))
        return false;
    schemaVersion = StoreSchemaVersion;
    return true;
}

bool RecordStore::IsOpen() const {
    return connection && connection->db.isOpen();
}

bool RecordStore::unusable(QString& problem, const QString& reason) {
    problem = reason;
    fault = Fault::Unusable;
    return false;
}

bool RecordStore::failed(QString& problem) {
    problem = failure();
    fault = lastFailure(connection.get()) == Failure::Unusable ? Fault::Unusable : Fault::Outage;
    return false;
}

QString RecordStore::failure() const {
    if (connection && connection->Cut())
        return QStringLiteral("%1: the server did not answer within %2 s; the connection was cut")
            .arg(ShownUrl(url), QString::number(NoAnswerMs / 1000));
    if (!connection || !connection->Error().isValid())
        return QStringLiteral("%1: the connection to the store was lost").arg(ShownUrl(url));
    return QStringLiteral("%1: %2").arg(ShownUrl(url),
                                        sqlProblem(connection->Error(), connection->Postgres()));
}

bool RecordStore::readSchema(SchemaState& state) {
    StoreConnection& c = *connection;
    QSqlQuery q(c.db);
    // A query of the catalog, not to_regclass(): under the migration lock
    // only a new snapshot sees the tables another station made meanwhile.
    const QString exists = c.Postgres()
                               ? QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables"
                                                " WHERE schemaname = current_schema()"
                                                " AND tablename = 'q714_schema'")
                               : QStringLiteral("SELECT count(*) FROM sqlite_master"
                                                " WHERE type = 'table' AND name = 'q714_schema'");
    if (!c.Exec(q, exists) || !q.next())
        return c.Failed(q.lastError());
    state = SchemaState{q.value(0).toBool(), 0};
    if (!state.table)
        return true;
    if (!c.Exec(q, QStringLiteral("SELECT version FROM q714_schema")))
        return false;
    state.version = q.next() ? q.value(0).toInt() : 0;
    return true;
}

QString RecordStore::newerSchema(int version) const {
    return QStringLiteral("%1 holds records of schema version %2; this q714 knows up to %3")
        .arg(ShownUrl(url), QString::number(version), QString::number(StoreSchemaVersion));
}

// Brings the schema forward inside one transaction that holds the store's
// write lock (SQLite) or its advisory lock (PostgreSQL, waited for no longer
// than the session's lock_timeout), so that stations opening a new store at
// once create it only once: the schema is read again under the lock. A user
// who may not change the schema (a station's role, a read-only file) is
// told who can.
bool RecordStore::migrate(SchemaState found, QString& problem) {
    StoreConnection& c = *connection;
    const bool sqlite = !c.Postgres();
    const auto fail = [&] {
        if (lastFailure(connection.get()) == Failure::Unusable && deniedToChange(c))
            unusable(problem, mayNotMigrate(found.version));
        else
            failed(problem);
        c.Rollback();
        return false;
    };
    if (sqlite) // a new store's journal; this cannot change within a transaction
        QSqlQuery(c.db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    if (!c.Exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")) ||
        (!sqlite && !c.Exec(QStringLiteral("SELECT pg_advisory_xact_lock(7147)"))) ||
        !readSchema(found))
        return fail();
    if (found.version > StoreSchemaVersion)
        return unusable(problem, newerSchema(found.version)), c.Rollback(), false;
    if (!found.table &&
        !c.Exec(QStringLiteral("CREATE TABLE q714_schema (version INTEGER NOT NULL)")))
        return fail();
    for (int version = found.version + 1; version <= StoreSchemaVersion; ++version)
        for (const QString& statement : Migrations[version - 1])
            if (!c.Exec(statement))
                return fail();
    if (found.version < StoreSchemaVersion &&
        !c.Execute(found.version > 0
                       ? QStringLiteral("UPDATE q714_schema SET version = ?")
                       : QStringLiteral("INSERT INTO q714_schema (version) VALUES (?)"),
                   {StoreSchemaVersion}))
        return fail();
    return c.Exec(QStringLiteral("COMMIT")) || fail();
}

QString RecordStore::mayNotMigrate(int found) const {
    const QString reason = sqlProblem(connection->Error(), connection->Postgres());
    const QString state =
        found == 0 ? QStringLiteral("%1 has no record tables yet, and this user may not make them "
                                    "(%2)")
                         .arg(ShownUrl(url), reason)
                   : QStringLiteral("%1 holds schema version %2 and this q714 needs %3, and this "
                                    "user may not migrate it (%4)")
                         .arg(ShownUrl(url), QString::number(found),
                              QString::number(StoreSchemaVersion), reason);
    return state + QStringLiteral(": the store's owner runs `q714 records migrate --db URL`");
}

namespace {

bool insertRows(StoreConnection& c, const QString& sql, const QList<Row>& rows) {
    for (const Row& row : rows)
        if (!c.Execute(sql, row))
            return false;
    return true;
}

// Inserts the run's row unless its run id is stored already.
bool insertRun(StoreConnection& c, const RecordRows& rows, bool& inserted) {
    QSqlQuery* q =
        c.Execute(Runs.Insert() + QStringLiteral(" ON CONFLICT (run_id) DO NOTHING"), rows.run);
    if (q)
        inserted = q->numRowsAffected() > 0;
    return q;
}

bool insertRest(StoreConnection& c, const RecordRows& rows) {
    return insertRows(c, Steps.Insert(), rows.steps) &&
           insertRows(c, Measurements.Insert(), rows.measurements) &&
           insertRows(c, Attachments.Insert(), rows.attachments);
}

bool storedRows(StoreConnection& c, const Table& table, const QString& runId, QList<Row>& rows) {
    QSqlQuery* q = c.Execute(table.Select(), {runId});
    const int columns = int(table.Columns().size());
    return q && c.Rows(*q, [&] {
        Row& row = rows.emplaceBack();
        for (int i = 0; i < columns; ++i)
            row << q->value(i);
    });
}

// Where the stored record of the run differs from `rows` ("table.column", or
// "table" for another number of rows); nothing when they are the same.
bool differenceFrom(StoreConnection& c, const RecordRows& rows, QString& difference) {
    for (const auto& [table, given] : rows.Tables()) {
        QList<Row> stored;
        if (!storedRows(c, *table, rows.run.first().toString(), stored))
            return false;
        if (stored.size() != given.size())
            return difference = QLatin1String(table->name), true;
        for (int r = 0; r < given.size(); ++r)
            for (int i = 0; i < given[r].size(); ++i)
                if (!sameValue(stored[r][i], given[r][i]))
                    return difference =
                               QLatin1String(table->name) + QLatin1Char('.') + table->Columns()[i],
                           true;
    }
    return true;
}

} // namespace

// Ready for an operation: open, and its connection not lost.
bool RecordStore::usable(QString& problem) {
    fault = Fault::None;
    problem.clear();
    if (!connection)
        return unusable(problem, QStringLiteral("the record store is not open"));
    return IsOpen() || failed(problem);
}

RecordStore::Stored RecordStore::Store(const RunRecord& record, QString& problem) {
    const Operation operation(connection.get());
    return storeRecord(record, problem);
}

// In one transaction: the run's row, and only when its run id was not
// stored yet, its steps, measurements and attachments. A run id stored
// already is compared, never overwritten.
RecordStore::Stored RecordStore::storeRecord(const RunRecord& record, QString& problem) {
    if (!usable(problem))
        return Stored::Failed;
    StoreConnection& c = *connection;
    const RecordRows rows = rowsOf(record);
    if (const QString where = unstorableText(rows, c.Postgres()); !where.isEmpty()) {
        problem = QStringLiteral("%1: run %2 cannot be stored: its %3 holds text the store "
                                 "cannot hold (a NUL character or a lone surrogate)")
                      .arg(ShownUrl(url), record.runId, where);
        return Stored::Refused;
    }
    bool inserted = false;
    QString difference;
    if (!c.Exec(QStringLiteral("BEGIN")) || !insertRun(c, rows, inserted) ||
        !(inserted ? insertRest(c, rows) : differenceFrom(c, rows, difference)) ||
        (inserted && !c.Exec(QStringLiteral("COMMIT"))))
        return refusedOrFailed(record, problem);
    if (inserted)
        return Stored::New;
    c.Rollback(); // nothing was written
    if (difference.isEmpty())
        return Stored::AlreadyThere;
    problem = QStringLiteral("%1: run %2 is stored already with other content (%3 differs); "
                             "the stored record is kept")
                  .arg(ShownUrl(url), record.runId, difference);
    return Stored::Conflict;
}

// A failed store: the record's own fault (its data refused by the store:
// it would be refused again) or the store's.
RecordStore::Stored RecordStore::refusedOrFailed(const RunRecord& record, QString& problem) {
    const bool refused = lastFailure(connection.get()) == Failure::RecordRefused;
    failed(problem);
    connection->Rollback();
    if (!refused)
        return Stored::Failed;
    fault = Fault::None;
    problem = QStringLiteral("%1: run %2 refused by the store: %3")
                  .arg(ShownUrl(url), record.runId,
                       sqlProblem(connection->Error(), connection->Postgres()));
    return Stored::Refused;
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

// The runs of the filter, newest first; nothing when the query failed.
QSqlQuery* selectRuns(StoreConnection& c, const QString& columns, const RecordFilter& filter) {
    QVariantList values;
    QString sql = QStringLiteral("SELECT %1 FROM runs").arg(columns) + whereOf(filter, values) +
                  QStringLiteral(" ORDER BY started_utc DESC, run_id");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT ?"), values << filter.limit;
    return c.Execute(sql, values, true);
}

} // namespace

std::optional<QList<RecordSummary>> RecordStore::List(const RecordFilter& filter,
                                                      QString& problem) {
    if (!usable(problem))
        return std::nullopt;
    const Operation operation(connection.get());
    QList<RecordSummary> found;
    QSqlQuery* q =
        selectRuns(*connection,
                   QStringLiteral("run_id, station, encoder_serial, plan_name, plan_version,"
                                  " outcome, started_utc, ended_utc"),
                   filter);
    if (!q || !connection->Rows(*q, [&] { found << summaryOf(*q); }))
        return failed(problem), std::nullopt;
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

// A row of Steps.
StepRecord stepOf(const QSqlQuery& q) {
    StepRecord s;
    s.index = q.value(2).toInt();
    s.repetition = q.value(3).toInt();
    s.name = q.value(4).toString();
    s.kind = q.value(5).toString();
    s.outcome = outcomeOf(q.value(6));
    s.message = q.value(7).toString();
    s.started = utcOf(q.value(8));
    s.ended = utcOf(q.value(9));
    return s;
}

// A row of Measurements.
Measurement measurementOf(const QSqlQuery& q) {
    Measurement m;
    m.name = q.value(3).toString();
    m.value = q.value(4).isNull() ? std::nan("") : q.value(4).toDouble();
    m.unit = q.value(5).toString();
    m.limits.low = optionalNumber(q.value(6));
    m.limits.high = optionalNumber(q.value(7));
    m.limits.marginal = q.value(8).toDouble();
    m.outcome = outcomeOf(q.value(9));
    m.marginal = q.value(10).toInt() != 0;
    m.time = utcOf(q.value(11));
    return m;
}

// The rows of `table` for the run, each handed to `row`.
bool readRows(StoreConnection& c, const Table& table, const QString& runId,
              const std::function<void(const QSqlQuery&)>& row) {
    QSqlQuery* q = c.Execute(table.Select(), {runId});
    return q && c.Rows(*q, [&] { row(*q); });
}

bool readRest(StoreConnection& c, RunRecord& r) {
    return readRows(c, Steps, r.runId, [&](const QSqlQuery& q) { r.steps << stepOf(q); }) &&
           readRows(c, Measurements, r.runId,
                    [&](const QSqlQuery& q) {
                        const int step = q.value(1).toInt();
                        if (step >= 0 && step < r.steps.size())
                            r.steps[step].measurements << measurementOf(q);
                    }) &&
           readRows(c, Attachments, r.runId, [&](const QSqlQuery& q) {
               r.attachments << Attachment{q.value(2).toString(), q.value(3).toString(),
                                           q.value(4).toString(), q.value(5).toLongLong()};
           });
}

} // namespace

std::optional<RunRecord> RecordStore::Load(const QString& runId, QString& problem) {
    if (!usable(problem))
        return std::nullopt;
    const Operation operation(connection.get());
    StoreConnection& c = *connection;
    // A prefix is compared in characters, as both stores count them.
    const bool prefix = runId.size() >= 8 && runId.size() < 36;
    QSqlQuery* q = c.Execute(QStringLiteral("SELECT %1 FROM runs WHERE %2 LIMIT 2")
                                 .arg(QLatin1String(Runs.columns),
                                      prefix ? QStringLiteral("substr(run_id, 1, length(?)) = ?")
                                             : QStringLiteral("run_id = ?")),
                             prefix ? QVariantList{runId, runId} : QVariantList{runId});
    QList<RunRecord> found;
    if (!q || !c.Rows(*q, [&] { readRun(*q, found.emplaceBack()); }))
        return failed(problem), std::nullopt;
    if (found.isEmpty())
        return std::nullopt;
    if (found.size() > 1)
        return problem = QStringLiteral("several records begin with %1").arg(runId), std::nullopt;
    if (!readRest(c, found.first()))
        return failed(problem), std::nullopt;
    return found.first();
}

std::optional<QList<RunRecord>> RecordStore::LoadAll(const RecordFilter& filter, QString& problem) {
    if (!usable(problem))
        return std::nullopt;
    const Operation operation(connection.get());
    StoreConnection& c = *connection;
    QList<RunRecord> records;
    QSqlQuery* q = selectRuns(c, QLatin1String(Runs.columns), filter);
    if (!q || !c.Rows(*q, [&] { readRun(*q, records.emplaceBack()); }))
        return failed(problem), std::nullopt;
    for (RunRecord& r : records)
        if (!readRest(c, r))
            return failed(problem), std::nullopt;
    return records;
}
