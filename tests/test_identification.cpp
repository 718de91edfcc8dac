// Identification against simulated encoders of every generation: type,
// resolution, register map, presence probes, serial number and firmware
// version, and every way the identification fails.
#include "EncoderSim.h"

namespace {
// MT-arc, persistent status, signal level, time-out, runtime log, firmware.
QByteArray presenceFlags() {
    QByteArray text;
    for (bool flag : {Present_MT_ERR_TRESHOLD, Present_PERSISTENT_STATUS, Present_SIGNAL_LEVEL,
                      Present_SELF_CAL_TIMEOUT, Present_U4_RUNTIME_LOG, Present_FIRMWARE_REVISION})
        text += flag ? '1' : '0';
    return text;
}
} // namespace

class TestIdentification : public QObject {
    Q_OBJECT

private slots:
    void identifiesEveryGeneration_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("kind"); // type, version, STbits, MTbits
        QTest::addColumn<quint32>("commandAddress");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QByteArray>("flags");
        auto row = [](const char* model, const char* kind, quint32 command, const char* serial,
                      const char* firmware, const char* flags) {
            QTest::newRow(model) << QByteArray(model) << QByteArray(kind) << command
                                 << QByteArray(serial) << QString(firmware) << QByteArray(flags);
        };
        row("t1-st19", "1 1 19 0", 0x49, "A1905", "", "001000"); // zero-padded serial
        row("t2-mt17", "2 2 17 16", 0x49, "UX217041", "2.9.1.8812", "111111");
        row("t4-st20", "4 3 20 0", 0x49, "UX420554", "2.9.1.8812", "111111");
        row("t5-st21", "5 3 21 0", 0xBD, "UX5-21-0004087-AB7", "4.2.0.10231.5E1D2C3B", "111111");
        row("t6-mt19", "6 4 19 16", 0xBD, "UX6-19-000012345", "4.1.3.10512.0A17C3E9", "111111");
        row("t7-mt18", "7 4 18 16", 0xBD, "UX7-18-000007001", "4.3.1.11020.7D21B004", "111111");
    }

    void identifiesEveryGeneration() {
        QFETCH(QByteArray, model);
        EncoderSim sim(model);
        QVERIFY2(Dravonel_ReadEncoderSignature(), qPrintable(LastError));
        const QByteArray kind = QByteArray::number(EncoderType) + ' ' +
                                QByteArray::number(DravonelVersion) + ' ' +
                                QByteArray::number(STbits) + ' ' + QByteArray::number(MTbits);
        QTEST(kind, "kind");
        QCOMPARE(STcounts, STmask + 1);
        QCOMPARE(STcounts, 1 << STbits);
        QCOMPARE(EncoderSignature.Multiturn, MTbits > 0);
        QTEST(REG_ADDR_DRAVONEL_COMMAND, "commandAddress");
        QTEST(EncoderSignature.SerialNumber, "serial");
        QTEST(EncoderSignature.FWverStr, "firmware");
        QTEST(presenceFlags(), "flags");
    }

    void placeholderIdentificationIsReplacedAndLogged() {
        EncoderSim sim("t6-st17-jw306");
        CommLogEnabled = true;
        QVERIFY2(Dravonel_ReadEncoderSignature(), qPrintable(LastError));
        QCOMPARE(EncoderSignature.PartNumber, QByteArray("JW306KTM17BGWV00"));
        QCOMPARE(EncoderType, quint8(6));
        QCOMPARE(DravonelVersion, quint8(4));
        QCOMPARE(STbits, 17);
        QCOMPARE(MTbits, 0);
        QCOMPARE(REG_ADDR_DRAVONEL_COMMAND, 0xBDu);
        QVERIFY(
            CommLogText.startsWith("Dravonel_ReadEncoderSignature\r\nTX:j\r\n"
                                   "RX:84JW306xxx17Bxxx00\r\r\nWORKAROUND: identification "
                                   "replacement: 84JW306xxx17Bxxx00 -> 84JW306KTM17BGWV00\r\n"));
    }

    void typeChangeReinstallsTheWholeMap() {
        EncoderSim sim("t6-mt19");
        QVERIFY(Dravonel_ReadEncoderSignature());
        sim.Adapter().SelectModel("t2-mt17");
        QVERIFY2(Dravonel_ReadEncoderSignature(), qPrintable(LastError));
        QCOMPARE(REG_ADDR_DRAVONEL_ERROR_MAP, 0x1800u);
        QCOMPARE(REG_SIZE_DRAVONEL_SIGNAL_LEVEL, 2);
        QCOMPARE(REG_SIZE_DRAVONEL_FW_HASH, 0);
        QCOMPARE(REG_WORDS_DRAVONEL_SERIAL_NUMBER, 2);
    }

    void failures_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("type");   // 6 before the identification
        QTest::addColumn<int>("stBits"); // 0 before the identification
        QTest::addColumn<QByteArray>("partNumber");
        QTest::newRow("error reply")
            << QByteArray("73RX712KAN17M error\r")
            << "ERROR returned when reading encoder identification: j -> 73RX712KAN17M error" << 6
            << 0 << QByteArray();
        QTest::newRow("nothing but CR") << QByteArray("\r")
                                        << "Q714 interface does not respond when reading encoder "
                                           "identification."
                                        << 6 << 0 << QByteArray();
        QTest::newRow("73 with Q")
            << QByteArray("73RX712KAQ17MDG000\r") << "Unknown encoder type! (73RX712KAQ17MDG000)"
            << 6 << 0 << QByteArray("RX712KAQ17MDG000");
        QTest::newRow("15M") << QByteArray("73RX712KAN15MDG000\r")
                             << "Resolucija \"15M\" ni poznana!" << 2 << 1
                             << QByteArray("RX712KAN15MDG000");
        QTest::newRow("64 ignores the letter")
            << QByteArray("64RX7\r") << "Resolucija \"\" ni poznana!" << 1 << 1
            << QByteArray("RX7");
    }

    void failures() {
        QFETCH(QByteArray, reply);
        EncoderSim sim;
        sim.Script("j", reply);
        EncoderType = 6;
        EncoderSignature.SerialNumber = "OLD";
        EncoderSignature.FWverMajor = 4;
        QVERIFY(!Dravonel_ReadEncoderSignature());
        QTEST(LastError, "error");
        QTEST(int(EncoderType), "type");
        QTEST(STbits, "stBits");
        QTEST(EncoderSignature.PartNumber, "partNumber");
        QVERIFY(EncoderSignature.SerialNumber.isEmpty());
        QCOMPARE(EncoderSignature.FWverMajor, 0u);
        // An unknown resolution is kept as a value too, for other programs
        // to word; any other failure leaves none behind.
        const QString error = LastError;
        QCOMPARE(UnknownResolutionCode, error.startsWith("Resolucija")
                                            ? error.section('"', 1, 1).toLatin1()
                                            : QByteArray());
    }

    void brokenExchangeQuotesWhatArrived() {
        EncoderSim sim;
        FaultSettings partial;
        partial.partialBytes = 5;
        sim.Fixture().Server().SetFaults(partial);
        QVERIFY(!Dravonel_ReadEncoderSignature());
        QCOMPARE(LastError,
                 QString("Error \"-1\" when reading encoder identification: j -> 73RX7"));
    }

    void probeRefusalsSetFlagsWithoutFailing() {
        EncoderSim sim;
        sim.Script("R:0001:00000018", "0x26:\r"); // no error-arc register
        sim.Script("R:0001:00000021", "0xee:\r"); // time-out: wrong size
        sim.Script("R:0002:00000035", "0x26:\r"); // no source revision
        QVERIFY2(Dravonel_CheckPresenceOfRegisters(), qPrintable(LastError));
        QCOMPARE(presenceFlags(), QByteArray("011010"));
        QVERIFY(LastError.isEmpty());
    }

    void probeCrcErrorEndsTheIdentification() {
        EncoderSim sim;
        Present_U4_RUNTIME_LOG = true;
        sim.Script("R:0002:0000004E", "0xe6:\r");
        QVERIFY(!Dravonel_ReadEncoderSignature());
        QCOMPARE(LastError, QString("CRC invalid on read\r\nsCmd: R:0002:0000004E RCV: 0xe6:"));
        QCOMPARE(presenceFlags(), QByteArray("110010")); // later flags keep their values
    }

    void wideFirmwareRegistersKeepLow16BitsButFullRevision() {
        EncoderSim sim("t6-mt19");
        sim.Script("R:0004:00000068", "0x9:0x00AB0004\r");
        sim.Script("R:0004:0000006E", "0x9:0x12345678\r");
        QVERIFY2(Dravonel_ReadEncoderSignature(), qPrintable(LastError));
        QCOMPARE(REG_SIZE_DRAVONEL_FW_VERSION, 4);
        QCOMPARE(REG_SIZE_DRAVONEL_FW_SVN, 4);
        QCOMPARE(EncoderSignature.FWverStr, QString("4.1.3.305419896.0A17C3E9"));
    }

    void revisionOfWrongSizeTwiceLeavesFirmwareUnread() {
        EncoderSim sim("t6-mt19");
        sim.Script("R:0004:0000006E", "0xee:\r");
        QVERIFY2(Dravonel_ReadEncoderSignature(), qPrintable(LastError));
        QVERIFY(!Present_FIRMWARE_REVISION);
        QVERIFY(EncoderSignature.FWverStr.isEmpty());
    }

    void failedSerialReadFailsTheIdentification() {
        EncoderSim sim("t5-st21");
        sim.Script("R:0002:00000050", "0x56:\r"); // the two extra characters of type 5
        QVERIFY(!Dravonel_ReadEncoderSignature());
        QCOMPARE(LastError, QString("Parameter out of range\r\nsCmd: R:0002:00000050 RCV: 0x56:"));
        QVERIFY(EncoderSignature.SerialNumber.isEmpty());
    }

    void resetRestoresTheStartState() {
        EncoderSim sim("t6-mt19");
        QVERIFY(Dravonel_ReadEncoderSignature());
        ResetEncoderProtocolState();
        QCOMPARE(EncoderType, quint8(0));
        QCOMPARE(REG_SIZE_DRAVONEL_FW_VERSION, 0);
        QCOMPARE(REG_ADDR_DRAVONEL_COMMAND, 0x49u);
        QCOMPARE(presenceFlags(), QByteArray("000000"));
        QVERIFY(EncoderSignature.PartNumber.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIdentification)
#include "test_identification.moc"
