// Position and status frames: CRC-8 known answers, raw frames of every layout
// (scripted and from simulated encoders), the adapter's "d" reply, the second
// channel of two-ring encoders, and IntToBin.
#include "EncoderSim.h"

namespace {
// The encoder kind that an identification would leave behind.
void assumeEncoder(int type, qint32 stBits, bool multiturn) {
    EncoderType = quint8(type);
    STbits = stBits;
    STcounts = 1 << stBits;
    STmask = STcounts - 1;
    MTbits = multiturn ? 16 : 0;
    EncoderSignature.Multiturn = multiturn;
}

// "E" error, "W" warning, "C" CRC mismatch, as set by the last reading.
QByteArray flags() {
    const TEncoderPosition& p = EncoderPosition;
    return QByteArray(p.ErrBit ? "E" : "") + (p.WarnBit ? "W" : "") + (p.ErrCRC ? "C" : "");
}
} // namespace

class TestFrames : public QObject {
    Q_OBJECT

private slots:
    void crcKnownAnswers() {
        QCOMPARE(CRC8("123456789"), quint8(0x94));
        QCOMPARE(CRC8(QByteArray::fromHex("01")), quint8(0x97));
        QCOMPARE(CRC8(QByteArray::fromHex("02")), quint8(0xB9));
        QCOMPARE(CRC8(QByteArray::fromHex("03")), quint8(0x2E));
        QCOMPARE(CRC8(QByteArray()), quint8(0));
        QCOMPARE(CRC8OfHexText("ABC"), CRC8(QByteArray::fromHex("0ABC")));
        QCOMPARE(CRC8OfHexText("0G01"), CRC8(QByteArray::fromHex("0001")));
        QCOMPARE(CRC8OfHexText(""), quint8(0));
    }

    void intToBin() {
        QCOMPARE(IntToBin(8, 5), QByteArray("00000101"));
        QCOMPARE(IntToBin(16, 0), QByteArray(16, '0'));
        QCOMPARE(IntToBin(4, 0x1F), QByteArray("1111"));
        QCOMPARE(IntToBin(64, ~quint64(0)), QByteArray(64, '1'));
        QCOMPARE(IntToBin(0, 5), QByteArray());
        QCOMPARE(IntToBin(-3, 5), QByteArray());
    }

    void rawFrames_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("stBits");
        QTest::addColumn<bool>("multiturn");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<qint64>("counts");
        QTest::addColumn<QByteArray>("flags");
        QTest::addColumn<int>("trailing");
        auto row = [](const char* tag, int type, int bits, bool mt, const char* reply,
                      qint64 counts, const char* flags, int trailing) {
            QTest::newRow(tag) << type << bits << mt << QByteArray(reply) << counts
                               << QByteArray(flags) << trailing;
        };
        // One turn and half a turn at 17 bits: 0x0001800003, CRC 0xA0.
        row("worked example, type 2", 2, 17, true, "0001800003A07E", 196608, "", 0x7E);
        row("type 1 inverts the CRC", 1, 17, true, "00018000035F7E", 196608, "", 0x7E);
        row("type 6 inverts the CRC", 6, 17, true, "00018000035F7E", 196608, "", 0x7E);
        row("type 2 with inverted CRC", 2, 17, true, "00018000035F7E", 196608, "C", 0x7E);
        row("type 7 with plain CRC", 7, 17, true, "0001800003A07E", 196608, "C", 0x7E);
        row("warning bit low", 2, 17, true, "00018000023700", 196608, "W", 0);
        row("error bit low", 2, 17, true, "00018000011900", 196608, "E", 0);
        row("turn count 0xFFFF", 2, 17, true, "FFFF0000033F00", -131072, "", 0);
        row("22 bits", 2, 22, false, "FFFFFECD12", 0x3FFFFF, "W", 0x12);
        row("19 bits, type 1", 1, 19, false, "2468A34500", 0x12345, "", 0);
        row("ERROR reply", 2, 17, true, "ERROR", 0, "EWC", 0);
    }

    void rawFrames() {
        QFETCH(int, type);
        QFETCH(int, stBits);
        QFETCH(bool, multiturn);
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        assumeEncoder(type, stBits, multiturn);
        const QByteArray command = multiturn ? "?07:000" : "?05:000";
        sim.Script(command, reply + "\r");
        EncoderPosition.MT_value = 5;
        quint8 trailing = 0xAB;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QCOMPARE(sim.Sent(), Commands{command});
        QCOMPARE(EncoderPosition.RxData, reply);
        QTEST(EncoderPosition.MTST_value, "counts");
        QCOMPARE(EncoderPosition.MT_value,
                 multiturn ? qint32(EncoderPosition.MTST_value >> stBits) : 0);
        QTEST(flags(), "flags");
        QTEST(int(trailing), "trailing");
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    void statusWord_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<quint32>("status");
        QTest::newRow("type 4") << 4 << QByteArray("81230000030000") << 291 << 0x0110u;
        QTest::newRow("type 4, warning") << 4 << QByteArray("81230000020000") << 291 << 0x0110u;
        QTest::newRow("type 4, error") << 4 << QByteArray("81230000010000") << 0 << 0x8123u;
        QTest::newRow("type 5, all warnings")
            << 5 << QByteArray("F9000000030000") << 0x100 << 0x7C00u;
        QTest::newRow("type 3") << 3 << QByteArray("05200000030000") << 0x520 << 0u;
        QTest::newRow("type 3, word kept as 16-bit pattern")
            << 3 << QByteArray("81230000030000") << int(qint16(0x8123)) << 0u;
        QTest::newRow("type 3, warning") << 3 << QByteArray("81230000020000") << 0 << 0x8123u;
    }

    void statusWord() {
        QFETCH(int, type);
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        assumeEncoder(type, 18, false);
        sim.Script("?07:000", reply + "\r");
        EncoderPosition.MT_value = 7;
        quint8 trailing = 0xAB;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QCOMPARE(sim.Sent(), Commands{"?07:000"});
        QTEST(int(EncoderStatus.TemperatureEXT), "temperature");
        QTEST(EncoderStatus.DetailedStatus, "status");
        QCOMPARE(EncoderPosition.MT_value, 7);
        QCOMPARE(trailing, quint8(0xAB));
    }

    // Every bit of the status word on its own, against the bits each type
    // reports: a frame of word W, position field 0x000003 (no error, no
    // warning) or 0x000002 (warning), and its plain CRC.
    void statusWordBitsOneByOne_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint16>("word");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<quint32>("status");
        const struct {
            int bit;
            quint32 type4;
            quint32 type5;
        } warningBits[] = {{15, 0x0110, 0x4000},
                           {14, 0x0140, 0x2000},
                           {13, 0x0180, 0x1000},
                           {12, 0x0102, 0x0800},
                           {11, 0x0101, 0x0400}};
        for (const auto& row : warningBits) {
            const quint16 word = quint16(1u << row.bit);
            QTest::addRow("type 4, bit %d", row.bit) << 4 << word << false << 0 << row.type4;
            QTest::addRow("type 5, bit %d", row.bit) << 5 << word << false << 0 << row.type5;
            QTest::addRow("type 4, bit %d, warning", row.bit)
                << 4 << quint16(word | 0x0123) << true << 0x123 << row.type4;
        }
        for (int bit = 0; bit <= 10; ++bit) {
            const quint16 word = quint16(1u << bit);
            QTest::addRow("type 4, thermistor bit %d", bit)
                << 4 << word << false << int(word) << 0u;
            QTest::addRow("type 5, thermistor bit %d", bit)
                << 5 << word << false << int(word) << 0u;
        }
        for (int bit = 0; bit <= 15; ++bit) {
            const quint16 word = quint16(1u << bit);
            QTest::addRow("type 3, bit %d, warning", bit)
                << 3 << word << true << 0 << quint32(word);
            QTest::addRow("type 3, bit %d as thermistor", bit)
                << 3 << word << false << int(qint16(word)) << 0u;
        }
    }

    void statusWordBitsOneByOne() {
        QFETCH(int, type);
        QFETCH(quint16, word);
        QFETCH(bool, warning);
        EncoderSim sim;
        assumeEncoder(type, 18, false);
        const QByteArray data = QByteArray::number(word, 16).rightJustified(4, '0').toUpper() +
                                (warning ? "000002" : "000003");
        const QByteArray crc = QByteArray::number(CRC8OfHexText(data), 16).rightJustified(2, '0');
        sim.Script("?07:000", data + crc.toUpper() + "00\r");
        quint8 trailing = 0;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QCOMPARE(flags(), QByteArray(warning ? "W" : ""));
        QTEST(int(EncoderStatus.TemperatureEXT), "temperature");
        QTEST(EncoderStatus.DetailedStatus, "status");
    }

    void multiturnFrameOfStatusWordTypesIsNotDecoded() {
        EncoderSim sim;
        assumeEncoder(4, 18, true);
        EncoderPosition.MTST_value = 77;
        EncoderPosition.ErrCRC = true;
        quint8 trailing = 0;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QCOMPARE(sim.Sent(), Commands{"?07:000"});
        QCOMPARE(EncoderPosition.MTST_value, 77);
        QCOMPARE(flags(), QByteArray("EW"));
    }

    void failedExchangeKeepsTheReading() {
        EncoderSim sim;
        assumeEncoder(2, 17, true);
        EncoderPosition.ST_value = 42;
        sim.Fixture().CloseChannel();
        quint8 trailing = 0;
        QVERIFY(!Dravonel_ReadPosition(trailing));
        QCOMPARE(LastError, QString("USB Comm Err -3"));
        QCOMPARE(EncoderPosition.ErrComm, -3);
        QCOMPARE(EncoderPosition.ST_value, 42u);
    }

    void framesOfSimulatedEncoders_data() {
        QTest::addColumn<QByteArray>("model");
        for (const char* model : {"t1-st19", "t1-mt20", "t2-mt17", "t2-st22", "t3-st18", "t4-st20",
                                  "t5-st21", "t6-mt19", "t7-mt18"})
            QTest::newRow(model) << QByteArray(model);
    }

    void framesOfSimulatedEncoders() {
        QFETCH(QByteArray, model);
        EncoderSim sim(model);
        QVERIFY2(sim.Identify(), qPrintable(LastError));
        sim.Adapter().WithEncoder([](SimulatedEncoder& e) { e.SetPosition(-3, 12345); });
        quint8 trailing = 0;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QCOMPARE(EncoderPosition.MTST_value, MTbits > 0 ? -3 * STcounts + 12345 : 12345);
        QVERIFY2(flags().isEmpty(), EncoderPosition.RxData.constData());
        sim.Adapter().WithEncoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        QVERIFY(Dravonel_ReadPosition(trailing));
        QVERIFY(EncoderPosition.ErrBit);
    }

    void statusReply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<qint32>("turns");
        QTest::addColumn<quint32>("singleTurn");
        QTest::addColumn<qint64>("counts");
        QTest::addColumn<QByteArray>("flags");
        QTest::newRow("15") << QByteArray("S:0012 P:03ABCD") << 9 << 0x1ABCDu << qint64(0x03ABCD)
                            << QByteArray("EW");
        QTest::newRow("22") << QByteArray("S:0000 M:FFFE P:000010") << -2 << 16u
                            << qint64(-2 * 131072 + 16) << QByteArray();
        QTest::newRow("17, no status")
            << QByteArray("S:00FF M:0001FFFF") << -1 << 0u << qint64(-131072) << QByteArray();
    }

    void statusReply() {
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        assumeEncoder(2, 17, true);
        EncoderPosition.MT_value = 9;
        EncoderPosition.ErrCRC = true;
        sim.Script("d", reply + "\r");
        QVERIFY(Dravonel_ReadStatusPosition());
        QTEST(EncoderPosition.MT_value, "turns");
        QTEST(EncoderPosition.ST_value, "singleTurn");
        QTEST(EncoderPosition.MTST_value, "counts");
        QTEST(flags(), "flags");
        QCOMPARE(EncoderStatus.DetailedStatus, flags().isEmpty() ? 0u : 0x12u);
    }

    void statusReplyOfAnotherLengthFails() {
        EncoderSim sim;
        sim.Script("d", "S:0000 P:01ABCDE\r");
        QVERIFY(!Dravonel_ReadStatusPosition());
        QCOMPARE(LastError,
                 QString("Incorrect response length on the command \"d\" (S:0000 P:01ABCDE)!"));
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    // q714 refuses what the window reads as zeros: a frame that is not the
    // frame's hexadecimal digits, or a "d" reply whose fields are not
    // hexadecimal, fails its read and leaves the last position as it was.
    void malformedRepliesFailWhereRefused_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("letters") << QByteArray("?07:000") << QByteArray("ZZZZ");
        QTest::newRow("not hexadecimal") << QByteArray("?07:000") << QByteArray("0001800003A0XY");
        QTest::newRow("too short") << QByteArray("?07:000") << QByteArray("0001800003A0");
        QTest::newRow("too long") << QByteArray("?07:000") << QByteArray("0001800003A07E00");
        QTest::newRow("empty") << QByteArray("?07:000") << QByteArray();
        QTest::newRow("d status") << QByteArray("d") << QByteArray("S:00G2 P:03ABCD");
        QTest::newRow("d turns") << QByteArray("d") << QByteArray("S:0000 M:FFXE P:000010");
    }

    void malformedRepliesFailWhereRefused() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        assumeEncoder(2, 17, true);
        sim.Script(command, reply + "\r");
        quint8 trailing = 0;
        const auto read = [&] {
            return command == "d" ? Dravonel_ReadStatusPosition() : Dravonel_ReadPosition(trailing);
        };
        QVERIFY(read()); // the window: invalid digits read as 0
        RefuseMalformedFrames = true;
        EncoderPosition.MTST_value = 1234;
        EncoderPosition.ErrBit = false;
        QVERIFY(!read());
        QCOMPARE(LastError, QString("Not a position frame: \"%1\"").arg(QString(reply)));
        QCOMPARE(EncoderPosition.MTST_value, 1234);
        QVERIFY(!EncoderPosition.ErrBit);
        QCOMPARE(EncoderPosition.ErrComm, 0); // the link is fine
        sim.Script("?07:000", "0001800003A07E\r");
        QVERIFY(Dravonel_ReadPosition(trailing)); // a whole frame still reads
        QCOMPARE(EncoderPosition.MTST_value, 196608);
        RefuseMalformedFrames = false;
    }

    void statusReplyOfTheSimulatedAdapter() {
        EncoderSim sim;
        QVERIFY(sim.Identify());
        sim.Adapter().WithEncoder([](SimulatedEncoder& e) { e.SetPosition(-2, 1000); });
        QVERIFY2(Dravonel_ReadStatusPosition(), qPrintable(LastError));
        QCOMPARE(EncoderPosition.MTST_value, -2 * STcounts + 1000);
    }

    void secondChannel_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::newRow("multi-turn, 9 frames") << QByteArray("t7-mt18");
        QTest::newRow("single-turn, 7 frames") << QByteArray("t7-st20");
    }

    void secondChannel() {
        QFETCH(QByteArray, model);
        EncoderSim sim(model);
        QVERIFY(sim.Identify());
        sim.Adapter().WithEncoder([](SimulatedEncoder& e) {
            e.SetPosition(2, 5000);
            e.SetChannel1Offset(-6000);
        });
        QVERIFY2(Dravonel_ReadTwoChannelPosition(), qPrintable(LastError));
        QCOMPARE(sim.Sent().size(), MTbits > 0 ? 10 : 8);
        QCOMPARE(sim.Sent().first(), QByteArray("x"));
        const qint64 channel1 = 2 * qint64(STcounts) - 1000;
        QCOMPARE(EncoderPosition.CH1_MTST_value, MTbits > 0 ? channel1 : channel1 % STcounts);
        QVERIFY(!EncoderPosition.CH1_ErrBit && !EncoderPosition.CH1_WarnBit);
        QCOMPARE(EncoderPosition.MTST_value, MTbits > 0 ? 2 * qint64(STcounts) + 5000 : 5000);
    }

    // Channel 1's status word is bytes 5 and 6 of its multi-turn stream;
    // its flags and a count below zero come through as well.
    void secondChannelStatusFlagsAndNegativeTurns() {
        EncoderSim sim("t7-mt18");
        QVERIFY(sim.Identify());
        quint32 status = 0;
        sim.Adapter().WithEncoder([&](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(-1, 100);
            e.SetChannel1Offset(-200);
            e.SetStatusBits(0x0201);
            e.SetWarningActive(true);
            status = e.LiveStatus() & 0xFFFF;
        });
        QVERIFY(status & 0xFF00 && status & 0x00FF);
        QVERIFY2(Dravonel_ReadTwoChannelPosition(), qPrintable(LastError));
        const TEncoderPosition& p = EncoderPosition;
        QCOMPARE(p.CH1_MT_value, -2);
        QCOMPARE(p.CH1_ST_value, quint32(STcounts - 100));
        QCOMPARE(p.CH1_MTST_value, -qint64(STcounts) - 100);
        QCOMPARE(p.CH1_DetailedStatus, status);
        QVERIFY(p.CH1_WarnBit);
        QCOMPARE(p.MT_value, -1);
    }

    void secondChannelReadsNothingWhenTheResetFails() {
        EncoderSim sim;
        sim.Script("x", "no\r");
        QVERIFY(!Dravonel_ReadTwoChannelPosition());
        QCOMPARE(sim.Sent(), Commands{"x"});
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "test_frames.moc"
