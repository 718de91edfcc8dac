// What the operator at a station sees and types: the real q714 against
// q714-sim, its standard input a pseudo-terminal as the operator's keyboard.
// A prompt takes only an explicit pass or fail, never a key pressed before
// it asked, and ends at its time-out, on Ctrl+C or at the end of the input;
// limits are printed as the plan gives them; a run that never connected is
// in every export; a text no record store can keep (a NUL character) is
// refused before any device.
#include "CliBench.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "Failure.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

QString writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

// A pseudo-terminal whose follower side is q714's standard input. The test
// holds the follower open too, so what is typed before q714 starts waits in
// the terminal's input queue, as keys pressed early do.
class Terminal {
public:
    Terminal() {
        leader = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (leader < 0 || ::grantpt(leader) != 0 || ::unlockpt(leader) != 0)
            return;
        path = QString::fromLocal8Bit(::ptsname(leader));
        follower = ::open(::ptsname(leader), O_RDWR | O_NOCTTY);
        ::fcntl(leader, F_SETFL, ::fcntl(leader, F_GETFL) | O_NONBLOCK);
    }
    ~Terminal() {
        if (follower >= 0)
            ::close(follower);
        if (leader >= 0)
            ::close(leader);
    }
    bool Ready() const { return follower >= 0; }
    QString Path() const { return path; }
    // Keys as the operator types them ("\x04" is Ctrl+D).
    void Type(const QByteArray& keys) {
        QCOMPARE(::write(leader, keys.constData(), size_t(keys.size())), ssize_t(keys.size()));
        DropEcho();
    }
    // The terminal echoes what is typed; reading it keeps its buffer free.
    void DropEcho() {
        char bytes[256];
        while (::read(leader, bytes, sizeof bytes) > 0) {
        }
    }

private:
    int leader = -1;
    int follower = -1;
    QString path;
};

// q714 with the terminal as its standard input.
class Operator {
public:
    Operator(Bench& bench, Terminal& terminal, const QStringList& arguments) {
        q714.setProcessEnvironment(bench.Environment());
        q714.setStandardInputFile(terminal.Path());
        q714.start(QStringLiteral(Q714_CLI_PATH), arguments);
        q714.waitForStarted(30000);
    }
    ~Operator() {
        if (q714.state() != QProcess::NotRunning) {
            q714.kill();
            q714.waitForFinished(10000);
        }
    }
    // Waits until standard error holds `text` `count` times; false when q714
    // ended (or a minute passed) first.
    bool Shown(const QByteArray& text, int count = 1) {
        QElapsedTimer clock;
        clock.start();
        while (err.count(text) < count && q714.state() == QProcess::Running &&
               clock.elapsed() < 60000) {
            q714.waitForReadyRead(50);
            collect();
        }
        collect();
        return err.count(text) >= count;
    }
    void Signal(int number) { ::kill(pid_t(q714.processId()), number); }
    // Waits for q714 to end (a minute at most, then it is killed).
    Run Finish() {
        if (!q714.waitForFinished(60000))
            q714.kill();
        q714.waitForFinished(10000);
        collect();
        return {q714.exitStatus() == QProcess::NormalExit ? q714.exitCode() : -1, out, err};
    }

private:
    void collect() {
        out += q714.readAllStandardOutput();
        err += q714.readAllStandardError();
    }

    QProcess q714;
    QByteArray out;
    QByteArray err;
};

QJsonArray stepsOf(const Run& run) {
    return run.Json().value("record").toObject().value("steps").toArray();
}

QString stepField(const Run& run, int index, const char* field) {
    return stepsOf(run).at(index).toObject().value(field).toString();
}

const char* const OnePrompt = R"(
name = "label check"
version = "1"
[[steps]]
kind = "prompt"
text = "Is the label on?"
)";

} // namespace

class TestOperator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Terminal().Ready(), "no pseudo-terminal to type on"); }

    // -- the operator's prompt --

    // p or pass, f or fail in any case; anything else, an empty line too,
    // asks again.
    void aPromptTakesOnlyAnExplicitAnswer() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("prompts.toml"), R"(
name = "prompts"
version = "1"
[[steps]]
kind = "prompt"
text = "Is the label on?"
on_failure = "continue"
[[steps]]
kind = "prompt"
text = "Does the shaft turn freely?"
)");
        Terminal terminal;
        Operator run(bench, terminal, {"run", plan, "--port", sim, "--format", "json"});
        QVERIFY(run.Shown("Is the label on?"));
        terminal.Type("yes\n");
        QVERIFY(run.Shown("Is the label on?", 2));
        terminal.Type("\n");
        QVERIFY(run.Shown("Is the label on?", 3));
        terminal.Type("  F \n");
        QVERIFY(run.Shown("Does the shaft turn freely?"));
        terminal.Type("Pass\n");
        const Run done = run.Finish();
        QCOMPARE(done.exit, ExitCheckFailed);
        QCOMPARE(stepField(done, 0, "outcome"), QStringLiteral("FAIL"));
        QCOMPARE(stepField(done, 0, "message"), QStringLiteral("the operator failed it"));
        QCOMPARE(stepField(done, 1, "outcome"), QStringLiteral("PASS"));
        QCOMPARE(done.err.count("Is the label on?"), 3);
    }

    // A key pressed before the question (the operator's last answer typed
    // twice, say) never answers it.
    void keysTypedBeforeTheQuestionAreDropped() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("prompt.toml"), OnePrompt);
        Terminal terminal;
        terminal.Type("p\n");
        Operator run(bench, terminal, {"run", plan, "--port", sim, "--format", "json"});
        QVERIFY(run.Shown("Is the label on?"));
        terminal.Type("f\n");
        const Run done = run.Finish();
        QCOMPARE(stepField(done, 0, "outcome"), QStringLiteral("FAIL"));
        QCOMPARE(done.exit, ExitCheckFailed);
    }

    void theTimeOutEndsAPromptNobodyAnswers() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan =
            writeFile(bench.File("prompt.toml"), QByteArray(OnePrompt) + "timeout_s = 0.5\n");
        Terminal terminal;
        Operator run(bench, terminal, {"run", plan, "--port", sim, "--format", "json"});
        const Run done = run.Finish();
        QCOMPARE(done.exit, ExitEncoder);
        QCOMPARE(stepField(done, 0, "outcome"), QStringLiteral("ERROR"));
        QVERIFY2(stepField(done, 0, "message").contains("time-out of 0.5 s"),
                 qPrintable(stepField(done, 0, "message")));
        QCOMPARE(bench.Q714({"records", "list", "--outcome", "ERROR", "--format", "json"})
                     .Json()
                     .value("count")
                     .toInt(),
                 1);
    }

    void ctrlCEndsAWaitingPrompt() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("prompt.toml"), OnePrompt);
        Terminal terminal;
        Operator run(bench, terminal, {"run", plan, "--port", sim, "--format", "json"});
        QVERIFY(run.Shown("Is the label on?"));
        run.Signal(SIGINT);
        const Run done = run.Finish();
        QCOMPARE(done.exit, ExitInterrupted);
        QCOMPARE(stepField(done, 0, "outcome"), QStringLiteral("ABORTED"));
        QCOMPARE(done.Json().value("stored").toBool(), true);
    }

    void theEndOfInputIsNoAnswer() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("prompt.toml"), OnePrompt);
        Terminal terminal;
        Operator run(bench, terminal, {"run", plan, "--port", sim, "--format", "json"});
        QVERIFY(run.Shown("Is the label on?"));
        terminal.Type("\x04"); // Ctrl+D on an empty line
        const Run done = run.Finish();
        QCOMPARE(done.exit, ExitEncoder);
        QCOMPARE(stepField(done, 0, "outcome"), QStringLiteral("ERROR"));
        QVERIFY(stepField(done, 0, "message").contains("no answer"));
    }

    // -- limits and values as the plan gives them --

    void limitsAndValuesArePrintedExactly() {
        Bench bench;
        // 1234 counts of a 17-bit turn: 3.3892822265625 degrees.
        const QString sim = bench.Simulator("sim-1", {"--position", "1234"});
        const QString plan = writeFile(bench.File("limits.toml"), R"(
name = "limits"
version = "1"
[[steps]]
kind = "read"
count = 1
limits.position_deg = { low = -0.001, high = 1199.999 }
[[steps]]
kind = "read"
name = "too far"
count = 1
limits.position_deg = { high = 1.0000001 }
)");
        const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "text"});
        QCOMPARE(run.exit, ExitCheckFailed);
        const QString text = QString::fromUtf8(run.out);
        QVERIFY2(text.contains("position_deg = 3.3892822265625 deg [-0.001..1199.999]"),
                 qPrintable(text));
        QVERIFY2(text.contains("[..1.0000001]"), qPrintable(text));

        const Run list = bench.Q714({"records", "list", "--format", "json"});
        const QString id =
            list.Json().value("records").toArray().first().toObject().value("run_id").toString();
        const Run show = bench.Q714({"records", "show", id, "--format", "text"});
        QCOMPARE(show.exit, 0);
        QVERIFY2(show.out.contains("[-0.001..1199.999]"), show.out.constData());
        // The message of the failed step names the value as measured.
        const Run json = bench.Q714({"records", "show", id, "--format", "json"});
        const QJsonObject failed =
            json.Json().value("record").toObject().value("steps").toArray()[1].toObject();
        const double value =
            failed.value("measurements").toArray()[0].toObject().value("value").toDouble();
        QVERIFY2(failed.value("message").toString().contains(
                     QString::number(value, 'g', QLocale::FloatingPointShortest) + " deg"),
                 qPrintable(failed.value("message").toString()));
    }

    // -- every run in every export --

    // An encoder that never connected leaves a record with no step: it is
    // a row of the CSV and an error of the JUnit file all the same.
    void aRunThatNeverConnectedIsInEveryExport() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1", {"--fail-read-after", "0"});
        const QString plan = writeFile(bench.File("prompt.toml"), OnePrompt);
        const Run run = bench.Q714(
            {"run", plan, "--port", sim, "--dut-id", "tray 9", "--format", "json", "--quiet"});
        QCOMPARE(run.exit, ExitEncoder);
        QCOMPARE(run.Json().value("outcome").toString(), QStringLiteral("ERROR"));
        const QString id = run.Json().value("run_id").toString();

        const Run csv = bench.Q714({"records", "export", "--format", "csv"});
        QCOMPARE(csv.exit, 0);
        const QList<QByteArray> rows = csv.out.trimmed().split('\n');
        QCOMPARE(rows.size(), 2);
        QVERIFY2(rows[1].startsWith(id.toUtf8() + ',') && rows[1].contains(",tray 9,") &&
                     rows[1].contains(",ERROR,"),
                 rows[1].constData());

        const Run junit = bench.Q714({"records", "export", "--format", "junit"});
        QCOMPARE(junit.exit, 0);
        QVERIFY2(junit.out.contains("<testsuites tests=\"1\" failures=\"0\" errors=\"1\""),
                 junit.out.constData());
        QCOMPARE(junit.out.count("<error "), 1);
    }

    // -- text no record store can keep --

    void aNulInAPlanIsRefusedBeforeAnyDevice() {
        Bench bench;
        const QString sim = bench.Simulator("sim-1");
        const QString plan = writeFile(bench.File("nul.toml"), R"(name = "nul"
version = "1"
[[steps]]
kind = "prompt"
text = "Label\u0000on?"
)");
        const Run check = bench.Q714({"plan", "check", plan});
        QCOMPARE(check.exit, ExitFile);
        QVERIFY2(check.err.contains("nul.toml:5:8:") && check.err.contains("NUL"),
                 check.err.constData());
        const Run run = bench.Q714({"run", plan, "--port", sim, "--format", "json"});
        QCOMPARE(run.exit, ExitFile);
        QVERIFY(bench.Received(0).isEmpty());
    }

    // A command line cannot carry a NUL byte, but the parser is where every
    // value is checked: it refuses one in any option a record keeps.
    void aNulInAnOptionOfTheRecordIsRefused_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("station") << "--station";
        QTest::newRow("operator") << "--operator";
        QTest::newRow("dut-id") << "--dut-id";
    }

    void aNulInAnOptionOfTheRecordIsRefused() {
        QFETCH(QString, option);
        QCommandLineParser parser;
        CliRequest request;
        const QStringList arguments{"q714",
                                    "run",
                                    "plan.toml",
                                    "--port",
                                    "/dev/null",
                                    option,
                                    QStringLiteral("line") + QChar(0) + QStringLiteral("1")};
        QCOMPARE(ParseCommandLine(arguments, parser, request), ExitUsage);
        const QString message = OutcomeFields(ExitUsage).value("message").toString();
        QVERIFY2(message.contains(option) && message.contains("NUL"), qPrintable(message));
        QCommandLineParser good;
        CliRequest fine;
        QCOMPARE(
            ParseCommandLine({"q714", "run", "plan.toml", "--port", "/dev/null", option, "line 1"},
                             good, fine),
            -1);
    }
};

QTEST_GUILESS_MAIN(TestOperator)
#include "test_operator.moc"
