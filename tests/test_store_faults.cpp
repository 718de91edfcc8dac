// The record store as q714 meets it on a line, whole program against a real
// PostgreSQL server (the postgres fixture; the cases skip without one): the
// store's owner makes the tables with `records migrate` and stations only
// append; the server's notices never reach the terminal; and a server that
// stops answering ends no run without its record.
#include "CliBench.h"
#include "PostgresTestServer.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>

namespace {

const char* const ShortPlan = R"(
name = "short"
version = "2"

[[steps]]
kind = "identify"

[[steps]]
kind = "read"
count = 2
)";

QString writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

// Runs the fixture's server script (stall, unstall).
bool postgresScript(const char* action) {
    const QString folder = QFileInfo(qEnvironmentVariable("Q714_TEST_POSTGRES_URL_FILE")).path();
    return QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT), {action, folder}) == 0;
}

// Runs `statements` on the database of `url` as `role` (by default the
// fixture's superuser, a line's database administrator); false after a
// warning naming the one that failed.
bool onDatabase(const QString& url, const QStringList& statements, const QString& role = {}) {
    bool done = true;
    {
        const QUrl server(PostgresTestServerUrl());
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "administrator");
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setUserName(role.isEmpty() ? server.userName() : role);
        db.setDatabaseName(QUrl(url).path().mid(1));
        done = db.open();
        for (const QString& statement : statements) {
            QSqlQuery q(db);
            if (done && !q.exec(statement)) {
                qWarning("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
                done = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("administrator");
    return done;
}

// The store's URL for another of its users.
QString as(const QString& url, const QString& role) {
    QUrl other(url);
    other.setUserName(role);
    return other.toString();
}

} // namespace

class TestStoreFaults : public QObject {
    Q_OBJECT

private slots:
    // The owner makes the tables with `records migrate` (a station that
    // opens the store before is told to have that done), grants stations
    // SELECT and INSERT as README.md says, and a station's run is stored; a
    // reader exports it.
    void theOwnerMigratesAndStationsOnlyAppend() {
        const QString server = PostgresTestServerUrl();
        if (server.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        QVERIFY(onDatabase(server, {"DO $$ BEGIN"
                                    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname ="
                                    " 'q714_owner') THEN CREATE ROLE q714_owner LOGIN; CREATE"
                                    " ROLE q714_station LOGIN; CREATE ROLE q714_reader LOGIN;"
                                    " END IF; END $$"}));
        const QString line = FreshPostgresDatabase("q714_faults_line");
        QVERIFY(onDatabase(server, {"ALTER DATABASE q714_faults_line OWNER TO q714_owner"}));
        const QString owner = as(line, "q714_owner");
        const QString station = as(line, "q714_station");
        Bench bench;
        const Run early = bench.Q714({"records", "list", "--db", station, "--format", "json"});
        QCOMPARE(early.exit, 3);
        QVERIFY2(early.err.contains("q714 records migrate"), early.err.constData());

        const Run made = bench.Q714({"records", "migrate", "--db", owner, "--format", "json"});
        QVERIFY2(made.exit == 0, made.err.constData());
        QCOMPARE(made.Json().value("found_version").toInt(), 0);
        QCOMPARE(made.Json().value("schema_version").toInt(), 1);
        const Run again = bench.Q714({"records", "migrate", "--db", owner, "--format", "json"});
        QCOMPARE(again.Json().value("found_version").toInt(), 1);
        QVERIFY(
            onDatabase(line,
                       {"GRANT USAGE ON SCHEMA public TO q714_station, q714_reader",
                        "GRANT SELECT ON ALL TABLES IN SCHEMA public TO q714_station, q714_reader",
                        "GRANT INSERT ON runs, steps, measurements, attachments TO q714_station"},
                       "q714_owner"));

        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        const Run run =
            bench.Q714({"run", plan, "--port", sim, "--db", station, "--format", "json"});
        QVERIFY2(run.exit == 0, run.err.constData());
        QCOMPARE(run.Json().value("stored").toBool(), true);
        const Run exported =
            bench.Q714({"records", "export", "--db", as(line, "q714_reader"), "--format", "json"});
        QVERIFY2(exported.exit == 0, exported.err.constData());
        QVERIFY(exported.out.contains(run.Json().value("run_id").toString().toUtf8()));
    }

    // Neither the store's own notices (a table there already) nor those of
    // the line's database (a trigger) reach standard error.
    void noticesNeverReachTheTerminal() {
        const QString db = FreshPostgresDatabase("q714_faults_notices");
        if (db.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        Bench bench;
        QCOMPARE(bench.Q714({"records", "migrate", "--db", db, "--quiet"}).exit, 0);
        QVERIFY(onDatabase(
            db, {"CREATE FUNCTION q714_speak() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                 " RAISE NOTICE 'line notice'; RAISE WARNING 'line warning'; RETURN NEW; END $$",
                 "CREATE TRIGGER q714_speaks BEFORE INSERT ON runs FOR EACH ROW"
                 " EXECUTE FUNCTION q714_speak()"}));
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        const Run run = bench.Q714({"run", plan, "--port", sim, "--db", db, "--quiet"});
        QCOMPARE(run.exit, 0);
        const Run list = bench.Q714({"records", "list", "--db", db, "--quiet"});
        QCOMPARE(list.exit, 0);
        for (const QByteArray& err : {run.err, list.err}) {
            QVERIFY2(!err.contains("NOTICE") && !err.contains("WARNING"), err.constData());
            QVERIFY2(!err.contains("line notice") && !err.contains("line warning"),
                     err.constData());
        }
    }

    // A server that stops answering (its processes stopped) ends no run: the
    // run ends by itself, its record waits in the outbox, and goes to the
    // store once the server answers again.
    void aStalledStoreEndsTheRunAndKeepsItsRecord() {
        const QString db = FreshPostgresDatabase("q714_faults_stalled");
        if (db.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        QCOMPARE(bench.Q714({"run", plan, "--port", sim, "--db", db, "--quiet"}).exit, 0);
        Run stalled;
        {
            const auto unstall = qScopeGuard([] { postgresScript("unstall"); });
            QVERIFY(postgresScript("stall"));
            stalled = bench.Q714({"run", plan, "--port", sim, "--db", db, "--format", "json"});
        }
        QVERIFY2(stalled.exit == 0, stalled.err.constData());
        QCOMPARE(stalled.Json().value("stored").toBool(), false);
        QCOMPARE(stalled.Json().value("queued").toBool(), true);
        const Run sync = bench.Q714({"records", "sync", "--format", "json"});
        QVERIFY2(sync.exit == 0, sync.err.constData());
        QCOMPARE(sync.Json().value("sent").toInt(), 1);
        const Run list = bench.Q714({"records", "list", "--db", db, "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "test_store_faults.moc"
