// q714 as a script uses it: the real program against q714-sim processes in a
// runtime folder of the test's own. Every command in text and JSON, the exit
// status of every kind of failure, restores that are verified, several
// adapters at once, and Ctrl+C in the middle of long commands.
#include "CliBench.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral(Q714_CLI_PATH)) ||
            !QFile::exists(QStringLiteral(Q714_SIM_PATH)))
            QSKIP("q714 or q714-sim is not built");
    }

    void everyCommandInTextAndJson_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("field");
        QTest::newRow("info") << args({"info"}) << "encoder";
        QTest::newRow("power off") << args({"power", "off"}) << "supply_state";
        QTest::newRow("power on") << args({"power", "on", "--volt", "3.3"}) << "supply_state";
        QTest::newRow("spi") << args({"spi", "--clock", "8", "--ncs-delay", "7"}) << "clock";
        QTest::newRow("read") << args({"read", "--count", "3", "--signal"}) << "readings";
        QTest::newRow("config get") << args({"config", "get"}) << "settings";
        QTest::newRow("config set") << args({"config", "set", "position_filter=6"}) << "written";
        QTest::newRow("zero") << args({"zero", "--yes"}) << "new_offset";
        QTest::newRow("preset-mt") << args({"preset-mt", "5", "--yes"}) << "turns";
        QTest::newRow("store") << args({"store", "--yes"}) << "stored";
        QTest::newRow("factory-reset") << args({"factory-reset", "--yes"}) << "reset";
        QTest::newRow("calibrate")
            << args({"calibrate", "--arc", "90", "--timeout", "5"}) << "successful";
        QTest::newRow("diag") << args({"diag", "--write-access", "--reset-margin", "--yes"})
                              << "write_access";
        QTest::newRow("errormap") << args({"errormap"}) << "corrections";
        QTest::newRow("noise") << args({"noise", "--samples", "300"}) << "six_sigma";
        QTest::newRow("power-cycle")
            << args({"power-cycle", "--cycles", "2", "--min", "10", "--max", "10", "--stationary"})
            << "jumps";
        QTest::newRow("scan") << args({"scan"}) << "adapters";
    }

    void everyCommandInTextAndJson() {
        QFETCH(QStringList, command);
        QFETCH(QString, field);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--selfcal-seconds", "0.2"}).isEmpty());
        const Run text = bench.Q714(command + args({"--format", "text"}));
        QVERIFY2(text.exit == 0, text.err.constData());
        QVERIFY(!text.out.trimmed().isEmpty());
        const Run json = bench.Q714(command + args({"--format", "json", "--quiet"}));
        QVERIFY2(json.exit == 0, json.err.constData());
        const QJsonObject result = json.Json();
        QCOMPARE(result.value("schema_version").toInt(), 1);
        QVERIFY2(result.contains(field), json.out.constData());
        if (command.first() != QLatin1String("scan"))
            QCOMPARE(result.value("adapter").toObject().value("serial").toString(),
                     QStringLiteral("Q7R00417"));
    }

    void readingsStreamInEveryFormat() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--position", "65536"}).isEmpty());
        const Run lines = bench.Q714(args({"read", "--count", "4", "--format", "jsonl"}));
        QCOMPARE(lines.exit, 0);
        const QList<QJsonObject> objects = lines.Lines();
        QCOMPARE(objects.size(), 5);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(objects[i].value("type").toString(), QStringLiteral("reading"));
            QCOMPARE(objects[i].value("schema_version").toInt(), 1);
            QCOMPARE(objects[i].value("singleturn").toDouble(), 65536.0);
            QCOMPARE(objects[i].value("position").toDouble(), 180.0);
        }
        QCOMPARE(objects.last().value("type").toString(), QStringLiteral("result"));

        const Run csv = bench.Q714(args(
            {"read", "--count", "2", "--format", "csv", "--resolution", "1/1", "--unit", "c"}));
        const QList<QByteArray> rows = csv.out.trimmed().split('\n');
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows[0].contains("singleturn") && rows[0].contains("position"));
        QVERIFY(rows[1].contains(",65536,"));

        const Run json = bench.Q714(args({"read", "--count", "3", "--format", "json"}));
        const QJsonArray readings = json.Json().value("readings").toArray();
        QCOMPARE(readings.size(), 3);
        QCOMPARE(readings[2].toObject().value("index").toInt(), 3);
        QCOMPARE(json.Json().value("complete").toBool(), true);
    }

    void exitStatusOfEveryFailure() {
        Bench bench;
        QCOMPARE(bench.Q714(args({"info"})).exit, 3); // no adapter
        QCOMPARE(bench.Q714(args({"frobnicate"})).exit, 2);
        QCOMPARE(bench.Q714(args({"read", "--cycles", "3"})).exit, 2); // not read's option
        QCOMPARE(bench.Q714(args({"--port", "/dev/null", "info"})).exit, 3);
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        QCOMPARE(bench.Q714(args({"--expect-serial", "NOPE", "info"})).exit, 4);
        QCOMPARE(bench.Q714(args({"--expect-serial", "UX217041", "info"})).exit, 0);
        QCOMPARE(bench.Q714(args({"--expect-serial", "Q7R00417", "power", "on"})).exit, 0);
        QCOMPARE(bench.Q714(args({"--expect-serial", "UX217041", "power", "on"})).exit, 4);
        // The simulated filter takes at most 255.
        QCOMPARE(bench.Q714(args({"config", "set", "position_filter=300"})).exit, 4);
        QCOMPARE(bench.Q714(args({"config", "set", "position_filter=abc"})).exit, 2);
        QCOMPARE(bench.Q714(args({"config", "dump", "/proc/no/such/folder/x.json"})).exit, 5);
        QCOMPARE(bench.Q714(args({"errormap", "--csv", "/proc/no/such/map.csv"})).exit, 5);
        QCOMPARE(bench.Q714(args({"zero"})).exit, 2); // no terminal, no --yes

        Bench garbled;
        QVERIFY(!garbled.Simulator("sim-1").isEmpty());
        QVERIFY(!garbled.Simulator("sim-2", {"--garbage"}).isEmpty());
        QCOMPARE(garbled.Q714(args({"--port"}) << garbled.Link("sim-2") << "info").exit, 3);
        Bench late;
        QVERIFY(!late.Simulator("sim-1", {"--late-reply", "1:600"}).isEmpty());
        QCOMPARE(late.Q714(args({"--port"}) << late.Link("sim-1") << "info").exit, 3);
    }

    void anUnpluggedAdapterEndsTheCommandWithLinkLost() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const Run run =
            bench.During(args({"read", "--follow", "--format", "jsonl"}), "\"type\":\"reading\"",
                         [&bench](QProcess&) { bench.Kill(0); });
        QVERIFY2(run.exit == 3, run.err.constData());
        QCOMPARE(run.LastLine().value("type").toString(), QStringLiteral("result"));
        QCOMPARE(run.LastLine().value("complete").toBool(), false);
    }

    void aRestoreIsVerifiedAfterAPowerCycle() {
        Bench bench;
        // The simulated NVRAM keeps no position filter (U2 register 0x04).
        QVERIFY(!bench.Simulator("sim-1", {"--nvram-forgets", "04"}).isEmpty());
        const QString dump = bench.File("settings.json");
        QCOMPARE(bench.Q714(args({"config", "dump"}) << dump).exit, 0);
        QJsonObject document = QJsonDocument::fromJson([&] {
                                   QFile f(dump);
                                   f.open(QIODevice::ReadOnly);
                                   return f.readAll();
                               }())
                                   .object();
        QCOMPARE(document.value("schema_version").toInt(), 1);
        QCOMPARE(document.value("encoder").toObject().value("serial").toString(),
                 QStringLiteral("UX217041"));
        QJsonObject transferable = document.value("transferable").toObject();
        QCOMPARE(transferable.value("position_filter").toInt(), 4);
        QVERIFY(document.value("unit").toObject().contains("position_offset"));
        transferable.insert("position_filter", 9);
        transferable.insert("multiturn_error_arc", 40);
        document.insert("transferable", transferable);
        const QString changed = bench.File("changed.json");
        QFile out(changed);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(document).toJson());
        out.close();

        const Run restore =
            bench.Q714(args({"config", "restore", "--yes", "--format", "json"}) << changed);
        QCOMPARE(restore.exit, 1);
        const QJsonObject difference =
            restore.Json().value("differences").toObject().value("position_filter").toObject();
        QCOMPARE(difference.value("expected").toInt(), 9);
        QCOMPARE(difference.value("actual").toInt(), 4);
        QVERIFY(restore.out.contains("\"multiturn_error_arc\": 40"));
        QVERIFY(bench.Received(0).contains("f")); // the supply was cycled
        QCOMPARE(bench.Q714(args({"config", "verify"}) << changed).exit, 1);

        transferable.insert("position_filter", 4);
        document.insert("transferable", transferable);
        QFile again(changed);
        QVERIFY(again.open(QIODevice::WriteOnly | QIODevice::Truncate));
        again.write(QJsonDocument(document).toJson());
        again.close();
        QCOMPARE(bench.Q714(args({"config", "verify"}) << changed).exit, 0);
        // Unit settings go only to the encoder they came from.
        QJsonObject encoder = document.value("encoder").toObject();
        encoder.insert("serial", "SOMEONE");
        document.insert("encoder", encoder);
        QFile other(changed);
        QVERIFY(other.open(QIODevice::WriteOnly | QIODevice::Truncate));
        other.write(QJsonDocument(document).toJson());
        other.close();
        QCOMPARE(bench.Q714(args({"config", "restore", "--yes", "--include-unit"}) << changed).exit,
                 4);
    }

    void aBadSettingsFileSendsNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray("{\"schema_version\": 1, \"type\": \"conf");
        QTest::newRow("not an object") << QByteArray("[1, 2]");
        QTest::newRow("other schema")
            << QByteArray("{\"schema_version\": 2, \"type\": \"config\"}");
        QTest::newRow("unknown key") << QByteArray(
            "{\"schema_version\": 1, \"type\": \"config\", \"transferable\": {\"zero\": 1}}");
        QTest::newRow("text value")
            << QByteArray("{\"schema_version\": 1, \"type\": \"config\", "
                          "\"transferable\": {\"position_filter\": \"9\"}}");
        QTest::newRow("fraction") << QByteArray("{\"schema_version\": 1, \"type\": \"config\", "
                                                "\"transferable\": {\"position_filter\": 9.5}}");
        QTest::newRow("too large")
            << QByteArray("{\"schema_version\": 1, \"type\": \"config\", \"transferable\": "
                          "{\"multiturn_error_arc\": 256}}");
    }

    void aBadSettingsFileSendsNothing() {
        QFETCH(QByteArray, content);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const QString path = bench.File("bad.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        const Run restore = bench.Q714(args({"config", "restore", "--yes"}) << path);
        QCOMPARE(restore.exit, 5);
        QVERIFY(restore.err.contains("nothing was sent"));
        for (const QString& command : bench.Received(0))
            QVERIFY2(!command.startsWith(QLatin1String("W:")), qPrintable(command));
    }

    void severalAdaptersAtOnce() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        const QString b = bench.Simulator("sim-2", {"--serial", "Q7R00999"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        const Run both = bench.Q714(args({"read", "--count", "3", "--format", "json", "--port"})
                                    << a << "--port" << b);
        QCOMPARE(both.exit, 0);
        const QJsonArray documents = both.JsonArray();
        QCOMPARE(documents.size(), 2);
        QStringList serials;
        for (const QJsonValue& document : documents) {
            QCOMPARE(document.toObject().value("items").toArray().size(), 3);
            serials << document.toObject().value("adapter").toObject().value("serial").toString();
        }
        serials.sort();
        QCOMPARE(serials, QStringList({"Q7R00417", "Q7R00999"}));

        const Run all = bench.Q714(args({"--all", "info", "--format", "jsonl"}));
        QCOMPARE(all.exit, 0);
        QCOMPARE(all.Lines().size(), 2);
        for (const QJsonObject& line : all.Lines())
            QVERIFY(line.value("port").toString() == a || line.value("port").toString() == b);

        // A command that changes anything never picks one of several.
        const Run refused = bench.Q714(args({"zero", "--yes"}));
        QCOMPARE(refused.exit, 2);
        QVERIFY(refused.err.contains("sim-1") && refused.err.contains("sim-2"));
        QCOMPARE(bench.Q714(args({"info"})).exit, 0); // a look takes the first, and says so

        // The worst status of the devices is the status.
        const QString c = bench.Simulator("sim-3", {"--silent"});
        const Run worst = bench.Q714(args({"info", "--port"}) << a << "--port" << c);
        QCOMPARE(worst.exit, 3);
    }

    void ctrlCStopsPowerCyclingWithTheSupplyOn() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const Run run = bench.During(args({"power-cycle", "--cycles", "1000", "--min", "20",
                                           "--max", "40", "--format", "jsonl"}),
                                     "\"done\":3");
        QCOMPARE(run.exit, 130);
        const QJsonObject result = run.LastLine();
        QCOMPARE(result.value("type").toString(), QStringLiteral("result"));
        QCOMPARE(result.value("complete").toBool(), false);
        QVERIFY(run.err.contains("the supply is on"));
        QStringList supply;
        for (const QString& command : bench.Received(0))
            if (command == QLatin1String("n") || command == QLatin1String("f"))
                supply << command;
        QCOMPARE(supply.last(), QStringLiteral("n"));
    }

    // Stopped after its first write, a restore writes no more and says the
    // encoder holds settings not stored.
    void ctrlCInARestoreSaysWhatIsLeft() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on", "--delay", "60"}).isEmpty());
        const QString path = bench.File("settings.json");
        QCOMPARE(bench.Q714(args({"config", "dump"}) << path).exit, 0);
        const Run run = bench.During(
            args({"config", "restore", "--yes", "--format", "jsonl", "--log-comms"}) << path,
            "TX:W:");
        QCOMPARE(run.exit, 130);
        QVERIFY2(run.err.contains("settings written but not stored"), run.err.constData());
        QCOMPARE(run.LastLine().value("complete").toBool(), false);
        QVERIFY(!bench.Received(0).contains("W:0001:00000049:00000063")); // nothing stored
    }

    void errorMapFiles() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const QString csv = bench.File("map.csv");
        const QString png = bench.File("map.png");
        const Run run = bench.Q714(args({"errormap", "--csv"}) << csv << "--png" << png);
        QVERIFY2(run.exit == 0, run.err.constData());
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), 514);
        QFile image(png);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(image.read(8) == QByteArray("\x89PNG\r\n\x1a\n"));
        // A map that cannot be read whole writes no file.
        Bench failing;
        QVERIFY(!failing.Simulator("sim-1", {"--fail-read-at", "1A58"}).isEmpty());
        const QString none = failing.File("none.csv");
        QCOMPARE(failing.Q714(args({"errormap", "--csv"}) << none).exit, 4);
        QVERIFY(!QFile::exists(none));
        // A file that cannot be written still leaves a whole json document.
        const Run unwritable =
            bench.Q714(args({"errormap", "--format", "json", "--csv", "/nonexistent/map.csv"}));
        QCOMPARE(unwritable.exit, 5);
        QCOMPARE(unwritable.Json().value("corrections").toArray().size(), 512);
        QCOMPARE(unwritable.Json().value("complete").toBool(), false);
    }

    void recordWritesOneRowPerReading() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1").isEmpty());
        const QString path = bench.File("rec.csv");
        const Run run =
            bench.Q714(args({"record", "--count", "5", "--format", "json", "--debug"}) << path);
        QVERIFY2(run.exit == 0, run.err.constData());
        QCOMPARE(run.Json().value("rows").toInt(), 5);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QVERIFY(lines.first().startsWith("Time(ms);RX;MT;ST;"));
        QCOMPARE(lines.size(), 7); // header, 5 rows, the empty rest after the last CR LF
        QCOMPARE(bench.Q714(args({"record", "--count", "5", "--debug"}) << path).exit, 5);
    }

    // A late reply costs one exchange, as in the window: the command is sent
    // again and the reading goes on, in the connect as in the readings.
    void lateRepliesCostOneExchange() {
        for (const char* late : {"12:600", "40:600"}) {
            Bench bench;
            QVERIFY(!bench.Simulator("sim-1", {"--late-reply", late}).isEmpty());
            const Run run = bench.Q714(args({"read", "--count", "60", "--format", "jsonl"}));
            QVERIFY2(run.exit == 0, run.err.constData());
            const QJsonObject result = run.LastLine();
            QCOMPARE(result.value("count").toInt(), 60);
            QVERIFY(result.value("complete").toBool());
            // No CRC mode was switched for want of an answer.
            QVERIFY(!result.value("encoder").toObject().value("non_inverted_crc").toBool());
        }
    }

    // A reply that is no whole frame is a failed reading (exit 4), never
    // position 0 without a CRC error.
    void aReplyThatIsNoFrameIsAFailedReading() {
        for (const char* frame : {"ZZZZ", "0001800003", "0001800003A0XY", "0001800003A07E00"}) {
            Bench bench;
            QVERIFY(!bench.Simulator("sim-1", {"--reply", QStringLiteral("?07:000=") + frame})
                         .isEmpty());
            const Run run = bench.Q714(args({"read", "--count", "3", "--format", "jsonl"}));
            QVERIFY2(run.exit == 4, run.err.constData());
            for (const QJsonObject& line : run.Lines())
                QVERIFY2(line.value("type").toString() != QLatin1String("reading"),
                         run.out.constData());
            QVERIFY2(run.err.contains("Not a position frame"), run.err.constData());
        }
    }

    // Every power-up is checked, the last one too: with a jump at every
    // power-on, one cycle finds one jump.
    void powerCyclingChecksTheLastPowerUp() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-jump-every", "1"}).isEmpty());
        const Run run = bench.Q714(args({"power-cycle", "--cycles", "1", "--min", "10", "--max",
                                         "10", "--stationary", "--format", "json"}));
        QVERIFY2(run.exit == 1, run.err.constData());
        QCOMPARE(run.Json().value("jumps").toInt(), 1);
        QCOMPARE(run.Json().value("cycles").toInt(), 1);
    }

    // The arc and time-out asked for are written on their own, read back and
    // reported; without them the run keeps the encoder's own, and says which.
    void calibrateWritesAndReportsExactlyWhatWasAsked() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--selfcal-seconds", "0.2"}).isEmpty());
        const Run asked = bench.Q714(
            args({"calibrate", "--arc", "90", "--timeout", "5", "--format", "json", "--quiet"}));
        QVERIFY2(asked.exit == 0, asked.err.constData());
        QCOMPARE(asked.Json().value("arc").toInt(), 90);
        QCOMPARE(asked.Json().value("timeout_s").toInt(), 5);
        QVERIFY(asked.Json().value("arc_written").toBool());
        const QStringList received = bench.Received(0);
        QVERIFY(received.contains("W:0002:00000019:0000005A"));
        QVERIFY(received.contains("W:0001:00000021:00000005"));
        const Run own = bench.Q714(args({"calibrate", "--format", "json", "--quiet"}));
        QVERIFY2(own.exit == 0, own.err.constData());
        QCOMPARE(own.Json().value("arc").toInt(), 90); // what the encoder holds now
        QVERIFY(!own.Json().value("arc_written").toBool());
        QVERIFY(!own.Json().value("timeout_written").toBool());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
