// What the operator at a station sees: the real q714 against q714-sim.
// Limits and values are printed as the plan gives them and as measured.
#include "CliBench.h"
#include "ExitStatus.h"

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
};

QTEST_GUILESS_MAIN(TestOperator)
#include "test_operator.moc"
