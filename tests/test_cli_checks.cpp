// What q714 checks before it touches a device, and how it chooses one: a
// wrong command line reaches no adapter, values are used exactly or refused,
// what only the encoder can judge is refused before anything is written, a
// mismatched --expect-serial leaves the device as found, commands that
// change the encoder never pick an adapter themselves, the SPI settings hold
// for every connect of a process, settings files are refused when they are
// ambiguous or come from another kind of encoder, and --port takes serials,
// runs a port once and names a port another program holds.
#include "CliBench.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTest>

namespace {

QString writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The commands received that start with `prefix`, in order.
QStringList startingWith(const QStringList& commands, const QString& prefix) {
    QStringList found;
    for (const QString& command : commands)
        if (command.startsWith(prefix))
            found << command;
    return found;
}

// The supply commands ("n" on, "f" off) received, in order.
QStringList supplyCommands(const QStringList& commands) {
    QStringList found;
    for (const QString& command : commands)
        if (command == QLatin1String("n") || command == QLatin1String("f"))
            found << command;
    return found;
}

} // namespace

class TestCliChecks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral(Q714_CLI_PATH)) ||
            !QFile::exists(QStringLiteral(Q714_SIM_PATH)))
            QSKIP("q714 or q714-sim is not built");
    }

    // Each of these is a usage error, found before any port is opened: the
    // simulator never even sees the identity probe.
    void aWrongCommandLineReachesNoAdapter() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const QList<QStringList> wrong = {
            // --volt
            args({"power", "on", "--volt", "3"}),
            args({"power", "on", "--volt", "12"}),
            args({"power", "on", "--volt", "abc"}),
            args({"info", "--volt", "3.30"}),
            args({"info", "--volt", ""}),
            // positional arguments
            args({"read", "5"}),
            args({"power", "on", "off"}),
            args({"power"}),
            args({"power", "up"}),
            args({"preset-mt", "1", "2", "--yes"}),
            args({"preset-mt", "--yes"}),
            args({"preset-mt", "65536", "--yes"}),
            args({"preset-mt", "ten", "--yes"}),
            args({"info", "junk"}),
            args({"config"}),
            args({"config", "frob"}),
            args({"config", "get", "extra"}),
            args({"config", "restore", "--yes"}),
            args({"config", "dump", "a.json", "b.json"}),
            args({"config", "set"}),
            // option values
            args({"read", "--count", "0"}),
            args({"read", "--count", "abc"}),
            args({"read", "--count", "2.5"}),
            args({"read", "--interval", "-1"}),
            args({"calibrate", "--arc", "361"}),
            args({"calibrate", "--arc", "9"}),
            args({"calibrate", "--arc", "90.5"}),
            args({"calibrate", "--timeout", "0"}),
            args({"calibrate", "--timeout", "41"}),
            args({"power-cycle", "--min", "500", "--max", "100"}),
            args({"power-cycle", "--cycles", "x"}),
            args({"noise", "--samples", "1"}),
            args({"spi", "--clock", "9"}),
            args({"spi", "--ncs-delay", "0"}),
            args({"spi"}),
            args({"info", "--clock", "0"}),
            args({"read", "--ncs-delay", "901"}),
            args({"record", "--count", "5"}),
            // config set: every pair before anything
            args({"config", "set", "position_filter=-1"}),
            args({"config", "set", "multiturn_error_arc=256"}),
            args({"config", "set", "position_filter=6", "frob=1"}),
            args({"config", "set", "position_filter"}),
            args({"config", "set", "position_filter=abc"}),
            // the rest
            args({"--expect-serial", "", "info"}),
            args({"read", "--unit", "mm"}),
            args({"read", "--resolution", "1/0"}),
            args({"read", "--resolution", "90"}),
            args({"zero"}), // no --yes, and standard input is no terminal
            args({"diag", "--clear-persistent"}),
        };
        for (const QStringList& command : wrong) {
            const Run run = bench.Q714(command);
            const QByteArray shown = command.join(QLatin1Char(' ')).toUtf8();
            QVERIFY2(run.exit == 2,
                     shown + " exits " + QByteArray::number(run.exit) + ": " + run.err);
            QVERIFY2(run.err.startsWith("q714: "), shown + ": " + run.err);
            const QStringList received = bench.Received(0);
            QVERIFY2(received.isEmpty(),
                     shown + " sent " + received.join(QLatin1Char(' ')).toUtf8());
        }
    }

    void theSupplyVoltageIsTheOneGiven() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        QCOMPARE(bench.Q714(args({"power", "on", "--volt", "3.3"})).exit, 0);
        QCOMPARE(startingWith(bench.Received(0), QStringLiteral("V")), QStringList{"V3"});
        QCOMPARE(bench.Q714(args({"power", "on", "--volt", "5"})).exit, 0);
        QCOMPARE(startingWith(bench.Received(0), QStringLiteral("V")), QStringList({"V3", "V5"}));
    }

    // A negative number is an argument, not an option; as the value of an
    // option it stays that option's value.
    void negativeNumbersNeedNoDoubleDash() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const Run preset = bench.Q714(args({"preset-mt", "-5", "--yes", "--format", "json"}));
        QVERIFY2(preset.exit == 0, preset.err.constData());
        QCOMPARE(preset.Json().value("turns").toInt(), -5);
        const Run interval = bench.Q714(args({"read", "--interval", "-5"}));
        QCOMPARE(interval.exit, 2);
        QVERIFY2(interval.err.contains("--interval"), interval.err.constData());
    }

    // The bounds themselves are taken, exactly as given.
    void theRangesBoundsAreTaken() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--selfcal-seconds", "0.2"}).isEmpty());
        const Run run =
            bench.Q714(args({"calibrate", "--arc", "10", "--timeout", "40", "--format", "json"}));
        QVERIFY2(run.exit == 0 || run.exit == 1, run.err.constData());
        QCOMPARE(run.Json().value("arc").toInt(), 10);
        QCOMPARE(run.Json().value("timeout_s").toInt(), 40);
        QCOMPARE(bench.Q714(args({"noise", "--samples", "2"})).exit, 0);
        QCOMPARE(
            bench.Q714(args({"power-cycle", "--cycles", "1", "--min", "10", "--max", "10"})).exit,
            0);
    }

    // What only the connected encoder can judge is refused after the
    // connect, before anything is written.
    void aValueTheEncoderCannotTakeWritesNothing() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--model", "t1-st19", "--selfcal-seconds", "0.2"})
                     .isEmpty());
        // A file of the same type and map, from an encoder with the
        // multi-turn error arc's register.
        const QString settings = writeFile(
            bench.File("arc.json"),
            R"({"schema_version": 1, "type": "config", "encoder": {"type": 1, "register_map": "U2"},)"
            R"( "transferable": {"position_filter": 5, "multiturn_error_arc": 30}})");
        for (const QStringList& command :
             {args({"config", "set", "multiturn_error_arc=5"}),
              args({"config", "set", "position_filter=5", "multiturn_error_arc=5"}),
              args({"config", "restore", "--yes"}) << settings,
              args({"calibrate", "--timeout", "5"})}) {
            const Run run = bench.Q714(command);
            const QByteArray shown = command.join(QLatin1Char(' ')).toUtf8();
            QVERIFY2(run.exit == 2, shown + ": " + run.err);
            QVERIFY2(run.err.contains("this encoder has no"), shown + ": " + run.err);
            const QStringList writes = startingWith(bench.Received(0), QStringLiteral("W:"));
            QVERIFY2(writes.isEmpty(), shown + " wrote " + writes.join(' ').toUtf8());
        }
    }

    // The encoder that did not answer was switched on for nothing: it is
    // switched off again, and nothing is written.
    void aMismatchedSerialLeavesTheDeviceAsFound() {
        Bench off;
        QVERIFY(!off.Simulator("sim-1").isEmpty());
        const Run run = off.Q714(args({"--expect-serial", "NOPE", "zero", "--yes"}));
        QVERIFY2(run.exit == 4, run.err.constData());
        const QStringList received = off.Received(0);
        QVERIFY(startingWith(received, QStringLiteral("W:")).isEmpty());
        QCOMPARE(supplyCommands(received), QStringList({"n", "f"}));

        Bench on;
        QVERIFY(!on.Simulator("sim-1", {"--power-on"}).isEmpty());
        QCOMPARE(on.Q714(args({"--expect-serial", "NOPE", "store", "--yes"})).exit, 4);
        const QStringList left = on.Received(0);
        QVERIFY(startingWith(left, QStringLiteral("W:")).isEmpty());
        QVERIFY(supplyCommands(left).isEmpty()); // it was on, and stays on

        // A test run connects the encoder first: its serial counts there.
        Bench plan;
        const QString sim = plan.Simulator("sim-1");
        QFile file(plan.File("short.toml"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("name = \"short\"\nversion = \"1\"\n[[steps]]\nkind = \"identify\"\n");
        file.close();
        const Run matching = plan.Q714({"run", file.fileName(), "--port", sim, "--expect-serial",
                                        "UX217041", "--format", "json"});
        QVERIFY2(matching.exit == 0, matching.err.constData());
        QCOMPARE(plan.Q714({"run", file.fileName(), "--port", sim, "--expect-serial", "NOPE"}).exit,
                 4);
    }

    void diagActionsChangeTheEncoder() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        const QString b = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        for (const char* action : {"--clear-persistent", "--reset-margin", "--write-access"}) {
            const Run refused = bench.Q714(args({"diag", "--yes", action}));
            QVERIFY2(refused.exit == 2, refused.err.constData());
            QVERIFY(refused.err.contains("sim-1") && refused.err.contains("sim-2"));
        }
        QCOMPARE(bench.Q714(args({"diag"})).exit, 0); // a look takes the first
        const Run asked = bench.Q714(args({"diag", "--reset-margin", "--port"}) << a);
        QCOMPARE(asked.exit, 2);
        QVERIFY2(asked.err.contains("--yes"), asked.err.constData());
        const Run done = bench.Q714(
            args({"diag", "--write-access", "--yes", "--format", "json", "--port"}) << a);
        QVERIFY2(done.exit == 0, done.err.constData());
        QVERIFY(done.Json().contains("write_access"));
    }

    // --clock and --ncs-delay hold for every connect of the command, the
    // defaults otherwise; spi sets them alone.
    void theSpiSettingsHoldForEveryConnect() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        QCOMPARE(bench.Q714(args({"read"})).exit, 0);
        QStringList received = bench.Received(0);
        QCOMPARE(startingWith(received, QStringLiteral("M")), QStringList{"M5"});
        QCOMPARE(startingWith(received, QStringLiteral("D")), QStringList{"D015"});

        const Run read = bench.Q714(args({"read", "--clock", "3", "--ncs-delay", "20"}));
        QVERIFY2(read.exit == 0, read.err.constData());
        received = bench.Received(0);
        QCOMPARE(startingWith(received, QStringLiteral("M")), QStringList({"M5", "M3"}));
        QCOMPARE(startingWith(received, QStringLiteral("D")), QStringList({"D015", "D020"}));

        // A restore reconnects after its power cycle with the same settings.
        const QString path = bench.File("settings.json");
        QCOMPARE(bench.Q714(args({"config", "dump", "--clock", "2"}) << path).exit, 0);
        const Run restore = bench.Q714(
            args({"config", "restore", "--yes", "--clock", "2", "--ncs-delay", "7"}) << path);
        QVERIFY2(restore.exit == 0, restore.err.constData());
        received = bench.Received(0);
        QCOMPARE(startingWith(received, QStringLiteral("M")),
                 QStringList({"M5", "M3", "M2", "M2", "M2"}));
        QCOMPARE(startingWith(received, QStringLiteral("D")),
                 QStringList({"D015", "D020", "D015", "D007", "D007"}));
    }

    // A plan's spi step changes what the later reconnects of the run use.
    void aPlansSpiStepHoldsForItsReconnects() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1", {"--power-on"});
        QVERIFY(!sim.isEmpty());
        const QString plan = writeFile(bench.File("spi.toml"), R"(
name = "spi"
version = "1"

[[steps]]
kind = "spi"
clock = 3
ncs_delay_us = 30

[[steps]]
kind = "power-cycle-verify"
off_ms = 50

[[steps]]
kind = "power"
on = true
)");
        const Run run =
            bench.Q714(args({"run", "--clock", "7", "--format", "json", "--port"}) << sim << plan);
        QVERIFY2(run.exit == 0, run.err.constData());
        const QStringList received = bench.Received(0);
        QCOMPARE(startingWith(received, QStringLiteral("M")),
                 QStringList({"M7", "M3", "M3", "M3"}));
        QCOMPARE(startingWith(received, QStringLiteral("D")),
                 QStringList({"D015", "D030", "D030", "D030"}));
    }

    void aDumpNamesTheEncodersTypeAndMap() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--model", "t6-mt19"}).isEmpty());
        const QString path = bench.File("u4.json");
        QCOMPARE(bench.Q714(args({"config", "dump"}) << path).exit, 0);
        const QJsonObject encoder =
            QJsonDocument::fromJson(readFile(path)).object().value("encoder").toObject();
        QCOMPARE(encoder.value("type").toInt(), 6);
        QCOMPARE(encoder.value("register_map").toString(), QStringLiteral("U4"));
    }

    // A file that names a key twice is ambiguous: refused before the port
    // is opened.
    void aSettingsFileWithADuplicateKeyIsRefused_data() {
        QTest::addColumn<QByteArray>("content");
        const QByteArray head =
            R"({"schema_version": 1, "type": "config", "encoder": {"type": 2, "register_map": "U2"})";
        QTest::newRow("setting") << QByteArray(
            head + R"(, "transferable": {"position_filter": 6, "position_filter": 9}})");
        QTest::newRow("escaped the second time") << QByteArray(
            head + R"(, "transferable": {"position_filter": 6, "position\u005ffilter": 9}})");
        QTest::newRow("section") << QByteArray(head +
                                               R"(, "transferable": {"position_filter": 6},)"
                                               R"( "transferable": {"position_filter": 9}})");
        QTest::newRow("header") << QByteArray(head + R"(, "type": "config"})");
        QTest::newRow("encoder") << QByteArray(
            R"({"schema_version": 1, "type": "config", "encoder": )"
            R"({"type": 2, "register_map": "U2", "type": 6}})");
    }

    void aSettingsFileWithADuplicateKeyIsRefused() {
        QFETCH(QByteArray, content);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const QString path = writeFile(bench.File("twice.json"), content);
        for (const char* action : {"restore", "verify"}) {
            const Run run =
                bench.Q714(args({"config", action, "--yes", "--other-encoder"}) << path);
            QVERIFY2(run.exit == 5, run.err.constData());
            QVERIFY2(run.err.contains("twice"), run.err.constData());
        }
        QVERIFY(bench.Received(0).isEmpty());
    }

    // Nested objects and arrays with the same keys are no duplicates.
    void keysOfDifferentObjectsAreNoDuplicates() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const QString path = writeFile(
            bench.File("nested.json"),
            R"({"schema_version": 1, "type": "config", "notes": [{"type": 1}, {"type": 2}],)"
            " \"encoder\": {\"type\": 2, \"register_map\": \"U2\", "
            "\"serial\": \"{\\\"type\\\": \\\"x\\\"}\"},"
            R"( "transferable": {"position_filter": 4}, "unit": {}})");
        const Run run = bench.Q714(args({"config", "verify"}) << path);
        QVERIFY2(run.exit == 0, run.err.constData());
    }

    // Settings of another type or register map are refused after the
    // connect, before any write, unless --other-encoder.
    void settingsOfAnotherEncoderAreRefused() {
        Bench bench;
        const QString u2 = bench.Simulator("sim-1");
        const QString u4 = bench.Simulator("sim-2", {"--model", "t6-mt19", "--serial", "Q7R00999"});
        const QString t1 = bench.Simulator("sim-3", {"--model", "t1-mt20", "--serial", "Q7R00555"});
        QVERIFY(!u2.isEmpty() && !u4.isEmpty() && !t1.isEmpty());
        const QString path = bench.File("u2.json");
        QCOMPARE(bench.Q714(args({"config", "dump", "--port"}) << u2 << path).exit, 0);
        for (const QString& other : {u4, t1}) {
            for (const char* action : {"restore", "verify"}) {
                const Run run =
                    bench.Q714(args({"config", action, "--yes", "--port"}) << other << path);
                QVERIFY2(run.exit == 5, run.err.constData());
                QVERIFY2(run.err.contains("--other-encoder"), run.err.constData());
            }
        }
        QVERIFY(startingWith(bench.Received(1), QStringLiteral("W:")).isEmpty());
        QVERIFY(startingWith(bench.Received(2), QStringLiteral("W:")).isEmpty());
        const Run anyway = bench.Q714(
            args({"config", "restore", "--yes", "--other-encoder", "--port"}) << t1 << path);
        QVERIFY2(anyway.exit == 0, anyway.err.constData());
        QVERIFY(!startingWith(bench.Received(2), QStringLiteral("W:")).isEmpty());
    }

    // A file from before the type and map were written says so.
    void aFileWithoutTypeAndMapNeedsOtherEncoder() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const QString path = writeFile(
            bench.File("old.json"),
            R"({"schema_version": 1, "type": "config", "encoder": {"serial": "UX217041"},)"
            R"( "transferable": {"position_filter": 4}, "unit": {"position_offset": 0}})");
        const Run refused = bench.Q714(args({"config", "restore", "--yes"}) << path);
        QCOMPARE(refused.exit, 5);
        QVERIFY2(refused.err.contains("register map") && refused.err.contains("--other-encoder"),
                 refused.err.constData());
        QVERIFY(bench.Received(0).isEmpty());
        const Run verified = bench.Q714(args({"config", "verify", "--other-encoder"}) << path);
        QVERIFY2(verified.exit == 0, verified.err.constData());
    }

    void aPortIsChosenBySerialAndRunsOnce() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        const QString b = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        const Run bySerial = bench.Q714(args({"info", "--format", "json", "--port", "Q7R00999"}));
        QVERIFY2(bySerial.exit == 0, bySerial.err.constData());
        QCOMPARE(bySerial.Json().value("adapter").toObject().value("serial").toString(),
                 QStringLiteral("Q7R00999"));
        const Run unknown = bench.Q714(args({"info", "--port", "Q7R12345"}));
        QCOMPARE(unknown.exit, 3);
        QVERIFY2(unknown.err.contains("no adapter with serial Q7R12345"), unknown.err.constData());

        const QString device = QFileInfo(a).canonicalFilePath();
        for (const QStringList& twice :
             {QStringList{a, a}, QStringList{a, device}, QStringList{a, "Q7R00417"}}) {
            const Run once = bench.Q714(args({"read", "--format", "json", "--port"})
                                        << twice[0] << "--port" << twice[1]);
            QVERIFY2(once.exit == 0, once.err.constData());
            QVERIFY2(once.Json().value("command").toString() == QLatin1String("read"),
                     once.out.constData());
            QCOMPARE(once.Json().value("readings").toArray().size(), 1);
        }
    }

    // A port another q714 holds is named busy, never taken for silent.
    void aPortInUseIsNamedBusy() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        QVERIFY(!sim.isEmpty());
        const QString free = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        Run info, scan, all;
        const Run holder =
            bench.During(args({"read", "--follow", "--format", "jsonl", "--port"}) << sim,
                         "\"type\":\"reading\"", [&](QProcess& q714) {
                             info = bench.Q714(args({"info", "--port"}) << sim);
                             scan = bench.Q714(args({"scan", "--format", "json"}));
                             all = bench.Q714(args({"--all", "info", "--format", "json"}));
                             q714.terminate();
                         });
        QCOMPARE(holder.exit, 130);
        QCOMPARE(info.exit, 3);
        QVERIFY2(info.err.contains("in use") && info.err.contains("q714"), info.err.constData());
        QVERIFY2(!info.err.contains("no adapter answers"), info.err.constData());
        const QJsonArray adapters = scan.Json().value("adapters").toArray();
        QCOMPARE(adapters.size(), 2);
        QCOMPARE(adapters.last().toObject().value("busy").toBool(), true);
        QCOMPARE(adapters.last().toObject().value("port").toString(), sim);
        // Every adapter means the busy one too: it says it is in use, it is
        // not left out unseen.
        QCOMPARE(all.exit, 3);
        QMap<QString, QString> classes;
        for (const QJsonValue& document : all.JsonArray())
            classes.insert(document.toObject().value("port").toString(),
                           document.toObject().value("exit_class").toString());
        QCOMPARE(classes.value(free), QStringLiteral("done"));
        QCOMPARE(classes.value(sim), QStringLiteral("link"));
    }

    // A child's own options go in front of the user's arguments, so a "--"
    // of theirs cannot swallow them.
    void aDoubleDashReachesEveryDevice() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        const QString b = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        const Run run = bench.Q714(args({"--port"})
                                   << a << "--port" << b
                                   << args({"--yes", "--format", "json", "preset-mt", "--", "-5"}));
        QVERIFY2(run.exit == 0, run.err.constData());
        for (const QJsonValue& document : run.JsonArray())
            QCOMPARE(document.toObject().value("turns").toInt(), -5);
        QCOMPARE(run.JsonArray().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCliChecks)
#include "test_cli_checks.moc"
