// What q714 tells its user, as a script and a person see it: the real
// program against q714-sim processes. A failure still ends the output with a
// result that says how and why; output that cannot be written is a failure;
// interrupts never lose a result; the text is English and device text
// breaks no file.
#include "AdapterCommands.h"
#include "CliBench.h"
#include "ConsoleFrontEnd.h"
#include "Q714_SPI_Dravonel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The whole of standard output as one JSON document; fails the test when it
// is not exactly one.
QJsonObject onlyDocument(const Run& run) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qWarning("not one JSON document: %s\n%s", qPrintable(error.errorString()),
                 run.out.constData());
    return document.object();
}

// Standard output sent to a full disk.
void outputToFullDisk(QProcess& process) {
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
}

// A device that is always full, as a file to be written: a node of its own in
// `folder` where the system allows one, so that a program that replaces the
// file instead of writing to it harms nothing. Without one, /dev/full, which
// only root could replace: empty for root then.
QString fullDevice(const QString& folder) {
    const QString path = folder + QStringLiteral("/full");
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0)
        return path;
    return ::geteuid() == 0 ? QString() : QStringLiteral("/dev/full");
}

// q714 in a process group of its own, as a shell starts a job.
void ownProcessGroup(QProcess& process) {
    process.setChildProcessModifier([] { ::setsid(); });
}

// Stops q714 as `timeout -s INT` does: SIGINT to the process, then at once to
// its process group (q714, and the children of a several-device run).
void interruptAsTimeoutDoes(QProcess& q714) {
    const pid_t pid = pid_t(q714.processId());
    if (pid <= 0) // ended already: never signal the test's own group
        return;
    ::kill(pid, SIGINT);
    ::kill(-pid, SIGINT);
}

constexpr int Rounds = 10; // a race between the signals shows in some of them

} // namespace

class TestCliReports : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral(Q714_CLI_PATH)) ||
            !QFile::exists(QStringLiteral(Q714_SIM_PATH)))
            QSKIP("q714 or q714-sim is not built");
    }

    // -- failures in JSON --

    void aFailureStillWritesOneJsonDocument_data() {
        QTest::addColumn<QStringList>("simulator"); // options; empty: no simulator
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("exitClass");
        QTest::addColumn<QString>("message");
        const QStringList none;
        const QStringList plain{"--power-on"};
        QTest::newRow("no adapter") << none << args({"info"}) << 3 << "link"
                                    << "no adapter found";
        QTest::newRow("wrong port") << none << args({"--port", "/dev/null", "info"}) << 3 << "link"
                                    << "cannot open /dev/null";
        QTest::newRow("usage found after the format")
            << plain << args({"read", "--count", "0"}) << 2 << "usage"
            << "--count takes a whole number from 1 to 1000000000";
        QTest::newRow("a reading fails")
            << QStringList{"--fail-read-at", "1A58"} << args({"errormap"}) << 4 << "encoder"
            << "point 300 could not be read; no file written";
        QTest::newRow("a file cannot be written")
            << plain << args({"errormap", "--csv", "/nonexistent/map.csv"}) << 5 << "file"
            << "cannot write /nonexistent/map.csv";
        QTest::newRow("a plan with mistakes")
            << plain << args({"run", "/nonexistent/plan.toml"}) << 5 << "file"
            << "/nonexistent/plan.toml has 1 mistake(s); nothing was sent";
        QTest::newRow("a store that cannot be used")
            << none << args({"records", "list", "--db", "sqlite:/dev/null/r.sqlite"}) << 3 << "link"
            << "the record store cannot be used";
    }

    void aFailureStillWritesOneJsonDocument() {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QString, exitClass);
        QFETCH(QString, message);
        Bench bench;
        if (!simulator.isEmpty())
            QVERIFY(!bench.Simulator("sim-1", simulator).isEmpty());
        const Run json = bench.Q714(command + args({"--format", "json", "--quiet"}));
        QCOMPARE(json.exit, status);
        const QJsonObject result = onlyDocument(json);
        QCOMPARE(result.value("type").toString(), QStringLiteral("result"));
        QCOMPARE(result.value("complete"), QJsonValue(false));
        QCOMPARE(result.value("exit_status").toInt(), status);
        QCOMPARE(result.value("exit_class").toString(), exitClass);
        QVERIFY2(result.value("message").toString().startsWith(message),
                 qPrintable(result.value("message").toString()));
        QVERIFY(json.err.contains(message.toUtf8())); // said on standard error as well

        const Run lines = bench.Q714(command + args({"--format", "jsonl", "--quiet"}));
        QCOMPARE(lines.exit, status);
        const QJsonObject last = lines.LastLine();
        QCOMPARE(last.value("type").toString(), QStringLiteral("result"));
        QCOMPARE(last.value("complete"), QJsonValue(false));
        QCOMPARE(last.value("exit_class").toString(), exitClass);
    }

    // A port another q714 holds open.
    void aBusyPortStillWritesOneJsonDocument() {
        Bench bench;
        const QString port = bench.Simulator("sim-1", {"--power-on"});
        QVERIFY(!port.isEmpty());
        Run busy;
        bench.During(args({"read", "--follow", "--format", "jsonl", "--quiet", "--port"}) << port,
                     "\"type\":\"reading\"", [&](QProcess& holder) {
                         busy = bench.Q714(args({"info", "--format", "json", "--port"}) << port);
                         holder.terminate();
                     });
        QCOMPARE(busy.exit, 3);
        const QJsonObject result = onlyDocument(busy);
        QCOMPARE(result.value("exit_class").toString(), QStringLiteral("link"));
        QCOMPARE(result.value("port").toString(), port);
        QCOMPARE(result.value("complete"), QJsonValue(false));
    }

    // A result the command built keeps its fields; success says so too.
    void aResultKeepsItsFieldsAndSaysHowItEnded() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--fail-read-at", "1A58"}).isEmpty());
        const QJsonObject failed =
            onlyDocument(bench.Q714(args({"errormap", "--format", "json", "--quiet"})));
        QCOMPARE(failed.value("failed_point").toInt(), 300);
        QCOMPARE(failed.value("corrections").toArray().size(), 300);
        QCOMPARE(failed.value("adapter").toObject().value("serial").toString(),
                 QStringLiteral("Q7R00417"));
        QCOMPARE(failed.value("exit_class").toString(), QStringLiteral("encoder"));

        const QJsonObject done =
            onlyDocument(bench.Q714(args({"info", "--format", "json", "--quiet"})));
        QCOMPARE(done.value("complete"), QJsonValue(true));
        QCOMPARE(done.value("exit_status").toInt(), 0);
        QCOMPARE(done.value("exit_class").toString(), QStringLiteral("done"));
        QVERIFY(!done.contains("message"));
    }

    // Several devices: one that fails still has its result among the others.
    void severalDevicesEachEndWithAResult() {
        Bench bench;
        const QString a = bench.Simulator("sim-1");
        QVERIFY(!a.isEmpty());
        const Run both =
            bench.Q714(args({"info", "--format", "json", "--quiet", "--port"}) << a << "--port"
                                                                               << "/dev/null");
        QCOMPARE(both.exit, 3);
        const QJsonArray documents = QJsonDocument::fromJson(both.out).array();
        QCOMPARE(documents.size(), 2);
        QStringList classes;
        for (const QJsonValue& document : documents)
            classes << document.toObject().value("exit_class").toString();
        classes.sort();
        QCOMPARE(classes, QStringList({"done", "link"}));

        Bench empty;
        const Run none = empty.Q714(args({"--all", "info", "--format", "json"}));
        QCOMPARE(none.exit, 3);
        const QJsonArray alone = QJsonDocument::fromJson(none.out).array();
        QCOMPARE(alone.size(), 1);
        QCOMPARE(alone[0].toObject().value("message").toString(),
                 QStringLiteral("no adapter found"));
    }

    // -- output that cannot be written --

    void aFullStandardOutputIsAFailure_data() {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("read") << args({"read", "--count", "3", "--format", "text"});
        QTest::newRow("read, jsonl") << args({"read", "--count", "3", "--format", "jsonl"});
        QTest::newRow("info") << args({"info", "--format", "json"});
        QTest::newRow("config dump") << args({"config", "dump"});
        QTest::newRow("config dump -") << args({"config", "dump", "-"});
        // Without the failure it would never end.
        QTest::newRow("read --follow") << args({"read", "--follow", "--format", "jsonl"});
    }

    void aFullStandardOutputIsAFailure() {
        QFETCH(QStringList, command);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const Run run = bench.Q714(command + args({"--quiet"}), {}, outputToFullDisk);
        QCOMPARE(run.exit, 5);
        QVERIFY2(run.err.contains("standard output: No space left on device"), run.err.constData());
    }

    // A reader that closes standard output stops the command as Ctrl+C does;
    // that is no failure to write.
    void aClosedStandardOutputStopsAsAnInterrupt() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        QProcess head; // reads two lines, then closes its input
        QProcess q714;
        q714.setProcessEnvironment(bench.Environment());
        q714.setStandardOutputProcess(&head);
        head.start(QStringLiteral("head"), {"-n", "2"});
        q714.start(QStringLiteral(Q714_CLI_PATH),
                   args({"read", "--follow", "--format", "jsonl", "--quiet"}));
        QVERIFY(q714.waitForFinished(60000));
        head.waitForFinished(10000);
        QCOMPARE(q714.exitCode(), 130);
        QCOMPARE(head.readAllStandardOutput().count('\n'), 2);
        QVERIFY(!q714.readAllStandardError().contains("standard output"));
    }

    void aFileThatCannotBeWrittenIsAFailure_data() {
        QTest::addColumn<QStringList>("command"); // the file's path follows
        QTest::newRow("config dump") << args({"config", "dump"});
        QTest::newRow("errormap --csv") << args({"errormap", "--csv"});
        QTest::newRow("errormap --png") << args({"errormap", "--png"});
    }

    void aFileThatCannotBeWrittenIsAFailure() {
        QFETCH(QStringList, command);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const QString full = fullDevice(bench.File(QString()));
        if (full.isEmpty())
            QSKIP("no device node of the test's own, and /dev/full is not to be risked");
        const Run run = bench.Q714(command + QStringList{full, "--format", "json", "--quiet"});
        QCOMPARE(run.exit, 5);
        QVERIFY2(run.err.contains(("cannot write " + full + ": No space left on device").toUtf8()),
                 run.err.constData());
        QCOMPARE(onlyDocument(run).value("exit_class").toString(), QStringLiteral("file"));
        QVERIFY(!QFileInfo(full).isFile()); // still the device, not replaced by a file
    }

    // The file "-" is standard output.
    void aSettingsDumpToStandardOutput() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const Run dash = bench.Q714(args({"config", "dump", "-", "--quiet"}));
        QCOMPARE(dash.exit, 0);
        QCOMPARE(onlyDocument(dash).value("type").toString(), QStringLiteral("config"));
        QVERIFY(!QFile::exists("-"));
        const Run none = bench.Q714(args({"config", "dump", "--quiet"}));
        QCOMPARE(onlyDocument(none).value("type").toString(), QStringLiteral("config"));
    }

    // -- interrupts --

    // Two SIGINTs in a row, as `timeout -s INT` sends them (to the process,
    // then to its process group): the second one must not cost the result.
    void twoInterruptsStillEndWithTheResult() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        for (int round = 0; round < Rounds; ++round) {
            const Run run =
                bench.During(args({"read", "--follow", "--format", "jsonl", "--quiet"}),
                             "\"type\":\"reading\"", interruptAsTimeoutDoes, ownProcessGroup);
            QCOMPARE(run.exit, 130);
            const QJsonObject result = run.LastLine();
            QCOMPARE(result.value("type").toString(), QStringLiteral("result"));
            QCOMPARE(result.value("complete"), QJsonValue(false));
            QCOMPARE(result.value("exit_class").toString(), QStringLiteral("interrupted"));
            QVERIFY(result.value("count").toInt() > 0);
        }
    }

    // Ctrl+C in a shell reaches the whole process group: the parent and each
    // device's process, and the parent forwards a stop to them as well. Every
    // other round stops it as `timeout -s INT` does, which gives the parent
    // two SIGINTs too.
    void anInterruptToTheProcessGroupOfSeveralDevices() {
        Bench bench;
        const QString a = bench.Simulator("sim-1", {"--power-on"});
        const QString b = bench.Simulator("sim-2", {"--power-on", "--serial", "Q7R00999"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        for (int round = 0; round < Rounds; ++round) {
            QProcess q714;
            q714.setProcessEnvironment(bench.Environment());
            ownProcessGroup(q714);
            q714.start(QStringLiteral(Q714_CLI_PATH),
                       args({"read", "--count", "1000000000", "--format", "json", "--port"})
                           << a << "--port" << b);
            // Both devices connected: each is past its start and reading.
            q714.setReadChannel(QProcess::StandardError);
            QByteArray err;
            while (!(err.contains("[" + a.toUtf8() + "] Frequency") &&
                     err.contains("[" + b.toUtf8() + "] Frequency")) &&
                   q714.waitForReadyRead(30000))
                err += q714.readAllStandardError();
            QVERIFY(q714.processId() > 0);
            if (round % 2 == 0)
                ::kill(-pid_t(q714.processId()), SIGINT);
            else
                interruptAsTimeoutDoes(q714);
            QVERIFY(q714.waitForFinished(60000));
            const Run run{q714.exitCode(), q714.readAllStandardOutput(), {}};
            QCOMPARE(run.exit, 130);
            const QJsonArray documents = QJsonDocument::fromJson(run.out).array();
            QCOMPARE(documents.size(), 2);
            QStringList ports;
            for (const QJsonValue& value : documents) {
                const QJsonObject document = value.toObject();
                ports << document.value("port").toString();
                QCOMPARE(document.value("type").toString(), QStringLiteral("result"));
                QCOMPARE(document.value("exit_class").toString(), QStringLiteral("interrupted"));
                QCOMPARE(document.value("complete"), QJsonValue(false));
            }
            ports.sort();
            QCOMPARE(ports, (QStringList{a, b}));
        }
    }

    // -- English text --

    // The noise figures in q714's own words, formatted from the values.
    void noiseInText() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on", "--position", "1000"}).isEmpty());
        const Run run = bench.Q714(args({"noise", "--samples", "200", "--format", "text"}));
        QCOMPARE(run.exit, 0);
        const QStringList lines = QString::fromUtf8(run.out).trimmed().split('\n');
        QCOMPARE(lines.size(), 7);
        const QStringList labels{
            "samples", "min", "max", "spread", "mean", "6 sigma", "signal level average"};
        for (int i = 0; i < labels.size(); ++i)
            QVERIFY2(lines[i].startsWith(labels[i] + "  "), qPrintable(lines[i]));
        QCOMPARE(lines[0].section(' ', -1), QStringLiteral("200"));
        QCOMPARE(lines[1].section(' ', -1), QStringLiteral("1000.0"));
        QVERIFY(!run.out.contains('\t'));
        for (const char* window : {"vzorcev", "minn", "maxx", "raztros", "povprecje", "Sig Lvl"})
            QVERIFY2(!run.out.contains(window), window);
        QVERIFY(!run.err.contains("vzorcev"));
    }

    // Fewer readings than one signal-level reading needs: no average of 0.
    void noiseWithoutASignalLevelReading() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const Run text = bench.Q714(args({"noise", "--samples", "50", "--format", "text"}));
        QCOMPARE(text.exit, 0);
        QVERIFY2(text.out.contains("signal level average  no signal level read"),
                 text.out.constData());
        const Run json = bench.Q714(args({"noise", "--samples", "50", "--format", "json"}));
        QVERIFY(onlyDocument(json).value("signal_level_average").isNull());
        const Run enough = bench.Q714(args({"noise", "--samples", "100", "--format", "json"}));
        QVERIFY(onlyDocument(enough).value("signal_level_average").toDouble() > 0);
    }

    // "Save data done!" is news of a success, not a problem: --quiet keeps
    // it back, as it does every log line; without it, it is a log line.
    void quietKeepsSuccessesBack_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("news");
        QTest::newRow("store") << args({"store", "--yes"}) << QByteArray("Save data done!");
        QTest::newRow("factory-reset")
            << args({"factory-reset", "--yes"}) << QByteArray("Factory reset done!");
        QTest::newRow("zero") << args({"zero", "--yes"}) << QByteArray("Save data done!");
    }

    void quietKeepsSuccessesBack() {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, news);
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty());
        const Run quiet = bench.Q714(command + args({"--quiet", "--format", "json"}));
        QCOMPARE(quiet.exit, 0);
        QVERIFY2(quiet.err.isEmpty(), quiet.err.constData());
        const Run told = bench.Q714(command + args({"--format", "json"}));
        QCOMPARE(told.exit, 0);
        QVERIFY2(told.err.contains("\n" + news + "\n"), told.err.constData());
        QVERIFY(!told.err.contains("q714: " + news)); // not worded as a problem
    }

    // An adapter set-up command that fails is worded by q714, in English;
    // the window's text for it never reaches standard error.
    void setupProblemsInEnglish() {
        Bench bench;
        // The adapter answers "D005" with an error.
        QVERIFY(!bench.Simulator("sim-1", {"--reply", "D005=ERROR"}).isEmpty());
        const Run spi =
            bench.Q714(args({"spi", "--ncs-delay", "5", "--format", "json", "--port", "sim-1"}));
        QCOMPARE(spi.exit, 3);
        QVERIFY2(spi.err.contains("q714: the adapter did not take the set-up command D005 "
                                  "(reply: ERROR)"),
                 spi.err.constData());
        QCOMPARE(onlyDocument(spi).value("done"), QJsonValue(false));

        // Connecting a powered encoder: the CRC mode "Ce" is refused.
        Bench connecting;
        QVERIFY(!connecting.Simulator("sim-1", {"--power-on", "--reply", "Ce=ERROR"}).isEmpty());
        const Run info = connecting.Q714(args({"info", "--format", "json", "--port", "sim-1"}));
        QVERIFY2(info.err.contains("the adapter did not take the set-up command Ce (reply: ERROR)"),
                 info.err.constData());
        for (const Run* run : {&spi, &info})
            QVERIFY2(!run->err.contains("Problem pri"), run->err.constData());
    }

    // Several devices in text: each device's lines, as it prints them alone,
    // under a header line naming its port.
    void severalDevicesInTextAreBlocksUnderTheirPort() {
        Bench bench;
        const QString a = bench.Simulator("sim-1", {"--power-on"});
        const QString b = bench.Simulator("sim-2", {"--power-on", "--serial", "Q7R00999"});
        QVERIFY(!a.isEmpty() && !b.isEmpty());
        for (const QStringList& command : {args({"info"}), args({"read", "--count", "3"})}) {
            const Run both = bench.Q714(command + args({"--format", "text", "--quiet", "--port"})
                                        << a << "--port" << b);
            QCOMPARE(both.exit, 0);
            QMap<QString, QStringList> blocks; // a header may come again: its lines go on
            QString port;
            for (const QString& line :
                 QString::fromUtf8(both.out).split('\n', Qt::SkipEmptyParts)) {
                if (line.startsWith("== ") && line.endsWith(" ==")) {
                    port = line.mid(3, line.size() - 6);
                    continue;
                }
                QVERIFY2(!port.isEmpty(), qPrintable(line));            // no line before a header
                QVERIFY2(!line.contains(QRegularExpression("\\w=\\S")), // no key=value dump
                         qPrintable(line));
                blocks[port] << line;
            }
            QCOMPARE(blocks.keys(), (QStringList{a, b}));
            for (const QString& each : {a, b}) {
                const Run alone =
                    bench.Q714(command + args({"--format", "text", "--quiet", "--port"}) << each);
                QStringList expected = QString::fromUtf8(alone.out).split('\n', Qt::SkipEmptyParts);
                // The time of the readings differs from run to run.
                if (command.first() == QLatin1String("read"))
                    for (QStringList* lines : {&expected, &blocks[each]})
                        for (QString& line : *lines)
                            line = line.section(' ', 0, 0);
                QCOMPARE(blocks[each], expected);
            }
        }
    }

    // Problems the workflows hand over as values, as q714 words them.
    void problemsInQ714sWords() {
        const ConsoleFrontEnd front(true, false);
        QCOMPARE(front.Words(SetupCommandProblem{"D007", "ERROR"}),
                 QStringLiteral("the adapter did not take the set-up command D007 (reply: ERROR)"));
        QCOMPARE(front.Words(SetupCommandProblem{"Ce", {}}),
                 QStringLiteral("the adapter did not take the set-up command Ce (no reply)"));
        QCOMPARE(front.Words(UnknownResolution{"15M"}),
                 QStringLiteral("the encoder's resolution code \"15M\" is not known"));
    }

    // An encoder without the counters says so, in text and in JSON, rather
    // than giving an empty result.
    void diagnosticsWithoutCounters() {
        Bench bench;
        QVERIFY(!bench.Simulator("sim-1", {"--power-on"}).isEmpty()); // firmware 2
        const Run text = bench.Q714(args({"diag", "--format", "text", "--quiet"}));
        QCOMPARE(text.exit, 0);
        QCOMPARE(text.out, QByteArray("no diagnostics counters (they come with firmware 4; this "
                                      "encoder has firmware 2.9.1.8812)\n"));
        const QJsonObject json =
            onlyDocument(bench.Q714(args({"diag", "--format", "json", "--quiet"})));
        QCOMPARE(json.value("has_counters"), QJsonValue(false));
        QVERIFY(!json.contains("counters"));

        Bench four;
        QVERIFY(!four.Simulator("sim-1", {"--power-on", "--model", "t5-st21"}).isEmpty());
        const QJsonObject counted =
            onlyDocument(four.Q714(args({"diag", "--format", "json", "--quiet"})));
        QCOMPARE(counted.value("has_counters"), QJsonValue(true));
        QVERIFY(counted.value("counters").toObject().contains("power_cycles"));
    }
};

QTEST_GUILESS_MAIN(TestCliReports)
#include "test_cli_reports.moc"
