// The record store on both of its back-ends: SQLite in a temporary file and
// a real PostgreSQL server (the postgres fixture; its rows skip without
// one). A record read back is the record stored, whatever its text; a run id
// is stored once (the same record again is known, another one a conflict);
// a record the store cannot take is refused; listings filter and sort as a
// line asks; opening a current store takes no lock, and a store of a newer
// schema is left untouched; stations opening a new store at once create it
// once; a line's roles do what their grants allow; failures tell an outage
// from a store that can never work; and the outbox gives a record up only
// once its store has it. A server that stops answering holds no operation,
// and its notices never reach the terminal.
#include "Outbox.h"
#include "RecordStore.h"

#include "PostgresTestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

RunRecord record(const QString& serial, const QString& station, Outcome outcome, int minute) {
    RunRecord r;
    r.runId = NewRunId();
    r.station = station;
    r.operatorName = QStringLiteral("Ana");
    r.planName = QStringLiteral("eol");
    r.planVersion = QStringLiteral("3");
    r.planSha256 = QString(64, QLatin1Char('d'));
    r.toolVersion = QStringLiteral("1.0.0.1");
    r.encoderType = 2;
    r.encoderSerial = serial;
    r.started = QDateTime(QDate(2026, 12, 10), QTime(8, minute, 0, 125), Qt::UTC);
    r.ended = r.started.addSecs(30);
    r.outcome = outcome;
    for (int s = 1; s <= 2; ++s) {
        StepRecord step;
        step.index = s;
        step.name = step.kind = QStringLiteral("read");
        step.outcome = outcome;
        step.started = r.started;
        step.ended = r.ended;
        Measurement m;
        m.name = QStringLiteral("error_count");
        m.value = s == 2 ? std::nan("") : 0.5 * s;
        m.limits.high = 0;
        m.limits.marginal = 0.1;
        m.outcome = outcome;
        m.time = r.ended;
        step.measurements << m;
        r.steps << step;
    }
    r.attachments << Attachment{"errormap", "a.csv", QString(64, 'e'), 10};
    return r;
}

QByteArray json(const RunRecord& r) {
    return QJsonDocument(RecordJson(r)).toJson();
}

// Runs the fixture's server script (stall, unstall, pause, resume).
bool postgresScript(const char* action) {
    const QString folder = QFileInfo(qEnvironmentVariable("Q714_TEST_POSTGRES_URL_FILE")).path();
    return QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT), {action, folder}) == 0;
}

// A connection `name` to the store at `url` beside the program's, as the
// line's database administrator has one: SQLite through a connection of its
// own, PostgreSQL as the fixture's superuser (or as `role`). Closed with
// closeRaw().
QSqlDatabase openRaw(const QString& url, const QString& name, const QString& role = {}) {
    QSqlDatabase db;
    if (url.startsWith("sqlite:")) {
        db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(url.mid(7));
    } else {
        const QUrl server(PostgresTestServerUrl());
        db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setUserName(role.isEmpty() ? server.userName() : role);
        db.setDatabaseName(QUrl(url).path().mid(1));
    }
    if (!db.open())
        qWarning("%s", qPrintable(db.lastError().text()));
    return db;
}

void closeRaw(const QString& name) {
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

// Runs `statements` on the store at `url` as its administrator: the first
// column of the last one's first row ("" without a row), or nothing after
// a warning naming the statement that failed.
std::optional<QString> onStore(const QString& url, const QStringList& statements,
                               const QString& role = {}) {
    std::optional<QString> value = QString();
    {
        QSqlDatabase db = openRaw(url, "administrator", role);
        for (const QString& statement : statements) {
            QSqlQuery q(db);
            if (!q.exec(statement)) {
                qWarning("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
                value.reset();
                break;
            }
            value = q.next() ? q.value(0).toString() : QString();
        }
    }
    closeRaw("administrator");
    return value;
}

// The store's URL for another of its users.
QString as(const QString& url, const QString& role) {
    QUrl other(url);
    other.setUserName(role);
    return other.toString();
}

// What a store holds, to see that it was left alone: an SQLite file's bytes
// and the files beside it, or a PostgreSQL database's tables and version.
QByteArray fingerprint(const QString& url) {
    if (url.startsWith("sqlite:")) {
        const QFileInfo file(url.mid(7));
        QFile bytes(file.filePath());
        bytes.open(QIODevice::ReadOnly);
        return bytes.readAll() +
               file.dir().entryList({file.fileName() + "*"}, QDir::Files).join(',').toUtf8();
    }
    return onStore(url, {"SELECT string_agg(tablename, ',' ORDER BY tablename) || ':' ||"
                         " (SELECT string_agg(version::text, ',') FROM q714_schema)"
                         " FROM pg_tables WHERE schemaname = 'public'"})
        .value_or("unreadable")
        .toUtf8();
}

// What this process writes on standard error while it lives.
class CaughtStandardError {
public:
    CaughtStandardError() {
        file.open();
        std::fflush(stderr);
        saved = ::dup(STDERR_FILENO);
        ::dup2(file.handle(), STDERR_FILENO);
    }
    ~CaughtStandardError() { restore(); }
    QByteArray Text() {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore() {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

// Operations on stations of their own (a thread each, where the store is
// created, opened, used and destroyed), started together once every
// station is ready.
class Stations {
public:
    struct Result {
        bool done = false; // the operation succeeded
        RecordStore::Fault fault = RecordStore::Fault::None;
        QString problem;
    };
    using Operation = std::function<bool(RecordStore&, QString&)>;

    ~Stations() { Finish(); }
    // `before` runs first (opening the store, say); `operation` once all go.
    void Add(const Operation& before, const Operation& operation) {
        results.emplace_back(std::make_unique<Result>());
        Result* result = results.back().get();
        threads.emplace_back(QThread::create([this, before, operation, result] {
            RecordStore store;
            QString problem;
            const bool ready = before(store, problem);
            this->ready.release();
            go.acquire();
            result->done = ready && operation(store, problem);
            result->fault = store.LastFault();
            result->problem = problem;
        }));
        threads.back()->start();
    }
    void WaitUntilReady() { ready.acquire(int(threads.size())); }
    void Go() { go.release(int(threads.size())); }
    // Whether every station ended within `ms`.
    bool Ended(int ms) {
        QDeadlineTimer deadline(ms);
        for (auto& thread : threads)
            if (!thread->wait(deadline))
                return false;
        return true;
    }
    void Finish() {
        Go();
        for (auto& thread : threads)
            thread->wait();
        threads.clear();
    }
    const Result& operator[](int i) const { return *results[size_t(i)]; }

private:
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<Result>> results;
    QSemaphore ready, go;
};

} // namespace

Q_DECLARE_METATYPE(RecordStore::Fault)

class TestRecordStore : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    int fresh = 0;

    // A new empty store of the row's back-end; empty (after a skip) without one.
    QString newStore() {
        QFETCH(QString, backend);
        ++fresh;
        if (backend == QLatin1String("sqlite"))
            return QStringLiteral("sqlite:%1/store-%2.sqlite").arg(folder.path()).arg(fresh);
        return FreshPostgresDatabase(QStringLiteral("q714_store_%1").arg(fresh));
    }

    void backends() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

#define OPEN_STORE(url)                                                                            \
    const QString url = newStore();                                                                \
    if (url.isEmpty())                                                                             \
        QSKIP("no PostgreSQL test server (see the postgres_start test)");

private slots:
    void initTestCase() {
        // A role that signs in with a password (the fixture's server asks
        // members of q714_password_login for one).
        const QString server = PostgresTestServerUrl();
        if (!server.isEmpty())
            QVERIFY(onStore(server, {"DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE"
                                     " rolname = 'q714_password_user') THEN CREATE ROLE"
                                     " q714_password_user LOGIN PASSWORD 'right'"
                                     " IN ROLE q714_password_login; END IF; END $$"}));
    }

    void aStoredRecordReadsBackWhole_data() {
        backends();
    }
    void aStoredRecordReadsBackWhole() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY2(store.Open(url, problem), qPrintable(problem));
        QCOMPARE(store.SchemaVersion(), StoreSchemaVersion);
        const RunRecord written = record("UX1", "st1", Outcome::Fail, 1);
        QCOMPARE(store.Store(written, problem), RecordStore::Stored::New);
        const std::optional<RunRecord> read = store.Load(written.runId, problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(json(*read), json(written));
        QVERIFY(std::isnan(read->steps[1].measurements[0].value));
        QVERIFY(!read->steps[0].measurements[0].limits.low);
    }

    // A run id is stored once. The same record again is AlreadyThere (a sync
    // cut off after storing sends it again); another record under the same
    // run id is a Conflict naming what differs, and the stored one stays.
    void aRecordIsNeverStoredTwice_data() {
        backends();
    }
    void aRecordIsNeverStoredTwice() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        RunRecord r = record("UX1", "st1", Outcome::Pass, 1);
        r.steps[0].measurements[0].value = 0.1 * 3; // numbers that only match exactly
        r.steps[0].measurements[0].limits.low = 1.0 / 3;
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::New);
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::AlreadyThere);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        const auto conflicts = [&](const std::function<void(RunRecord&)>& change,
                                   const char* difference) {
            RunRecord other = r;
            change(other);
            QString why;
            return store.Store(other, why) == RecordStore::Stored::Conflict &&
                   why.contains(difference) && why.contains(r.runId) &&
                   store.LastFault() == RecordStore::Fault::None;
        };
        QVERIFY(conflicts([](RunRecord& o) { o.outcome = Outcome::Fail; }, "runs.outcome"));
        QVERIFY(conflicts([](RunRecord& o) { o.steps[1].measurements[0].value = 7; },
                          "measurements.value"));
        QVERIFY(conflicts([](RunRecord& o) { o.steps[0].measurements[0].limits.low.reset(); },
                          "measurements.low"));
        QVERIFY(conflicts([](RunRecord& o) { o.steps << o.steps.first(); }, "steps"));
        QVERIFY(conflicts([](RunRecord& o) { o.attachments.clear(); }, "attachments"));
        QCOMPARE(json(*store.Load(r.runId, problem)), json(r)); // as first stored
        QCOMPARE(store.List({}, problem)->size(), 1);
    }

    // A record the store cannot take for its own content is Refused with the
    // reason (it would be refused again: it is set aside, not retried), the
    // store keeps nothing of it and goes on taking other records. Text with
    // a NUL character PostgreSQL cannot hold (SQLite holds it exactly); a
    // lone surrogate is no Unicode for either; and a rule of the line's
    // database (a CHECK constraint, an SQLite trigger) refuses what it will.
    void aRecordTheStoreCannotHoldIsRefused_data() {
        backends();
    }
    void aRecordTheStoreCannotHoldIsRefused() {
        OPEN_STORE(url);
        const bool sqlite = url.startsWith("sqlite:");
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        QVERIFY(onStore(url, {sqlite ? "CREATE TRIGGER line_rule BEFORE INSERT ON runs"
                                       " WHEN NEW.station = 'retired'"
                                       " BEGIN SELECT RAISE(ABORT, 'station retired'); END"
                                     : "ALTER TABLE runs ADD CONSTRAINT line_rule"
                                       " CHECK (station <> 'retired')"}));
        const auto refused = [&](const RunRecord& r, const char* reason) {
            QString why;
            const RecordStore::Stored stored = store.Store(r, why);
            QString none;
            return stored == RecordStore::Stored::Refused && why.contains(reason) &&
                   store.LastFault() == RecordStore::Fault::None && !store.Load(r.runId, none) &&
                   none.isEmpty();
        };
        RunRecord nul = record("UX1", "st1", Outcome::Pass, 1);
        nul.message = QStringLiteral("before") + QChar(0) + QStringLiteral("after");
        if (sqlite) {
            QCOMPARE(store.Store(nul, problem), RecordStore::Stored::New);
            QCOMPARE(store.Load(nul.runId, problem)->message, nul.message);
        } else {
            QVERIFY(refused(nul, "runs.message"));
        }
        RunRecord surrogate = record("UX1", "st1", Outcome::Pass, 2);
        surrogate.steps[1].name = QStringLiteral("step ") + QChar(0xd800);
        QVERIFY(refused(surrogate, "steps.name"));
        QVERIFY(refused(record("UX1", "retired", Outcome::Pass, 3),
                        sqlite ? "station retired" : "line_rule"));
        QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 4), problem),
                 RecordStore::Stored::New);
    }

    void listingsFilterAndPutTheNewestFirst_data() {
        backends();
    }
    void listingsFilterAndPutTheNewestFirst() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        store.Store(record("UX1", "st1", Outcome::Pass, 1), problem);
        store.Store(record("UX2", "st1", Outcome::Fail, 2), problem);
        store.Store(record("UX1", "st2", Outcome::Fail, 3), problem);
        store.Store(record("UX3", "st2", Outcome::Error, 4), problem);
        const auto all = store.List({}, problem);
        QCOMPARE(all->size(), 4);
        QCOMPARE(all->first().encoderSerial, "UX3");
        QCOMPARE(all->last().started.time().minute(), 1);
        RecordFilter serial;
        serial.serial = "UX1";
        QCOMPARE(store.List(serial, problem)->size(), 2);
        RecordFilter failedOnSt1;
        failedOnSt1.station = "st1";
        failedOnSt1.outcome = Outcome::Fail;
        QCOMPARE(store.List(failedOnSt1, problem)->size(), 1);
        RecordFilter since;
        since.since = QDateTime(QDate(2026, 12, 10), QTime(8, 3), Qt::UTC);
        QCOMPARE(store.List(since, problem)->size(), 2);
        RecordFilter two;
        two.limit = 2;
        QCOMPARE(store.List(two, problem)->size(), 2);
        QCOMPARE(store.LoadAll(serial, problem)->size(), 2);
        QCOMPARE(store.LoadAll(serial, problem)->first().steps.size(), 2);
    }

    void aRunIdMayBeShortenedWhileItIsUnique_data() {
        backends();
    }
    void aRunIdMayBeShortenedWhileItIsUnique() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        RunRecord a = record("UX1", "st1", Outcome::Pass, 1);
        RunRecord b = record("UX2", "st1", Outcome::Pass, 2);
        a.runId = "abcdef12-0000-4000-8000-000000000001";
        b.runId = "abcdef12-0000-4000-8000-000000000002";
        store.Store(a, problem);
        store.Store(b, problem);
        QCOMPARE(store.Load("abcdef12-0000-4000-8000-000000000002", problem)->encoderSerial, "UX2");
        QVERIFY(!store.Load("abcdef12", problem));
        QVERIFY(problem.contains("several"));
        QVERIFY(!store.Load("abcdef12-0000-4000-8000-00000000000", problem)); // still two
        QVERIFY(!store.Load("ffffffff", problem));
        QVERIFY(problem.isEmpty());            // none at all is no error
        QVERIFY(!store.Load("abcd", problem)); // too short to be a prefix
    }

    // Every value reaches the store as a bound value: text with quotes,
    // backslashes, dollar quotes, placeholders, comment marks and characters
    // beyond ASCII is stored, compared, read back and matched by the filters
    // exactly, and a run id's prefix is counted in characters.
    void anyTextRoundTripsExactly_data() {
        backends();
    }
    void anyTextRoundTripsExactly() {
        OPEN_STORE(url);
        const QString tricky = QStringLiteral("O'Brien \"q\" ' '' \\ \\\\ $$ $1 $q$ ? :name %_ ;"
                                              " -- /* */ E'\\x41' \t\n Ünïcödé 日本 😀");
        RunRecord r = record(tricky, tricky, Outcome::Pass, 1);
        r.runId = QStringLiteral("ünï😀$$'\\-") + NewRunId(); // as a JSON file may bring one
        r.operatorName = r.message = r.planName = tricky;
        r.steps[0].name = r.steps[1].measurements[0].unit = tricky;
        r.attachments[0].file = tricky;
        RecordStore store;
        QString problem;
        QVERIFY2(store.Open(url, problem), qPrintable(problem));
        QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 2), problem),
                 RecordStore::Stored::New);
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::New);
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::AlreadyThere);
        const std::optional<RunRecord> read = store.Load(r.runId, problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(json(*read), json(r));
        const std::optional<RunRecord> byPrefix = store.Load(r.runId.left(12), problem);
        QVERIFY2(byPrefix, qPrintable(problem));
        QCOMPARE(byPrefix->runId, r.runId);

        RecordFilter serial;
        serial.serial = tricky;
        QCOMPARE(store.List(serial, problem)->size(), 1);
        QCOMPARE(store.LoadAll(serial, problem)->first().message, tricky);
        RecordFilter station;
        station.station = tricky;
        station.limit = 1;
        QCOMPARE(store.List(station, problem)->first().runId, r.runId);
        RecordFilter wildcard; // matched as text, never as a pattern
        wildcard.station = QStringLiteral("%");
        QCOMPARE(store.List(wildcard, problem)->size(), 0);
        RecordFilter one;
        one.limit = 1;
        QCOMPARE(store.List(one, problem)->size(), 1);
    }

    void aStoreOfANewerSchemaIsLeftAlone_data() {
        backends();
    }
    void aStoreOfANewerSchemaIsLeftAlone() {
        OPEN_STORE(url);
        QString problem;
        {
            RecordStore store;
            QVERIFY(store.Open(url, problem));
            store.Store(record("UX1", "st1", Outcome::Pass, 1), problem);
        }
        {
            RecordStore again; // opening again migrates nothing
            QVERIFY(again.Open(url, problem));
            QCOMPARE(again.List({}, problem)->size(), 1);
        }
        QVERIFY(onStore(url, {"UPDATE q714_schema SET version = 99"}));
        if (url.startsWith("sqlite:")) // as another program may leave it: a rollback journal
            QVERIFY(onStore(url, {"PRAGMA journal_mode=DELETE"}));
        const QByteArray before = fingerprint(url);
        RecordStore newer;
        QVERIFY(!newer.Open(url, problem));
        QVERIFY2(problem.contains("schema version 99"), qPrintable(problem));
        QCOMPARE(newer.LastFault(), RecordStore::Fault::Unusable);
        QCOMPARE(fingerprint(url), before); // byte for byte
        QVERIFY(onStore(
            url, {QStringLiteral("UPDATE q714_schema SET version = %1").arg(StoreSchemaVersion)}));
        RecordStore back;
        QVERIFY(back.Open(url, problem));
        QCOMPARE(back.List({}, problem)->size(), 1);
    }

    // Opening a store of the current schema reads its version and nothing
    // more: it waits for no lock another station holds (SQLite's write lock,
    // PostgreSQL's advisory lock of a migration) and runs no DDL (a database
    // that refuses every DDL statement still opens).
    void openingACurrentStoreTakesNoLock_data() {
        backends();
    }
    void openingACurrentStoreTakesNoLock() {
        OPEN_STORE(url);
        QString problem;
        {
            RecordStore store;
            QVERIFY(store.Open(url, problem));
            QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                     RecordStore::Stored::New);
        }
        const bool sqlite = url.startsWith("sqlite:");
        if (!sqlite)
            QVERIFY(onStore(
                url, {"CREATE FUNCTION q714_refuse() RETURNS event_trigger LANGUAGE plpgsql AS $$"
                      " BEGIN RAISE EXCEPTION 'no DDL here: %', tg_tag; END $$",
                      "CREATE EVENT TRIGGER q714_no_ddl ON ddl_command_start"
                      " EXECUTE FUNCTION q714_refuse()"}));
        QSqlDatabase holder = openRaw(url, "holder");
        QVERIFY(
            QSqlQuery(holder).exec(sqlite ? "BEGIN IMMEDIATE" : "SELECT pg_advisory_lock(7147)"));
        std::atomic<bool> opened{false};
        QString openProblem;
        std::unique_ptr<QThread> station(QThread::create([&] {
            RecordStore store;
            opened = store.Open(url, openProblem) && store.List({}, openProblem)->size() == 1;
        }));
        station->start();
        bool waited = false; // for the lock: seen among the server's waiting locks
        while (!station->wait(50)) {
            QSqlQuery locks(holder);
            if (!sqlite &&
                locks.exec("SELECT count(*) FROM pg_locks"
                           " WHERE locktype = 'advisory' AND NOT granted") &&
                locks.next() && locks.value(0).toInt() > 0 && !waited) {
                waited = true;
                QSqlQuery(holder).exec("SELECT pg_advisory_unlock(7147)");
            }
        }
        QSqlQuery(holder).exec(sqlite ? "ROLLBACK" : "SELECT pg_advisory_unlock_all()");
        holder = QSqlDatabase();
        closeRaw("holder");
        QVERIFY2(!waited, "opening a current store waited for the migration lock");
        QVERIFY2(opened, qPrintable(openProblem));
    }

    void stationsOpeningANewStoreAtOnceCreateItOnce_data() {
        backends();
    }
    void stationsOpeningANewStoreAtOnceCreateItOnce() {
        OPEN_STORE(url);
        std::atomic<int> stored{0};
        QStringList problems;
        QMutex lock;
        std::vector<std::unique_ptr<QThread>> stations;
        for (int i = 0; i < 4; ++i)
            stations.emplace_back(QThread::create([&, i] {
                RecordStore store;
                QString problem;
                if (store.Open(url, problem) &&
                    store.Store(record("UX", QString::number(i), Outcome::Pass, i), problem) ==
                        RecordStore::Stored::New) {
                    ++stored;
                    return;
                }
                QMutexLocker locked(&lock);
                problems << problem;
            }));
        for (auto& station : stations)
            station->start();
        for (auto& station : stations)
            QVERIFY(station->wait(60000));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QCOMPARE(stored.load(), 4);
    }

    // -- failures: what can pass and what never will --

    // A store that can never work as given is Unusable, with the database's
    // own reason; only one that cannot be reached now is an Outage. In the
    // URLs, {folder} is a temporary folder, {server} the fixture's server.
    void failuresAreToldApart_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<RecordStore::Fault>("fault");
        QTest::addColumn<QString>("reason");
        const auto unusable = RecordStore::Fault::Unusable;
        const auto outage = RecordStore::Fault::Outage;
        QTest::newRow("unknown scheme")
            << "mysql://q714@127.0.0.1/records" << unusable << "use sqlite:PATH or postgresql://";
        QTest::newRow("no database name")
            << "postgresql://q714@127.0.0.1:1/" << unusable << "postgresql://user@host:port/dbname";
        QTest::newRow("options in the URL")
            << "postgresql://q714@127.0.0.1:1/records?sslmode=require" << unusable
            << "takes no options";
        QTest::newRow("no SQLite file") << "sqlite:" << unusable << "needs a file";
        QTest::newRow("SQLite file that is no store")
            << "sqlite:{folder}/garbage.sqlite" << unusable << "file is not a database";
        QTest::newRow("SQLite file that is a folder")
            << "sqlite:{folder}/folder.sqlite" << unusable << "unable to open";
        QTest::newRow("connection refused")
            << "postgresql://q714@127.0.0.1:1/records" << outage << "refused";
        QTest::newRow("wrong password")
            << "postgresql://q714_password_user:wrong@{server}/postgres" << unusable
            << "password authentication failed for user \"q714_password_user\"";
        QTest::newRow("no password") << "postgresql://q714_password_user@{server}/postgres"
                                     << unusable << "no password supplied";
        QTest::newRow("unknown user") << "postgresql://q714_nobody@{server}/postgres" << unusable
                                      << "role \"q714_nobody\" does not exist";
        QTest::newRow("unknown database")
            << "postgresql://q714@{server}/q714_no_such_database" << unusable << "does not exist";
    }
    void failuresAreToldApart() {
        QFETCH(QString, url);
        QFETCH(RecordStore::Fault, fault);
        QFETCH(QString, reason);
        const QUrl server(PostgresTestServerUrl());
        if (url.contains("{server}") && server.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        QFile garbage(folder.filePath("garbage.sqlite"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
        garbage.close();
        QVERIFY(QDir(folder.path()).mkpath("folder.sqlite"));
        url.replace("{folder}", folder.path())
            .replace("{server}", QStringLiteral("%1:%2").arg(server.host()).arg(server.port()));
        RecordStore store;
        QString problem;
        QVERIFY(!store.Open(url, problem));
        QCOMPARE(store.LastFault(), fault);
        QVERIFY2(problem.contains(reason), qPrintable(problem));
        QVERIFY2(!problem.contains("wrong"), "a password is never shown");
    }

    // A session the server ends, or a server that shuts down, while a store
    // is open is an outage; once the server is back, the store serves again.
    void aServerGoneMidwayIsAnOutage() {
        const QString url = FreshPostgresDatabase("q714_gone");
        if (url.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        QString problem;
        RecordStore ended, shutDown;
        QVERIFY2(ended.Open(url, problem), qPrintable(problem));
        QVERIFY2(shutDown.Open(url, problem), qPrintable(problem));
        QVERIFY(onStore(url, {"SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                              " WHERE datname = current_database() AND pid <> pg_backend_pid()"}));
        QCOMPARE(ended.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                 RecordStore::Stored::Failed);
        QCOMPARE(ended.LastFault(), RecordStore::Fault::Outage);
        {
            RecordStore reopened; // a session of its own, opened before the shutdown
            QVERIFY2(reopened.Open(url, problem), qPrintable(problem));
            const auto resume = qScopeGuard([] { postgresScript("resume"); });
            QVERIFY(postgresScript("pause"));
            QCOMPARE(reopened.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                     RecordStore::Stored::Failed);
            QCOMPARE(reopened.LastFault(), RecordStore::Fault::Outage);
            QVERIFY(!reopened.List({}, problem));
            RecordStore refused;
            QVERIFY(!refused.Open(url, problem));
            QCOMPARE(refused.LastFault(), RecordStore::Fault::Outage);
        }
        RecordStore back;
        QVERIFY2(back.Open(url, problem), qPrintable(problem));
        QCOMPARE(back.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                 RecordStore::Stored::New);
    }

    // -- least privilege: the roles of a line --

    // The store's owner makes the tables (its first Open, as `q714 records
    // migrate` does); a station's role with SELECT and INSERT (the grants of
    // README.md) stores runs and can change nothing stored; a reader's role
    // with SELECT lists, shows and exports. A station or reader opening a
    // store without its tables is told to have the owner migrate it.
    void aLinesRolesDoWhatTheirGrantsAllow() {
        const QString server = PostgresTestServerUrl();
        if (server.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        QVERIFY(
            onStore(server, {"DO $$ BEGIN"
                             " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'q714_owner')"
                             " THEN CREATE ROLE q714_owner LOGIN; CREATE ROLE q714_station"
                             " LOGIN; CREATE ROLE q714_reader LOGIN; END IF; END $$"}));
        const QString line = FreshPostgresDatabase("q714_line");
        QVERIFY(
            onStore(server, {"ALTER DATABASE q714_line OWNER TO q714_owner",
                             "REVOKE ALL ON DATABASE q714_line FROM PUBLIC",
                             "GRANT CONNECT ON DATABASE q714_line TO q714_station, q714_reader"}));
        const QString owner = as(line, "q714_owner");
        const QString station = as(line, "q714_station");
        const QString reader = as(line, "q714_reader");
        QString problem;
        for (const QString& user : {station, reader}) {
            RecordStore early;
            QVERIFY(!early.Open(user, problem));
            QCOMPARE(early.LastFault(), RecordStore::Fault::Unusable);
            QVERIFY2(problem.contains("q714 records migrate") &&
                         problem.contains("no record tables"),
                     qPrintable(problem));
            QVERIFY2(problem.contains("permission denied"), qPrintable(problem));
        }
        {
            RecordStore first;
            QVERIFY2(first.Open(owner, problem), qPrintable(problem));
            QCOMPARE(first.FoundSchemaVersion(), 0);
            QCOMPARE(first.SchemaVersion(), StoreSchemaVersion);
        }
        QVERIFY(onStore(line,
                        {"REVOKE CREATE ON SCHEMA public FROM PUBLIC",
                         "GRANT USAGE ON SCHEMA public TO q714_station, q714_reader",
                         "GRANT SELECT ON ALL TABLES IN SCHEMA public TO q714_station, q714_reader",
                         "GRANT INSERT ON runs, steps, measurements, attachments TO q714_station"},
                        "q714_owner"));

        RecordStore stationStore;
        QVERIFY2(stationStore.Open(station, problem), qPrintable(problem));
        QCOMPARE(stationStore.FoundSchemaVersion(), StoreSchemaVersion);
        RunRecord r = record("UX1", "st1", Outcome::Pass, 1);
        QCOMPARE(stationStore.Store(r, problem), RecordStore::Stored::New);
        QCOMPARE(stationStore.Store(r, problem), RecordStore::Stored::AlreadyThere);
        r.outcome = Outcome::Fail;
        QCOMPARE(stationStore.Store(r, problem), RecordStore::Stored::Conflict);
        QCOMPARE(stationStore.List({}, problem)->size(), 1);
        for (const char* change : {"UPDATE runs SET outcome = 'FAIL'", "DELETE FROM runs",
                                   "UPDATE q714_schema SET version = 99", "DROP TABLE steps"}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("(permission denied|must be owner)"));
            QVERIFY2(!onStore(line, {change}, "q714_station"), change); // append only
        }

        RecordStore readerStore;
        QVERIFY2(readerStore.Open(reader, problem), qPrintable(problem));
        QCOMPARE(readerStore.List({}, problem)->size(), 1);
        QCOMPARE(readerStore.Load(r.runId, problem)->steps.size(), 2);
        QCOMPARE(readerStore.LoadAll({}, problem)->size(), 1);
        QCOMPARE(readerStore.Store(record("UX2", "st1", Outcome::Pass, 2), problem),
                 RecordStore::Stored::Failed);
        QCOMPARE(readerStore.LastFault(), RecordStore::Fault::Unusable);
        QVERIFY2(problem.contains("permission denied"), qPrintable(problem));
    }

    // -- a PostgreSQL server that misbehaves --

    // A server whose processes stop once the stations are signed in (the
    // kernel still acknowledges what they send) holds none of them: each
    // operation, on a thread of its own, ends by itself as an outage while
    // the server is still stopped, and so does an Open.
    void aStalledServerHoldsNoOperation() {
        const QString url = FreshPostgresDatabase("q714_stalled");
        if (url.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        const RunRecord stored = record("UX1", "st1", Outcome::Pass, 1);
        {
            RecordStore store;
            QString problem;
            QVERIFY2(store.Open(url, problem), qPrintable(problem));
            QCOMPARE(store.Store(stored, problem), RecordStore::Stored::New);
        }
        const auto open = [url](RecordStore& store, QString& problem) {
            return store.Open(url, problem);
        };
        const auto nothing = [](RecordStore&, QString&) { return true; };
        Stations stations;
        stations.Add(open, [](RecordStore& store, QString& problem) {
            return store.Store(record("UX2", "st1", Outcome::Pass, 2), problem) ==
                   RecordStore::Stored::New;
        });
        stations.Add(open, [](RecordStore& store, QString& problem) {
            return bool(store.List({}, problem));
        });
        stations.Add(open, [stored](RecordStore& store, QString& problem) {
            return bool(store.Load(stored.runId, problem));
        });
        stations.Add(nothing, open);
        stations.WaitUntilReady();
        QVERIFY(postgresScript("stall"));
        stations.Go();
        const bool ended = stations.Ended(120000);
        QVERIFY(postgresScript("unstall"));
        stations.Finish();
        QVERIFY2(ended, "an operation waited for the stalled server until it went on");
        for (int i = 0; i < 4; ++i) {
            QVERIFY(!stations[i].done);
            QVERIFY(!stations[i].problem.isEmpty());
        }
        for (int i = 0; i < 4; ++i) // Store, List, Load, Open
            QCOMPARE(stations[i].fault, RecordStore::Fault::Outage);

        RecordStore after; // and the server serves again
        QString problem;
        QVERIFY2(after.Open(url, problem), qPrintable(problem));
        QCOMPARE(after.List({}, problem)->size(), 1);
    }

    // libpq prints a server's notices and warnings on standard error unless
    // told otherwise; the store keeps them off the terminal, its own (a table
    // there already) and those of the line's database (a trigger).
    void serverNoticesNeverReachTheTerminal() {
        const QString url = FreshPostgresDatabase("q714_notices");
        if (url.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        {
            RecordStore store;
            QString problem;
            QVERIFY2(store.Open(url, problem), qPrintable(problem));
        }
        QVERIFY(onStore(
            url, {"CREATE FUNCTION q714_speak() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                  " RAISE NOTICE 'line notice'; RAISE WARNING 'line warning'; RETURN NEW; END $$",
                  "CREATE TRIGGER q714_speaks BEFORE INSERT ON runs FOR EACH ROW"
                  " EXECUTE FUNCTION q714_speak()"}));
        CaughtStandardError caught;
        {
            RecordStore store;
            QString problem;
            QVERIFY(store.Open(url, problem));
            QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                     RecordStore::Stored::New);
        }
        const QByteArray text = caught.Text();
        QVERIFY2(text.isEmpty(), text.constData());
    }

    void badUrlsAreRefusedWithAReason() {
        RecordStore store;
        QString problem;
        QVERIFY(!store.Open("mysql://x", problem));
        QVERIFY(problem.contains("sqlite:PATH"));
        QVERIFY(!store.Open("postgresql://nobody@127.0.0.1:1/none", problem));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(RecordStore::ShownUrl("postgresql://u:secret@h:5/db"),
                 "postgresql://u:***@h:5/db");
        QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                 RecordStore::Stored::Failed); // nothing is open
    }

    void theOutboxKeepsARecordUntilItsStoreHasIt() {
        const QString unreachable = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
        const QString reachable = QStringLiteral("sqlite:") + folder.filePath("outboxed.sqlite");
        Outbox outbox;
        QString problem;
        QVERIFY2(outbox.Open(folder.filePath("outbox.sqlite"), problem), qPrintable(problem));
        const RunRecord away = record("UX1", "st1", Outcome::Pass, 1);
        const RunRecord later = record("UX2", "st1", Outcome::Fail, 2);
        QVERIFY(outbox.Queue(away, unreachable, problem));
        QVERIFY(outbox.Queue(away, unreachable, problem)); // queued twice, kept once
        QVERIFY(outbox.Queue(later, reachable, problem));
        QCOMPARE(outbox.Pending(problem), 2);

        const SyncReport first = outbox.Send();
        QCOMPARE(first.sent, 1);
        QCOMPARE(first.left, 1);
        QCOMPARE(first.problems.size(), 1);
        QCOMPARE(outbox.Pending(problem), 1);

        // A sync cut off after storing: the record comes again, is known, leaves.
        QVERIFY(outbox.Queue(later, reachable, problem));
        const SyncReport again = outbox.Send(reachable);
        QCOMPARE(again.sent, 0);
        QCOMPARE(again.alreadyThere, 1);
        QCOMPARE(again.left, 0); // the unreachable one was not asked for
        QCOMPARE(outbox.Pending(problem), 1);
        RecordStore store;
        QVERIFY(store.Open(reachable, problem));
        QCOMPARE(json(*store.Load(later.runId, problem)), json(later));
    }
};

QTEST_GUILESS_MAIN(TestRecordStore)
#include "test_record_store.moc"
