// Test plans as a production line runs them: the real q714 against q714-sim
// processes. A plan that passes is found as a JSON file and in the record
// store; a missed limit, a device unplugged mid-run and Ctrl+C each end as
// their outcome and are still recorded; a bad plan reaches no device; a
// store that cannot be reached keeps its records in the outbox. Against a
// real PostgreSQL server (started by the test fixture): four stations at
// once, the server going away for a while, and a station killed mid-run.
#include "CliBench.h"
#include "PostgresTestServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

namespace {

const char* const PassingPlan = R"(
name = "bench end of line"
version = "1.0"

[[steps]]
kind = "identify"
expect_part = "RX712*"
expect_type = 2

[[steps]]
kind = "config"
position_filter = 6

[[steps]]
kind = "store"

[[steps]]
kind = "power-cycle-verify"
off_ms = 100

[[steps]]
kind = "read"
count = 20
limits.crc_error_count = { high = 0 }
limits.error_count = { high = 0 }

[[steps]]
kind = "signal"
count = 3
limits.signal_level = { low = 100, high = 1000, marginal = 20 }

[[steps]]
kind = "noise"
samples = 200

[[steps]]
kind = "errormap"
)";

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

QStringList recordFiles(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {"*.json"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// Pauses or resumes the fixture's server (tests/postgres-server).
bool postgresScript(const char* action) {
    const QString folder = QFileInfo(qEnvironmentVariable("Q714_TEST_POSTGRES_URL_FILE")).path();
    return QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT), {action, folder}) == 0;
}

int storedCount(Bench& bench, const QString& db, QSet<QString>* ids = nullptr) {
    const Run list = bench.Q714({"records", "list", "--db", db, "--format", "json"});
    const QJsonArray records = list.Json().value("records").toArray();
    if (ids)
        for (const QJsonValue& r : records)
            ids->insert(r.toObject().value("run_id").toString());
    return list.exit == 0 ? int(records.size()) : -1;
}

} // namespace

class TestPlanRun : public QObject {
    Q_OBJECT

private slots:
    void aPassingRunIsAFileAndAStoredRecord() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        QVERIFY(!sim.isEmpty());
        const QString plan = writeFile(bench.File("eol.toml"), PassingPlan);
        const Run run = bench.Q714({"run", plan, "--port", sim, "--station", "line 1/../x",
                                    "--operator", "ana", "--format", "jsonl"});
        QVERIFY2(run.exit == 0, run.err.constData());
        const QJsonObject result = run.LastLine();
        QCOMPARE(result.value("outcome").toString(), QStringLiteral("PASS"));
        QCOMPARE(result.value("stored").toBool(), true);
        QCOMPARE(run.Lines().size(), 9); // a line per step, then the result
        const QString id = result.value("run_id").toString();

        // The file, under a station folder made safe, holds the same record.
        const QStringList files = recordFiles(bench.DataFolder() + "/records");
        QCOMPARE(files.size(), 1);
        QVERIFY2(!files.first().contains("/../"), qPrintable(files.first()));
        QVERIFY(files.first().contains("UX217041_"));
        QFile file(files.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(record.value("run_id").toString(), id);
        QCOMPARE(record.value("operator").toString(), QStringLiteral("ana"));
        QCOMPARE(record.value("steps").toArray().size(), 8);
        const QJsonObject attachment = record.value("attachments").toArray().first().toObject();
        QCOMPARE(attachment.value("name").toString(), QStringLiteral("errormap"));
        QVERIFY(QFile::exists(
            QFileInfo(files.first()).dir().filePath(attachment.value("file").toString())));

        // Found by serial in the store, shown whole by a prefix of its id.
        const Run list =
            bench.Q714({"records", "list", "--serial", "UX217041", "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().size(), 1);
        const Run show = bench.Q714({"records", "show", id.left(8), "--format", "json"});
        QCOMPARE(show.exit, 0);
        const QJsonObject shown = show.Json().value("record").toObject();
        QCOMPARE(shown.value("plan").toObject().value("sha256").toString(),
                 record.value("plan").toObject().value("sha256").toString());
        QCOMPARE(shown.value("encoder").toObject().value("part").toString(),
                 QStringLiteral("RX712KAN17MDG000"));
    }

    void aMissedLimitFailsWithTheValue() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("tight.toml"), R"(
name = "tight"
version = "1"
[[steps]]
kind = "signal"
limits.signal_level = { high = 10 }
on_failure = "continue"
[[steps]]
kind = "read"
count = 1
)");
        const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "json"});
        QCOMPARE(run.exit, 1);
        const QJsonObject record = run.Json().value("record").toObject();
        QCOMPARE(record.value("outcome").toString(), QStringLiteral("FAIL"));
        const QJsonArray steps = record.value("steps").toArray();
        QCOMPARE(steps.size(), 2); // "continue": the read ran all the same
        const QJsonObject signal = steps[0].toObject();
        QCOMPARE(signal.value("outcome").toString(), QStringLiteral("FAIL"));
        QVERIFY(signal.value("message").toString().contains("signal_level"));
        const QJsonObject level = signal.value("measurements").toArray().first().toObject();
        QCOMPARE(level.value("high").toDouble(), 10.0);
        QVERIFY(level.value("value").toDouble() > 10);
        QCOMPARE(steps[1].toObject().value("outcome").toString(), QStringLiteral("PASS"));
        const Run failed = bench.Q714({"records", "list", "--outcome", "fail", "--format", "json"});
        QCOMPARE(failed.Json().value("records").toArray().size(), 1);
    }

    void anUnpluggedDeviceEndsTheRunAsAnError() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("long.toml"), R"(
name = "long"
version = "1"
[[steps]]
kind = "identify"
[[steps]]
kind = "read"
count = 1000000
)");
        const Run run = bench.During({"run", plan, "--port", sim, "--format", "jsonl"},
                                     "\"kind\":\"identify\"", [&bench](QProcess&) {
                                         QThread::msleep(200);
                                         bench.Kill(0);
                                     });
        QVERIFY2(run.exit == 3, run.err.constData());
        QCOMPARE(run.LastLine().value("outcome").toString(), QStringLiteral("ERROR"));
        QCOMPARE(run.LastLine().value("stored").toBool(), true);
        const Run list = bench.Q714({"records", "list", "--outcome", "ERROR", "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().size(), 1);
    }

    void ctrlCAbortsTheRunAndStillStoresIt() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("noise.toml"), R"(
name = "noise"
version = "1"
[[steps]]
kind = "identify"
[[steps]]
kind = "noise"
samples = 10000000
)");
        const Run run = bench.During({"run", plan, "--port", sim, "--format", "jsonl"},
                                     "\"kind\":\"identify\"");
        QCOMPARE(run.exit, 130);
        QCOMPARE(run.LastLine().value("outcome").toString(), QStringLiteral("ABORTED"));
        QCOMPARE(recordFiles(bench.DataFolder() + "/records").size(), 1);
        const Run list = bench.Q714({"records", "list", "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().first().toObject().value("outcome"),
                 QJsonValue("ABORTED"));
    }

    void aClosedOutputStopsTheRunAndStillStoresIt() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("many.toml"), R"(
name = "many"
version = "1"
[[steps]]
kind = "identify"
[[steps]]
kind = "read"
count = 5
repeat = 1000
)");
        // The reader goes away after one byte, as `| head -c 1` does.
        QProcess shell;
        shell.setProcessEnvironment(bench.Environment());
        shell.start("/bin/sh", {"-c", QStringLiteral("%1 run %2 --port %3 --format jsonl --quiet "
                                                     "| head -c 1 >/dev/null")
                                          .arg(Q714_CLI_PATH, plan, sim)});
        QVERIFY(shell.waitForFinished(120000));
        QTRY_COMPARE_WITH_TIMEOUT(recordFiles(bench.DataFolder() + "/records").size(), 1, 30000);
        const Run list = bench.Q714({"records", "list", "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().first().toObject().value("outcome"),
                 QJsonValue("ABORTED"));
    }

    void aBadPlanReachesNoDevice() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("bad.toml"), R"(
name = "bad"
version = "1"
[[steps]]
kind = "read"
count = "many"
[[steps]]
kind = "teleport"
)");
        const Run run = bench.Q714({"run", plan, "--port", sim});
        QCOMPARE(run.exit, 5);
        QVERIFY2(run.err.contains("bad.toml:6:"), run.err.constData());
        QVERIFY2(run.err.contains("bad.toml:8:"), run.err.constData());
        QVERIFY(bench.Received(0).isEmpty());
        QCOMPARE(bench.Q714({"plan", "check", plan}).exit, 5);
        const QString good = writeFile(bench.File("good.toml"), ShortPlan);
        const Run check = bench.Q714({"plan", "check", good, "--format", "json"});
        QCOMPARE(check.exit, 0);
        QCOMPARE(check.Json().value("steps").toInt(), 2);
    }

    // A value the encoder would not take exactly never passes the check: an
    // arc with a fraction, a calibration time-out above 40 s. A good one is
    // written, read back and named in the step's message.
    void aCalibrationRunsWithExactlyItsValues() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1", {"--selfcal-seconds", "0.2"});
        for (const char* wrong : {"arc = 90.5", "timeout = 41", "arc = 361", "timeout = 0"}) {
            const QString plan = writeFile(bench.File("wrong.toml"),
                                           QByteArray("name = \"cal\"\nversion = \"1\"\n"
                                                      "[[steps]]\nkind = \"calibrate\"\n") +
                                               wrong + "\n");
            QCOMPARE(bench.Q714({"plan", "check", plan}).exit, 5);
            QCOMPARE(bench.Q714({"run", plan, "--port", sim}).exit, 5);
        }
        QVERIFY(bench.Received(0).isEmpty());
        const QString plan = writeFile(bench.File("cal.toml"), R"(
name = "cal"
version = "1"
[[steps]]
kind = "calibrate"
arc = 90
timeout = 5
)");
        const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "json"});
        QVERIFY2(run.exit == 0, run.err.constData());
        const QJsonObject step =
            run.Json().value("record").toObject().value("steps").toArray().first().toObject();
        QVERIFY2(step.value("message").toString().startsWith("arc 90 deg, time-out 5 s"),
                 qPrintable(step.value("message").toString()));
        QVERIFY(bench.Received(0).contains("W:0002:00000019:0000005A"));
    }

    // Every kind but the operator's prompt, on one encoder: each step passes
    // with only the measurements its kind declares (an undeclared one would
    // make it an error).
    void everyStepKindRunsWithItsOwnMeasurements() {
        Bench bench;
        const QString sim =
            bench.Simulator("sim-1", {"--model", "t6-mt19", "--selfcal-seconds", "0.2"});
        const QString plan = writeFile(bench.File("all.toml"), R"(
name = "every kind"
version = "1"
[[steps]]
kind = "identify"
[[steps]]
kind = "power"
[[steps]]
kind = "spi"
clock = 6
[[steps]]
kind = "config"
position_filter = 6
[[steps]]
kind = "zero"
[[steps]]
kind = "preset-mt"
turns = -5
[[steps]]
kind = "store"
[[steps]]
kind = "power-cycle-verify"
off_ms = 100
[[steps]]
kind = "read"
count = 5
[[steps]]
kind = "signal"
count = 2
[[steps]]
kind = "noise"
samples = 100
limits.signal_level_average = { low = 1 }
[[steps]]
kind = "errormap"
[[steps]]
kind = "calibrate"
arc = 120
[[steps]]
kind = "diag"
[[steps]]
kind = "record"
count = 5
)");
        const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "json"});
        QVERIFY2(run.exit == 0, run.err.constData() + run.out);
        const QJsonArray steps = run.Json().value("record").toObject().value("steps").toArray();
        QCOMPARE(steps.size(), 15);
        for (const QJsonValue& value : steps) {
            const QJsonObject step = value.toObject();
            QVERIFY2(step.value("outcome").toString() == QLatin1String("PASS"),
                     qPrintable(step.value("kind").toString() + ": " +
                                step.value("message").toString()));
        }
    }

    void anOperatorPromptNeedsSomeone() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("prompt.toml"), R"(
name = "prompt"
version = "1"
[[steps]]
kind = "prompt"
text = "Turn the shaft by hand"
)");
        for (const char* extra : {"--unattended", "--quiet"}) {
            const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "json", extra});
            QCOMPARE(run.exit, 4);
            QCOMPARE(run.Json().value("outcome").toString(), QStringLiteral("ERROR"));
        }
    }

    void severalDevicesRunAtOnceEachWithItsRecord() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        const QString b = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        const Run run =
            bench.Q714({"run", plan, "--port", a, "--port", b, "--format", "json", "--quiet"});
        QVERIFY2(run.exit == 0, run.err.constData());
        QCOMPARE(run.JsonArray().size(), 2);
        QCOMPARE(recordFiles(bench.DataFolder() + "/records").size(), 2);
        const Run list = bench.Q714({"records", "list", "--format", "json"});
        QCOMPARE(list.Json().value("records").toArray().size(), 2);
        const Run junit = bench.Q714({"records", "export", "--format", "junit"});
        QCOMPARE(junit.exit, 0);
        QCOMPARE(junit.out.count("<testsuite "), 2);
    }

    void anUnreachableStoreKeepsTheRecordInTheOutbox() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        const QString closed = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
        const Run run =
            bench.Q714({"run", plan, "--port", sim, "--db", closed, "--format", "json"});
        QVERIFY2(run.exit == 0, run.err.constData()); // the run passed; its record is safe
        QCOMPARE(run.Json().value("stored").toBool(), false);
        QCOMPARE(run.Json().value("queued").toBool(), true);
        QVERIFY(run.err.contains("records sync"));
        const Run sync = bench.Q714({"records", "sync", "--format", "json"});
        QCOMPARE(sync.exit, 3);
        QCOMPARE(sync.Json().value("left").toInt(), 1);
    }

    // -- a line of stations on one PostgreSQL database --

    void fourStationsFillOneDatabaseExactlyOnce() {
        const QString db = FreshPostgresDatabase("q714_four_stations");
        if (db.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        Bench bench;
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        std::vector<std::unique_ptr<QProcess>> stations;
        for (int i = 0; i < 4; ++i) {
            const QString sim = bench.Simulator(QStringLiteral("sim-%1").arg(i));
            QVERIFY(!sim.isEmpty());
            // A station: 25 runs, one after the other, as a line's script does.
            auto station = std::make_unique<QProcess>();
            station->setProcessEnvironment(bench.Environment());
            station->start("/bin/sh", {"-c", QStringLiteral("for i in $(seq 25); do %1 run %2 "
                                                            "--port %3 --db %4 --station s%5 "
                                                            "--quiet --format json >/dev/null "
                                                            "|| exit 1; done")
                                                 .arg(Q714_CLI_PATH, plan, sim, db)
                                                 .arg(i)});
            stations.push_back(std::move(station));
        }
        for (auto& station : stations) {
            QVERIFY(station->waitForFinished(600000));
            QCOMPARE(station->exitCode(), 0);
        }
        QSet<QString> ids;
        QCOMPARE(storedCount(bench, db, &ids), 100);
        QCOMPARE(ids.size(), 100);
    }

    void theServerGoneForAWhileLosesNothing() {
        const QString db = FreshPostgresDatabase("q714_server_away");
        if (db.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        const auto runs = [&](int count) {
            for (int i = 0; i < count; ++i)
                QCOMPARE(bench.Q714({"run", plan, "--port", sim, "--db", db, "--quiet"}).exit, 0);
        };
        runs(3);
        QVERIFY(postgresScript("pause"));
        runs(4); // into the outbox
        QVERIFY(postgresScript("resume"));
        const Run sync = bench.Q714({"records", "sync", "--format", "json"});
        QVERIFY2(sync.exit == 0, sync.err.constData());
        QCOMPARE(sync.Json().value("sent").toInt(), 4);
        QCOMPARE(bench.Q714({"records", "sync", "--format", "json"}).Json().value("sent").toInt(),
                 0);
        QSet<QString> ids;
        QCOMPARE(storedCount(bench, db, &ids), 7);
        QCOMPARE(ids.size(), 7);
    }

    void aStationKilledMidRunKeepsEveryEndedRun() {
        const QString db = FreshPostgresDatabase("q714_killed_station");
        if (db.isEmpty())
            QSKIP("no PostgreSQL test server (see the postgres_start test)");
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("short.toml"), ShortPlan);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(bench.Q714({"run", plan, "--port", sim, "--db", db, "--quiet"}).exit, 0);
        const QString slow = writeFile(bench.File("slow.toml"), R"(
name = "slow"
version = "1"
[[steps]]
kind = "noise"
samples = 10000000
)");
        bench.During({"run", slow, "--port", sim, "--db", db, "--format", "jsonl"}, "FW version",
                     [](QProcess& q714) {
                         QThread::msleep(300);
                         q714.kill(); // kill -9
                     });
        QCOMPARE(storedCount(bench, db), 2);
        QCOMPARE(recordFiles(bench.DataFolder() + "/records").size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestPlanRun)
#include "test_plan_run.moc"
