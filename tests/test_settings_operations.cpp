// The encoder operations of the settings workflows against the simulated
// encoder: the commands they send on both register maps, their log markers
// and their result conversions.
#include "EncoderSimSuite.h"

class TestSettingsOperations : public QObject {
    Q_OBJECT

private slots:
    void settingsOnBothMaps_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<Commands>("expected");
        QTest::newRow("U2") << QByteArray("t2-mt17")
                            << Commands{"R:0004:00000000",          "R:0004:00000004",
                                        "R:0001:00000018",          "R:0002:00000019",
                                        "R:0001:00000021",          "x",
                                        "W:0004:00000000:00000064", "x",
                                        "W:0004:00000004:00000008", "x",
                                        "W:0001:00000018:0000012C"};
        QTest::newRow("U4") << QByteArray("t6-mt19")
                            << Commands{"R:0004:00000080",          "R:0004:00000084",
                                        "R:0001:00000098",          "R:0002:000000C4",
                                        "R:0001:000000C6",          "x",
                                        "W:0004:00000080:00000064", "x",
                                        "W:0004:00000084:00000008", "x",
                                        "W:0001:00000098:0000012C"};
    }

    void settingsOnBothMaps() {
        QFETCH(QByteArray, model);
        EncoderSim sim(model.constData());
        QVERIFY(sim.Identify());
        CommLogEnabled = true;
        quint32 offset = 1, filter = 0;
        quint8 arc = 0, timeout = 0;
        quint16 calArc = 0;
        QVERIFY(Dravonel_ReadPositionOffset(offset));
        QVERIFY(Dravonel_ReadPositionFilter(filter));
        QVERIFY(Dravonel_ReadMultiturnErrorArc(arc));
        QVERIFY(Dravonel_ReadSelfCalArc(calArc));
        QVERIFY(Dravonel_ReadSelfCalTimeout(timeout));
        QCOMPARE(offset, 0u);
        QCOMPARE(filter, 4u);
        QCOMPARE(arc, quint8(30));
        QCOMPARE(calArc, quint16(360));
        QCOMPARE(timeout, quint8(10));
        QVERIFY(Dravonel_WritePositionOffset(100));
        QVERIFY(Dravonel_WritePositionFilter(8));
        QVERIFY(!Dravonel_WriteMultiturnErrorArc(300)); // sent as given, refused by the encoder
        QVERIFY(LastError.startsWith("Parameter out of range"));
        QTEST(sim.Sent(), "expected");
        const QList<QByteArray> markers = CommLogText.split('\n');
        QVERIFY(markers.contains("REG_ADDR_DRAVONEL_POS_OFFSET\r"));
        QVERIFY(markers.contains("REG_ADDR_DRAVONEL_FILTER_POS_VAL\r"));
        QVERIFY(markers.contains("REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD\r"));
        QVERIFY(markers.contains("REG_ADDR_DRAVONEL_CAL_ANGLE\r"));
        QVERIFY(markers.contains("REG_ADDR_DRAVONEL_CAL_TIMEOUT\r"));
    }

    void aFailedReadKeepsTheValue() {
        EncoderSim sim;
        sim.Script("R:0004:00000000", "0xe6:\r");
        quint32 offset = 77;
        QVERIFY(!Dravonel_ReadPositionOffset(offset));
        QCOMPARE(offset, 77u);
        QVERIFY(LastError.startsWith("CRC invalid on read"));
    }

    void safetyMarginResetAndWordRead() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        QVERIFY(Dravonel_ResetDecodingSafetyMargin());
        sim.Script("R:0002:000000CE", "0x9:0x1234FF9C\r");
        quint16 word = 0;
        QVERIFY(Dravonel_ReadWord(0xCE, word));
        QCOMPARE(word, quint16(0xFF9C));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0002:00000012:00007D00", "R:0002:000000CE"}));
    }

    void errorMapPointByteOrder_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<int>("correction");
        QTest::newRow("firmware 2, low byte first")
            << QByteArray("t2-mt17") << QByteArray("R:0002:00001BFE") << -255;
        QTest::newRow("firmware 4, high byte first")
            << QByteArray("t6-mt19") << QByteArray("R:0002:000103FE") << 511;
    }

    void errorMapPointByteOrder() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, read);
        EncoderSim sim(model.constData());
        QVERIFY(sim.Identify());
        sim.Script(read, "0x9:0xABCD01FF\r");
        qint16 correction = 0;
        QVERIFY(Dravonel_ReadErrorMapPoint(511, correction));
        QTEST(int(correction), "correction");
        QCOMPARE(sim.Sent(), Commands{read});
    }
};

QTEST_GUILESS_MAIN(TestSettingsOperations)
#include "test_settings_operations.moc"
