// The debug record readout against simulated encoders of every firmware
// generation: the latch each one takes, the exact register sequence, and known
// answers of the block and protocol-4 layouts.
#include "EncoderSim.h"

namespace {

QByteArray readP4(quint32 offset, int size) {
    return QStringLiteral("R:%1:%2")
        .arg(size, 4, 16, QLatin1Char('0'))
        .arg(0x20000 + offset, 8, 16, QLatin1Char('0'))
        .toUpper()
        .toLatin1();
}

QByteArray readBlockWord(int word) {
    return QStringLiteral("R:0004:%1")
        .arg(0x200 + 4 * word, 8, 16, QLatin1Char('0'))
        .toUpper()
        .toLatin1();
}

QByteArray reply(quint32 value) {
    return "0x9:0x" + QByteArray::number(value, 16).toUpper().rightJustified(8, '0') + "\r";
}

// The 36 reads of the protocol-4 set, in order.
Commands protocol4Reads() {
    Commands reads;
    for (int i = 0; i < 28; ++i)
        reads << readP4(4 * i, 4);
    reads << readP4(0x84, 2) << readP4(0x86, 2) << readP4(0x88, 1) << readP4(0x89, 1)
          << readP4(0x8A, 1) << readP4(0x8E, 2) << readP4(0x8C, 2) << readP4(0x90, 4);
    return reads;
}

Commands blockReads() {
    Commands reads;
    for (int i = 0; i < 33; ++i)
        reads << readBlockWord(i);
    return reads;
}

} // namespace

class TestDebugData : public QObject {
    Q_OBJECT

private slots:
    void protocol4LatchesByTheCommandRegisterThenReadsInOrder() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        CommLogEnabled = true;
        QVERIFY2(Dravonel_ReadDebugData(true), qPrintable(LastError));
        QVERIFY(CommLogText.startsWith("Dravonel_ReadDebugData\r\n"));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0001:000000BD:00000044"} + protocol4Reads()));
        QCOMPARE(DebugData.SampleCount, quint8(56));
    }

    void protocol4WithoutLatchReadsWhatTheEncoderLatched() {
        EncoderSim sim("t7-mt18");
        QVERIFY(sim.Identify());
        QVERIFY(Dravonel_ReadDebugData(false));
        QCOMPARE(sim.Sent(), protocol4Reads());
    }

    void protocol4KnownAnswers() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        STbits = 22;
        STmask = (1 << 22) - 1;
        sim.Script(readP4(0, 4), reply(0xFFFE0123));
        sim.Script(readP4(4 * 27, 4), reply(0x8000FFFF));
        sim.Script(readP4(0x84, 2), reply(0xABCD01F5));
        sim.Script(readP4(0x86, 2), reply(0x00000155));
        sim.Script(readP4(0x88, 1), reply(0x0C000000));
        sim.Script(readP4(0x89, 1), reply(0x08000077)); // byte 3 is not the value
        sim.Script(readP4(0x8A, 1), reply(0x03000000));
        sim.Script(readP4(0x8E, 2), reply(0x00000404));
        sim.Script(readP4(0x8C, 2), reply(0x00000003));
        sim.Script(readP4(0x90, 4), reply(0x00000005));
        QVERIFY2(Dravonel_ReadDebugData(true), qPrintable(LastError));
        const TDebugData& d = DebugData;
        QCOMPARE(d.Samples[0], qint16(-2));
        QCOMPARE(d.Samples[1], qint16(0x0123));
        QCOMPARE(d.Samples[54], qint16(-32768));
        QCOMPARE(d.Samples[55], qint16(-1));
        QCOMPARE(d.CodeA, quint16(0x01F5));
        QCOMPARE(d.CodeB, quint16(0x0155));
        QCOMPARE(d.DcdTrs, quint16(192));
        QCOMPARE(d.DcdWrn, quint16(128));
        QCOMPARE(d.DecodSelect, quint8(3));
        QCOMPARE(d.Status, quint16(0x0404));
        QCOMPARE(EncoderPosition.MT_value, 3);
        QCOMPARE(EncoderPosition.ST_value, 5u);
        QCOMPARE(EncoderPosition.MTST_value, qint64(12582917));
    }

    // The multi-turn count of the set is unsigned: 0xFFFF is 65535 turns.
    void protocol4PositionIn64Bits() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        STbits = 22;
        STmask = (1 << 22) - 1;
        sim.Script(readP4(0x8C, 2), reply(0x0000FFFF));
        sim.Script(readP4(0x90, 4), reply(0x003FFFFF));
        QVERIFY(Dravonel_ReadDebugData(true));
        QCOMPARE(EncoderPosition.MT_value, 65535);
        QCOMPARE(EncoderPosition.MTST_value, qint64(65535) * 4194304 + 4194303);
    }

    void protocol4WithoutStatusRegisterStopsThereAndSucceeds() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        EncoderPosition.MT_value = 11;
        EncoderPosition.ST_value = 22;
        EncoderPosition.MTST_value = 33;
        DebugData.Status = 0x5555;
        sim.Script(readP4(0x8E, 2), "0x26:\r");
        sim.Script(readP4(0x84, 2), reply(0x1F));
        QVERIFY(Dravonel_ReadDebugData(true));
        QCOMPARE(sim.Sent().last(), readP4(0x8E, 2));
        QCOMPARE(DebugData.CodeA, quint16(0x1F));
        QCOMPARE(DebugData.SampleCount, quint8(56));
        QCOMPARE(DebugData.DcdTrs, quint16(0x0C * 16)); // the simulator's threshold
        QCOMPARE(DebugData.Status, quint16(0x5555));
        QCOMPARE(EncoderPosition.MT_value, 11);
        QCOMPARE(EncoderPosition.ST_value, 22u);
        QCOMPARE(EncoderPosition.MTST_value, qint64(33));
    }

    void failuresOfLatchAndReads() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        sim.Script("W:0001:000000BD:00000044", "0xf6\r");
        QVERIFY(!Dravonel_ReadDebugData(true));
        QVERIFY(LastError.startsWith("Write access is locked"));
        QCOMPARE(sim.Sent().size(), 2); // reset and write, no read

        sim.Forget();
        DebugData.CodeA = 7;
        sim.Script(readP4(4, 4), reply(0x00110022));
        sim.Script(readP4(8, 4), "0xe6:\r");
        QVERIFY(!Dravonel_ReadDebugData(false));
        QVERIFY(LastError.startsWith("CRC invalid on read\r\nsCmd: R:0004:00020008"));
        QCOMPARE(sim.Sent().size(), 3);
        QCOMPARE(DebugData.Samples[3], qint16(0x22)); // stored as it arrived
        QCOMPARE(DebugData.CodeA, quint16(7));
        QCOMPARE(DebugData.DecodSelect, quint8(255));
    }

    void blockOfFirmware29KnownAnswers() {
        EncoderSim sim("t2-mt17");
        QVERIFY(sim.Identify());
        QCOMPARE(EncoderSignature.FWverMinor, 9u);
        DebugData.Samples[54] = 77; // beyond the block's 53 samples
        sim.Script(readBlockWord(0), reply(0x44FFFE01));
        sim.Script(readBlockWord(1), reply(0x23000000));
        sim.Script(readBlockWord(26), reply(0x000000DE)); // byte 107: AbsPos high byte
        sim.Script(readBlockWord(27), reply(0xADBEEF99)); // 108..110 AbsPos, 111 unused
        sim.Script(readBlockWord(28), reply(0x99071234)); // 113 DecodSelect, 114 CodeA
        sim.Script(readBlockWord(29), reply(0x5678FFFF)); // 116 CodeB
        sim.Script(readBlockWord(30), reply(0x0A0B0C0D)); // McuTemp, CycleTime
        sim.Script(readBlockWord(31), reply(0x80010CF0)); // Status, Vdda
        sim.Script(readBlockWord(32), reply(0x2AFFFFFF)); // ResetCnt
        QVERIFY2(Dravonel_ReadDebugData(false), qPrintable(LastError));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0001:00000048:00000001"} + blockReads()));
        const TDebugData& d = DebugData;
        QCOMPARE(d.SampleCount, quint8(53));
        QCOMPARE(d.Samples[0], qint16(-2));
        QCOMPARE(d.Samples[1], qint16(0x0123));
        QCOMPARE(d.Samples[54], qint16(77));
        QCOMPARE(d.AbsPos, 0xDEADBEEFu);
        QCOMPARE(d.DecodSelect, quint8(7));
        QCOMPARE(d.CodeA, quint16(0x1234));
        QCOMPARE(d.CodeB, quint16(0x5678));
        QCOMPARE(d.McuTemp, quint16(0x0A0B));
        QCOMPARE(d.CycleTime, quint16(0x0C0D));
        QCOMPARE(d.Status, quint16(0x8001));
        QCOMPARE(d.Vdda, quint16(0x0CF0));
        QCOMPARE(d.ResetCnt, quint8(0x2A));
        QCOMPARE(d.DcdTrs, quint16(255));
        QCOMPARE(d.DcdWrn, quint16(255));
        QVERIFY(LastError.isEmpty());
    }

    void blockWithoutHeaderIsTakenWithANote() {
        EncoderSim sim("t2-mt17");
        QVERIFY(sim.Identify());
        sim.Script(readBlockWord(0), reply(0x41000500));
        QVERIFY(Dravonel_ReadDebugData(true));
        QCOMPARE(LastError, QString("\r\nDebug data header mismatch!"));
        QCOMPARE(DebugData.Samples[0], qint16(5));
    }

    // Firmware before x.9: the adapter latches; the block is read but its
    // layout is unknown, so only the presets change.
    void olderFirmwareLatchesByTheAdapterAndChangesOnlyThePresets() {
        EncoderSim sim("t1-mt20");
        QVERIFY(sim.Identify());
        QCOMPARE(EncoderSignature.FWverMinor, 8u);
        DebugData.CodeA = 0x33;
        DebugData.DcdTrs = 4;
        QVERIFY2(Dravonel_ReadDebugData(false), qPrintable(LastError));
        QCOMPARE(sim.Sent(), (Commands{"?07:021"} + blockReads()));
        QCOMPARE(DebugData.SampleCount, quint8(0));
        QCOMPARE(DebugData.CodeA, quint16(0x33));
        QCOMPARE(DebugData.DecodSelect, quint8(255));
        QCOMPARE(DebugData.DcdTrs, quint16(255));
        QCOMPARE(DebugData.DcdWrn, quint16(255));
    }

    // A problem of the adapter's latch is only noted; the reads go on and
    // their success clears the note.
    void adapterLatchProblemsDoNotStopTheReadout() {
        EncoderSim sim("t1-mt20");
        QVERIFY(sim.Identify());
        sim.Script("?07:021", "ERROR: SPI\r");
        QVERIFY(Dravonel_ReadDebugData(true));
        QVERIFY(LastError.isEmpty());
        sim.Script(readBlockWord(0), "0x26:\r");
        QVERIFY(!Dravonel_ReadDebugData(true));
        QVERIFY(LastError.startsWith("Invalid register address"));
    }

    void unlockWritesTheCodeToTheU2CommandRegister() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        CommLogEnabled = true;
        QVERIFY2(Dravonel_UnlockDebug(), qPrintable(LastError));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0001:00000049:00000044"}));
        QVERIFY(CommLogText.startsWith("REG_ADDR_DRAVONEL_U2_COMMAND\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestDebugData)
#include "test_debug_data.moc"
