// The reading line that q714 writes without QJsonObject must be the very
// bytes QJsonDocument writes for the same reading: scripts parse both, and
// json and jsonl must not differ from the other commands' items.
#include "JsonLine.h"
#include "ReadingItem.h"

#include <QJsonDocument>
#include <QTest>

namespace {

ReadingValues reading() {
    ReadingValues v;
    v.index = 17;
    v.timeMs = 123456;
    v.reading.positionRead = true;
    v.reading.frameMT = -3;
    v.reading.frameST = 131071;
    v.reading.frameMTST = -3LL * 131072 + 131071;
    v.reading.statusTexts = QStringLiteral("Signal level low\r\nOver temperature\r\n");
    v.position.RxData = "FFFD1FFFF0A100";
    v.position.ErrBit = true;
    v.position.ErrCRC = true;
    v.status = 0x8001;
    v.statusBits = "1000000000000001";
    return v;
}

} // namespace

class TestCliOutput : public QObject {
    Q_OBJECT

private slots:
    void readingLineIsWhatQJsonDocumentWrites_data() {
        QTest::addColumn<bool>("twoChannels");
        QTest::addColumn<bool>("withSignal");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("resolution");
        QTest::newRow("degrees") << false << false << "deg"
                                 << "360/131072";
        QTest::newRow("two rings, signal") << true << true << "deg"
                                           << "360/131072";
        QTest::newRow("unit needing escapes") << false << true << "µm \"x\"\\\t\x01"
                                              << "1/3";
        QTest::newRow("integral positions") << true << false << "c"
                                            << "1/1";
    }

    void readingLineIsWhatQJsonDocumentWrites() {
        QFETCH(bool, twoChannels);
        QFETCH(bool, withSignal);
        QFETCH(QString, unit);
        QFETCH(QString, resolution);
        ReadingValues v = reading();
        v.reading.twoChannels = twoChannels;
        v.position.CH1_MT_value = 2;
        v.position.CH1_ST_value = 5;
        v.position.CH1_MTST_value = 2 * 131072 + 5;
        v.withSignal = withSignal;
        v.signalLevelPresent = true;
        v.signalLevel = 412;
        v.airGapUm = 231.62345;
        v.sensorTemperature = -12;
        v.thermistorValid = true;
        v.thermistorTemperature = 25.0;
        const QStringList parts = resolution.split('/');
        const Scaling scaling{parts[0].toDouble() / parts[1].toDouble(), unit};
        QCOMPARE(ReadingJsonLine(v, scaling),
                 QJsonDocument(ReadingJson(v, scaling)).toJson(QJsonDocument::Compact));
    }

    void jsonLineWritesWhatJsonCannotHoldAsNull() {
        JsonLine line;
        line.Field("a", qQNaN()).Field("b", qInf()).Field("c", 1e300).Field("d", 0.1);
        QCOMPARE(line.Take(), QByteArray("{\"a\":null,\"b\":null,\"c\":1e+300,\"d\":0.1}"));
    }

    void latin1RepliesBecomeUtf8() {
        JsonLine line;
        line.Latin1Field("raw", QByteArray("\xb5\x22"));
        const QJsonObject parsed = QJsonDocument::fromJson(line.Take()).object();
        QCOMPARE(parsed.value("raw").toString(), QStringLiteral("µ\""));
    }
};

QTEST_GUILESS_MAIN(TestCliOutput)
#include "test_cli_output.moc"
