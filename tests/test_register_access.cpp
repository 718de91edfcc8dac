// Register access through the simulated adapter: exact command texts, every
// reply class of reads and writes, the protocol reset in front of each write,
// and a missing or silent adapter.
#include "EncoderSim.h"

using Bytes = std::array<quint8, 4>;

namespace {
QString failure(const char* message, const char* command, const char* reply) {
    return QString::fromLatin1(message) + "\r\nsCmd: " + command + " RCV: " + reply;
}
} // namespace

class TestRegisterAccess : public QObject {
    Q_OBJECT

private slots:
    void readSendsTheExactCommandAndStoresTheValueRightAligned() {
        EncoderSim sim;
        sim.Script("R:0002:0000004C", " 0x9: 0x0000 1234\r");
        QVERIFY(Dravonel_ReadRegister(0x4C, 2));
        QCOMPARE(sim.Sent(), Commands{"R:0002:0000004C"});
        QCOMPARE(RegData, (Bytes{0x00, 0x00, 0x12, 0x34}));
        QVERIFY(LastError.isEmpty());
    }

    void readAndWriteReachTheSimulatedEncoder() {
        EncoderSim sim;
        QVERIFY(Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SERIAL_NUMBER, 4));
        QCOMPARE(RegData, (Bytes{'U', 'X', '2', '1'}));
        QVERIFY(Dravonel_WriteRegister(REG_ADDR_DRAVONEL_POS_OFFSET, 4, 123456));
        QVERIFY(Dravonel_ReadRegister(REG_ADDR_DRAVONEL_POS_OFFSET, 4));
        QCOMPARE(RegData, (Bytes{0x00, 0x01, 0xE2, 0x40}));
    }

    // A reply that comes after its time-out must not pass for the reply of
    // the next access: every later read, write and frame gets its own.
    void lateReplyNeverShiftsLaterAccesses() {
        EncoderSim sim;
        QVERIFY(sim.Identify());
        FaultSettings late;
        late.lateReplyEvery = 1;
        late.lateReplyMs = 600;
        sim.Fixture().Server().SetFaults(late);
        QVERIFY(!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_TEMPERATURE, 2));
        QCOMPARE(EncoderPosition.ErrComm, SerialResultTimeout);
        sim.Fixture().Server().SetFaults(FaultSettings());

        QVERIFY(Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SERIAL_NUMBER, 4));
        QCOMPARE(RegData, (Bytes{'U', 'X', '2', '1'}));
        QVERIFY(Dravonel_WriteRegister(REG_ADDR_DRAVONEL_POS_OFFSET, 4, 4660));
        QVERIFY(Dravonel_ReadRegister(REG_ADDR_DRAVONEL_POS_OFFSET, 4));
        QCOMPARE(RegData, (Bytes{0x00, 0x00, 0x12, 0x34}));
        quint8 trailing = 0;
        QVERIFY(Dravonel_ReadPosition(trailing));
        QVERIFY(!EncoderPosition.ErrCRC);
        QVERIFY(Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SERIAL_NUMBER, 4));
        QCOMPARE(RegData, (Bytes{'U', 'X', '2', '1'}));
    }

    void readReplyClasses_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("error");
        auto row = [](const char* reply, const char* message, const char* received) {
            QTest::newRow(reply) << QByteArray(reply) + "\r"
                                 << failure(message, "R:0001:00000018", received);
        };
        row("ERROR: no answer", "Error", "ERROR:noanswer");
        row("0x26:", "Invalid register address", "0x26:");
        row("0X26:", "Invalid register address", "0X26:");
        row("0x56:", "Parameter out of range", "0x56:");
        row("0x96:", "Access denied", "0x96:");
        row("0xee:", "Incorrect number of bytes", "0xee:");
        row("0xF6:", "Write access is locked", "0xF6:");
        row("0xf9:", "CRC invalid on write", "0xf9:");
        row("0xe6:", "CRC invalid on read", "0xe6:");
        row("0x26", "Other Error reading register", "0x26");
        row("0X9:0x00001234", "Other Error reading register", "0X9:0x00001234");
        row("0x9:1234", "Not enough data received back", "0x9:1234");
        row("0x9:0x000012345", "Not enough data received back", "0x9:0x000012345");
        row("0x9:0x00G01234", "Invalid data received back", "0x9:0x00G01234");
        row("0x9:0x+0001234", "Invalid data received back", "0x9:0x+0001234");
    }

    void readReplyClasses() {
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        sim.Script("R:0001:00000018", reply);
        RegData = {1, 2, 3, 4};
        QVERIFY(!Dravonel_ReadRegister(0x18, 1));
        QTEST(LastError, "error");
        QCOMPARE(RegData, (Bytes{0, 0, 0, 0}));
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    void writeReplyClasses_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("error"); // empty: the write succeeds
        auto row = [](const char* reply, const char* message) {
            QTest::newRow(reply) << QByteArray(reply) + "\r"
                                 << (message ? failure(message, "W:0001:00000049:00000063", reply)
                                             : QString());
        };
        row("0x9", nullptr);
        row("0x9:", nullptr);
        row("0x96", "Access denied"); // begins with "0x9" all the same
        row("ERROR", "Error");
        row("0x26:", "Invalid register address");
        row("0X56", "Parameter out of range");
        row("0xee", "Incorrect number of bytes");
        row("0xf6", "Write access is locked");
        row("0xf9", "CRC invalid on write");
        row("0xe6", "CRC invalid on read");
        row("0x9:00", "Incorrect data received back");
        row("0xA:", "Other error writing register");
        row("0X9", "Other error writing register");
    }

    void writeReplyClasses() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, error);
        EncoderSim sim;
        sim.Script("W:0001:00000049:00000063", reply);
        QCOMPARE(Dravonel_WriteRegister(0x49, 1, 0x63), error.isEmpty());
        QCOMPARE(LastError, error);
        QCOMPARE(sim.Sent(), (Commands{"x", "W:0001:00000049:00000063"}));
    }

    void writeSendsNegativeValuesAsTwosComplement() {
        EncoderSim sim;
        sim.Script("W:0004:00000000:FFFFFFFF", "0x9\r");
        QVERIFY(Dravonel_WriteRegister(0x00, 4, quint32(-1)));
        QCOMPARE(sim.Sent().last(), QByteArray("W:0004:00000000:FFFFFFFF"));
    }

    void writeSendsNothingWhenTheResetFails() {
        EncoderSim sim;
        sim.Script("x", "Busy, try later\r");
        QVERIFY(!Dravonel_WriteRegister(0x49, 1, 0x63));
        QCOMPARE(sim.Sent(), Commands{"x"});
        QCOMPARE(LastError, QString("Busy, try later"));
    }

    void resetAcceptsOnlyTheExactConfirmation() {
        EncoderSim sim;
        CommLogEnabled = true;
        sim.Script("x", "\t Reset of Dravonel protocol performed \r");
        QVERIFY(Dravonel_ResetProtocol());
        QCOMPARE(LastError, QString("Reset of Dravonel protocol performed"));
        QVERIFY(CommLogText.startsWith("Dravonel_ResetProtocol\r\nTX:x\r\n"));
        sim.Script("x", "Reset of  Dravonel protocol performed\r");
        QVERIFY(!Dravonel_ResetProtocol());
        QCOMPARE(LastError, QString("Reset of  Dravonel protocol performed"));
    }

    void missingPortFailsEveryAccessWithItsCode() {
        EncoderSim sim;
        sim.Fixture().CloseChannel();
        for (auto access : {+[] { return Dravonel_ReadRegister(0x4C, 2); },
                            +[] { return Dravonel_WriteRegister(0x49, 1, 0x63); },
                            +[] { return Dravonel_ResetProtocol(); }}) {
            EncoderPosition.ErrComm = 0;
            QVERIFY(!access());
            QCOMPARE(LastError, QString("USB Comm Err -3"));
            QCOMPARE(EncoderPosition.ErrComm, -3);
        }
    }

    void silentAdapterTimesOut() {
        EncoderSim sim;
        FaultSettings silent;
        silent.silent = true;
        sim.Fixture().Server().SetFaults(silent);
        RegData = {9, 9, 9, 9};
        QVERIFY(!Dravonel_ReadRegister(0x4C, 2));
        QCOMPARE(LastError, QString("USB Comm Err -1"));
        QCOMPARE(EncoderPosition.ErrComm, -1);
        QCOMPARE(RegData, (Bytes{0, 0, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(TestRegisterAccess)
#include "test_register_access.moc"
