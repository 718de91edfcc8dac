// Named encoder operations against the simulated encoder: the commands they
// send on both register maps, result conversions, self-calibration start and
// results, the multi-turn preset and the write-access status.
#include "EncoderSim.h"

using Operation = bool (*)();
Q_DECLARE_METATYPE(Operation)

class TestOperations : public QObject {
    Q_OBJECT

private slots:
    void encoderCommands_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<QByteArray>("write");
        QTest::newRow("clear") << &Dravonel_ClearPersistentStatus
                               << QByteArray("Dravonel_ClearPersistentStatus")
                               << QByteArray("W:0001:00000049:00000062");
        QTest::newRow("save") << &Dravonel_SaveToFlash << QByteArray("Dravonel_SaveToFlash")
                              << QByteArray("W:0001:00000049:00000063");
        QTest::newRow("factory reset")
            << &Dravonel_FactoryReset << QByteArray("Dravonel_FactoryReset")
            << QByteArray("W:0001:00000049:00000072");
    }

    void encoderCommands() {
        QFETCH(Operation, operation);
        QFETCH(QByteArray, marker);
        EncoderSim sim;
        CommLogEnabled = true;
        QVERIFY2(operation(), qPrintable(LastError));
        QTEST(sim.Sent().value(1), "write");
        QCOMPARE(sim.Sent().first(), QByteArray("x"));
        QVERIFY(CommLogText.startsWith(marker + "\r\nDravonel_ResetProtocol\r\n"));
    }

    void u4MapAddressesAndSizes() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        QVERIFY2(Dravonel_SaveToFlash(), qPrintable(LastError));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0001:000000BD:00000063"}));
        sim.Script("R:0004:0000000A", "0x9:0xABCD1234\r");
        QVERIFY(Dravonel_ReadPersistentStatus());
        QCOMPARE(EncoderStatus.DetailedStatus, 0x1234u);
    }

    void signalLevelAndTemperature() {
        EncoderSim sim;
        sim.Script("R:0002:0000004E", "0x9:0x000001F4\r");
        sim.Script("R:0002:0000004C", "0x9:0x0000FFF6\r");
        QVERIFY(Dravonel_ReadSignalLevel());
        QVERIFY(Dravonel_ReadTemperature());
        QCOMPARE(EncoderStatus.SignalLevel, 500);
        QCOMPARE(EncoderStatus.TemperatureSEN, qint16(-10));
        sim.Script("R:0002:0000004C", "0xe6:\r");
        QVERIFY(!Dravonel_ReadTemperature());
        QCOMPARE(EncoderStatus.TemperatureSEN, qint16(-10));
    }

    void signalLevelBeyondTheSignedRangeFails() {
        EncoderSim sim("t6-mt19");
        QVERIFY(sim.Identify());
        sim.Script("R:0004:00000002", "0x9:0x7FFFFFFF\r");
        QVERIFY(Dravonel_ReadSignalLevel());
        QCOMPARE(EncoderStatus.SignalLevel, 0x7FFFFFFF);
        sim.Script("R:0004:00000002", "0x9:0x80000000\r");
        QVERIFY(!Dravonel_ReadSignalLevel());
        QCOMPARE(LastError, QString("Signal level out of range: 2147483648"));
        QCOMPARE(EncoderStatus.SignalLevel, 0x7FFFFFFF);
    }

    // The simulated firmware-2 encoder answers the start command with its
    // "retries" refusal, which counts as started.
    void selfCalStartWithoutArcOrTimeout() {
        EncoderSim sim;
        QVERIFY(sim.Identify());
        CommLogEnabled = true;
        sim.Script("R:0001:00000052", "0x9:0x123456A5\r");
        QVERIFY2(Dravonel_StartSefCal(0, 0), qPrintable(LastError));
        QCOMPARE(sim.Sent(), (Commands{"R:0001:00000052", "x", "W:0001:00000049:00000041"}));
        QCOMPARE(SelfCalStatus, 0xA5u);
        QVERIFY(CommLogText.startsWith(
            "Dravonel_StartSefCal\r\nREG_ADDR_DRAVONEL_CAL_ANGLE\r\nREG_ADDR_DRAVONEL_CAL_TIMEOUT"
            "\r\nDravonel_ReadSelfCalStatus\r\nTX:R:0001:00000052\r\n"));
        QVERIFY(CommLogText.contains("REG_ADDR_DRAVONEL_COMMAND\r\nDravonel_ResetProtocol\r\n"));
    }

    void selfCalStartIgnoresRefusedSettings() {
        EncoderSim sim;
        QVERIFY(sim.Identify());
        sim.Script("W:0002:00000019:0000005A", "0x56\r");
        QVERIFY2(Dravonel_StartSefCal(90, 10), qPrintable(LastError));
        QCOMPARE(sim.Sent(),
                 (Commands{"x", "W:0002:00000019:0000005A", "x", "W:0001:00000021:0000000A",
                           "R:0001:00000052", "x", "W:0001:00000049:00000041"}));
    }

    void selfCalStartRefused_data() {
        QTest::addColumn<quint32>("firmware");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("error"); // the write's message stays in any case
        const QByteArray retries("ERROR: no response from encoder after 3 retries\r");
        const QString retriesError("Error\r\nsCmd: W:0001:00000049:00000041 RCV: "
                                   "ERROR:noresponsefromencoderafter3retries");
        QTest::newRow("firmware 2, retries") << 2u << retries << true << retriesError;
        QTest::newRow("firmware 4, retries") << 4u << retries << false << retriesError;
        QTest::newRow("firmware 2, other refusal")
            << 2u << QByteArray("0x96\r") << false
            << "Access denied\r\nsCmd: W:0001:00000049:00000041 RCV: 0x96";
    }

    void selfCalStartRefused() {
        QFETCH(quint32, firmware);
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        EncoderSignature.FWverMajor = firmware;
        sim.Script("W:0001:00000049:00000041", reply);
        QTEST(Dravonel_StartSefCal(0, 0), "started");
        QTEST(LastError, "error");
    }

    void selfCalResults() {
        EncoderSim sim;
        sim.Script("R:0002:0000001B", "0x9:0x0000000C\r");
        sim.Script("R:0002:0000001D", "0x9:0x0000005A\r");
        sim.Script("R:0002:0000001F", "0x9:0x0000FFF6\r");
        QVERIFY2(Dravonel_ReadSelfCalResults(), qPrintable(LastError));
        QCOMPARE(SelfCalResultsText,
                 QString("Eccentricity: 12 um\r\nEcc phase: 90 deg\r\nRadial shift: -10 um"));
        sim.Script("R:0002:0000001D", "0x26:\r");
        QVERIFY(!Dravonel_ReadSelfCalResults());
        QCOMPARE(SelfCalResultsText, QString("Eccentricity: 12 um\r\n"));
    }

    void presetWritesValueThenCommand() {
        EncoderSim sim;
        CommLogEnabled = true;
        QVERIFY2(Dravonel_PresetMultiturnCounter(5), qPrintable(LastError));
        QCOMPARE(sim.Sent(),
                 (Commands{"x", "W:0004:00000014:00000005", "x", "W:0001:00000049:0000006D"}));
        QVERIFY(CommLogText.startsWith(
            "Dravonel_PresetMultiturnCounter\r\nREG_ADDR_DRAVONEL_MT_PRESET\r\n"));
        QVERIFY(CommLogText.contains("REG_ADDR_DRAVONEL_COMMAND\r\nDravonel_ResetProtocol\r\n"));
    }

    void presetSendsNoCommandWhenTheValueIsRefused() {
        EncoderSim sim;
        sim.Script("W:0004:00000014:00000005", "0x56\r");
        QVERIFY(!Dravonel_PresetMultiturnCounter(5));
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0004:00000014:00000005"}));
    }

    void writeAccessStatus_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        auto row = [](const char* reply, const char* text) {
            QTest::newRow(reply) << QByteArray(reply) + "\r" << QString(text);
        };
        row("0x9:0x00000041", "Write status: [0x41] Access Denied"); // bit 0 before bit 6
        row("0x9:0x00000002", "Write status: [0x02] Value out of range");
        row("0x9:0x000000C0", "Write status: [0xC0] Command executed");
        row("0x9:0x00000080", "Write status: [0x80] Write lock active");
        row("0x9:0x00000024", "Write status: [0x24] Unknown status");
        row("0x9:0x00000000", "Write status: [0x00] (no recent write access)");
        row("0x26:", "Invalid register address\r\nsCmd: R:0001:0000000E RCV: 0x26:");
    }

    void writeAccessStatus() {
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        sim.Script("R:0001:0000000E", reply);
        QTEST(Dravonel_GetWriteAccesStatusRegister(), "text");
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "test_operations.moc"
