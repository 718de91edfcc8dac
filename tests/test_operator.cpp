// What the operator at a station sees: the real q714 against q714-sim.
// Limits and values are printed as the plan gives them and as measured; a
// text no record store can keep (a NUL character) is refused before any
// device.
#include "CliBench.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "Failure.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QTest>

namespace {

QString writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

} // namespace

class TestOperator : public QObject {
    Q_OBJECT

private slots:
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
