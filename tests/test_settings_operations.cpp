// The encoder operations of the settings workflows against the simulated
// encoder: the commands they send on both register maps and their log
// markers (the window suites cover the rest through the tabs).
#include "EncoderSim.h"

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
};

QTEST_GUILESS_MAIN(TestSettingsOperations)
#include "test_settings_operations.moc"
