// One reading against simulated encoders, without the window: the raw frame
// and the adapter's decoded reply, two-ring encoders with channel 1 first,
// failed readings (a time-out breaks the link, a wrong "d" length does not),
// the flag lines, the status texts of both register sizes, the diagnostics
// counters, the optional reads in their order and what a broken link leaves
// out, the supply refresh, and the frame's position kept past a protocol-4
// debug readout.
#include "EncoderProfile.h"
#include "Enkoderji_splosno.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "SimCrc8.h"
#include "WorkflowSim.h"

#include <QTest>

namespace {

const QByteArray FrameCommand = "?07:000";
const QString TimeOutText = QStringLiteral("USB Comm Err -1");

// A multi-turn frame reply of a type 2 encoder, its CRC right or spoilt.
QByteArray frameReply(const QByteArray& dataHex, bool spoilCrc = false) {
    const quint8 crc = BitwiseCrc8(QByteArray::fromHex(dataHex)) ^ (spoilCrc ? 0x5A : 0);
    return dataHex + QByteArray::number(crc, 16).rightJustified(2, '0').toUpper() + "00\r";
}

// The reply to the n-th exchange from now comes long after the time-out, so
// that exchange finds the link broken (the replies after it would queue
// behind it).
void breakTheLinkAtExchange(WorkflowSim& sim, int exchange) {
    FaultSettings late;
    late.lateReplyEvery = exchange;
    late.lateReplyMs = 10 * int(SerialTimeout);
    sim.Fixture().Server().SetFaults(late);
}

// Every optional read a reading can make.
ReadingOptions everyOptionalRead() {
    ReadingOptions options;
    options.temperature = true;
    options.signalLevel = true;
    options.persistentStatus = true;
    options.diagnostics = true;
    options.debugRecord = true;
    options.supplyState = true;
    return options;
}

// A protocol-4 encoder with every optional register, connected.
struct FirmwareFourSim : WorkflowSim {
    FirmwareFourSim() : WorkflowSim("t6-mt19") { Connect(); }
};

// The register reads of the optional values on t6-mt19 (U4 map), in order:
// temperature, signal level, persistent status, then the diagnostics
// counters (power cycles, operating minutes, lowest and highest temperature,
// the safety margins RT and PER).
const Commands OptionalRegisterReads{"R:0002:00000000", "R:0004:00000002", "R:0004:0000000A",
                                     "R:0004:00000034", "R:0004:00000038", "R:0001:0000003C",
                                     "R:0002:0000003E", "R:0002:00000010", "R:0002:00000012"};

} // namespace

class TestWorkflowReading : public QObject {
    Q_OBJECT

private slots:
    // ---- The position ----

    void rawFrameGivesTurnsAndCounts_data() {
        QTest::addColumn<int>("turns");
        QTest::newRow("1.5 turns") << 1;
        QTest::newRow("ten turns") << 10;
        QTest::newRow("negative turns") << -3;
    }

    void rawFrameGivesTurnsAndCounts() {
        QFETCH(int, turns);
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([&](SimulatedEncoder& e) { e.SetPosition(turns, 65536); });
        const Reading reading = TakeReading({}, sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY(!reading.linkBroken && !reading.twoChannels && !reading.channel1Read);
        QCOMPARE(sim.Sent(), Commands({FrameCommand}));
        QCOMPARE(EncoderPosition.MT_value, turns);
        QCOMPARE(EncoderPosition.ST_value, 65536u);
        QCOMPARE(EncoderPosition.MTST_value, qint64(turns) * 131072 + 65536);
        QCOMPARE(reading.frameMT, turns);
        QCOMPARE(reading.frameST, 65536u);
        QCOMPARE(reading.frameMTST, EncoderPosition.MTST_value);
        QVERIFY(sim.front.lines.isEmpty());
        QVERIFY(sim.front.alerts.isEmpty());
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    void decodedStatusReadsTheAdaptersReply() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(-2, 4096); });
        ReadingOptions options;
        options.decodedStatus = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.positionRead);
        QCOMPARE(sim.Sent(), Commands({"d"}));
        QCOMPARE(EncoderPosition.RxData, QByteArray("S:0000 M:FFFE P:001000"));
        QCOMPARE(reading.frameMT, -2);
        QCOMPARE(reading.frameST, 4096u);
        QCOMPARE(reading.frameMTST, qint64(-2) * 131072 + 4096);
        QVERIFY(!EncoderPosition.ErrBit && !EncoderPosition.WarnBit && !EncoderPosition.ErrCRC);
    }

    // Two rings are always read as raw frames: channel 1 from the trailing
    // bytes of nine frames after a protocol reset, then channel 0.
    void twoRingEncoderReadsChannelOneFirst() {
        WorkflowSim sim("t7-mt18");
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(1, 0), e.SetChannel1Offset(65536); });
        ReadingOptions options;
        options.decodedStatus = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.twoChannels && reading.channel1Read && reading.positionRead);
        Commands expected{"x"};
        for (int frame = 0; frame < 10; ++frame)
            expected << FrameCommand;
        QCOMPARE(sim.Sent(), expected);
        QCOMPARE(EncoderPosition.CH1_MT_value, 1);
        QCOMPARE(EncoderPosition.CH1_ST_value, 65536u);
        QCOMPARE(EncoderPosition.CH1_MTST_value, qint64(262144 + 65536));
        QCOMPARE(reading.frameMT, 1);
        QCOMPARE(reading.frameST, 0u);
        QCOMPARE(reading.frameMTST, qint64(262144));
        QVERIFY(sim.front.lines.isEmpty());
    }

    // ---- Failed readings ----

    void aTimeOutBreaksTheLinkAndLeavesEveryOtherReadOut() {
        FirmwareFourSim sim;
        sim.Silence();
        const Reading reading = TakeReading(everyOptionalRead(), sim.front);
        QVERIFY(!reading.positionRead);
        QVERIFY(reading.linkBroken);
        QCOMPARE(EncoderPosition.ErrComm, -1);
        QCOMPARE(sim.front.lines, QStringList({TimeOutText}));
        QCOMPARE(sim.Sent(), Commands({FrameCommand}));
        QVERIFY(!reading.temperatureTaken && !reading.countersTaken);
        QVERIFY(!reading.debugRecordTaken && !reading.supplyStateRead);
    }

    void wrongLengthOfTheDecodedReplyIsNoBrokenLink() {
        FirmwareFourSim sim;
        sim.Script("d", "S:0000 M:0001 P:01000\r");
        ReadingOptions options = everyOptionalRead();
        options.decodedStatus = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(!reading.positionRead);
        QVERIFY(!reading.linkBroken);
        QCOMPARE(EncoderPosition.ErrComm, 0);
        QCOMPARE(sim.front.lines, QStringList({"Incorrect response length on the command \"d\" "
                                               "(S:0000 M:0001 P:01000)!"}));
        QCOMPARE(sim.Sent(), Commands({"d"})); // a failed position ends the reading
    }

    // A failed channel-1 read ends the reading, but is no broken link.
    void failedChannelOneEndsTheReadingWithoutABrokenLink() {
        WorkflowSim sim("t7-mt18");
        sim.Connect();
        sim.Silence();
        const Reading reading = TakeReading({}, sim.front);
        QCOMPARE(sim.front.lines, QStringList({TimeOutText}));
        QVERIFY(reading.twoChannels);
        QVERIFY(!reading.channel1Read && !reading.positionRead);
        QVERIFY(!reading.linkBroken);
        QCOMPARE(sim.Sent(), Commands({"x"}));
    }

    // Channel 1's values stay when the channel-0 frame after them fails.
    void channelOneStaysWhenChannelZeroFails() {
        WorkflowSim sim("t7-mt18");
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(2, 0), e.SetChannel1Offset(1000); });
        breakTheLinkAtExchange(sim, 11); // "x", nine channel-1 frames, channel 0
        const Reading reading = TakeReading({}, sim.front);
        QVERIFY(reading.channel1Read);
        QVERIFY(!reading.positionRead);
        QVERIFY(reading.linkBroken);
        QCOMPARE(EncoderPosition.CH1_ST_value, 1000u);
        QCOMPARE(sim.front.lines, QStringList({TimeOutText}));
    }

    // ---- Flags and status ----

    void flagLinesAreLoggedOnlyWhenAsked() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true), e.SetWarningActive(true); });
        TakeReading({}, sim.front);
        QVERIFY(EncoderPosition.ErrBit && EncoderPosition.WarnBit);
        QVERIFY(sim.front.lines.isEmpty());

        ReadingOptions options;
        options.logFlags = true;
        TakeReading(options, sim.front);
        QCOMPARE(sim.front.lines, QStringList({"Error!", "Warning!"}));
    }

    void spoiltCrcIsLoggedAndTheFrameKeptPrintable() {
        WorkflowSim sim;
        sim.Connect();
        const QByteArray frame = frameReply("0001800003", true);
        sim.Script(FrameCommand, " " + frame.toLower());
        ReadingOptions options;
        options.logFlags = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.positionRead); // the adapter answered
        QVERIFY(EncoderPosition.ErrCRC);
        QVERIFY(!EncoderPosition.ErrBit);
        QCOMPARE(sim.front.lines, QStringList({"CRC!"}));
        QCOMPARE(EncoderPosition.RxData.toUpper(), frame.trimmed());
    }

    // The adapter's decoded status reports the encoder's status while it
    // signals an error; a warning alone is no error.
    void decodedStatusOfAWarningOnlyEncoderIsNoError() {
        WorkflowSim sim;
        sim.Connect();
        ReadingOptions options;
        options.decodedStatus = true;
        options.logFlags = true;
        sim.encoder([](SimulatedEncoder& e) { e.SetWarningActive(true); });
        Reading reading = TakeReading(options, sim.front);
        QVERIFY(!EncoderPosition.ErrBit);
        QVERIFY(sim.front.lines.isEmpty());
        QCOMPARE(reading.statusTexts, QString());

        sim.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        reading = TakeReading(options, sim.front);
        QVERIFY(EncoderPosition.ErrBit);
        // The warning is still active: both are reported.
        QCOMPARE(reading.statusTexts, QStringLiteral("Warning Temperature\r\nError System\r\n"));
        QCOMPARE(sim.front.lines, QStringList({"Error!", "Warning!", "Status: 0000000000010100"}));
    }

    void statusTextsOfATwoByteRegister() {
        WorkflowSim sim;
        sim.Connect();
        ReadingOptions options;
        options.decodedStatus = true;
        sim.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0x0303); });
        Reading reading = TakeReading(options, sim.front);
        QCOMPARE(DetailedStatusBits(), QStringLiteral("0000001100000011"));
        QCOMPARE(reading.statusTexts,
                 QStringLiteral("Error Magnetic pattern\r\nWarning Magnetic Pattern\r\n"
                                "Error Acceleration\r\nWarning High Speed\r\n"));

        // The persistent register remembers what the frames no longer show.
        options.persistentStatus = true;
        sim.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0); });
        sim.Forget();
        reading = TakeReading(options, sim.front);
        QCOMPARE(sim.Sent(), Commands({"d", "R:0002:0000002C"}));
        QCOMPARE(DetailedStatusBits(), QStringLiteral("0000001100000011"));
        QVERIFY(reading.statusTexts.startsWith(QLatin1String("Error Magnetic pattern\r\n")));
    }

    void statusTextsOfAFourByteRegister() {
        WorkflowSim sim("t5-st21");
        sim.Connect();
        const Reading reading = TakeReading({}, sim.front);
        QVERIFY(reading.positionRead);
        QCOMPARE(DetailedStatusBits(), QString(32, QLatin1Char('0')));
        QCOMPARE(reading.statusTexts, QString());
    }

    // The tables keep their own texts, typing included.
    void statusTextTablesByRegisterSize() {
        QCOMPARE(DetailedStatusTexts(0x0008, 2), QStringLiteral("Error Poiwer\r\n"));
        QCOMPARE(DetailedStatusTexts(0xFFFF0008u, 4), QStringLiteral("Error Power\r\n"));
        QCOMPARE(DetailedStatusTexts(0x0008, 3), QString());
    }

    // A failed persistent-status read is logged; the frame's status stays.
    void failedPersistentStatusKeepsTheFramesStatus() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) {
            e.SetStatusBits(0x0004);
            e.SetRegisterFault(REG_ADDR_DRAVONEL_PERSISTENT_STATUS, RegisterFault::AccessDenied);
        });
        ReadingOptions options;
        options.decodedStatus = true;
        options.persistentStatus = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.positionRead);
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines.first().startsWith(QLatin1String("Access denied")));
        QCOMPARE(reading.statusTexts, QStringLiteral("Error System\r\n"));
    }

    // ---- Diagnostics counters ----

    void diagnosticsCountersOnFirmwareFour() {
        FirmwareFourSim sim;
        sim.Script("R:0002:00000010", "0x9:0x0000FF38\r");
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x38, RegisterFault::AccessDenied); });
        ReadingOptions options;
        options.diagnostics = true;
        const Reading reading = TakeReading(options, sim.front);
        const quint32 cycles = sim.encoder([](SimulatedEncoder& e) { return e.PowerCycles(); });
        QVERIFY(reading.countersTaken);
        const DiagnosticsCounters& c = reading.counters;
        QVERIFY(c.runtimeLogPresent);
        QCOMPARE(c.powerCycles, std::optional<qint64>(cycles));
        QCOMPARE(c.operatingMinutes, std::optional<qint64>(0)); // its read failed
        QCOMPARE(c.temperatureMin, std::optional<qint64>(4));
        QCOMPARE(c.temperatureMax, std::optional<qint64>(57));
        QCOMPARE(c.safetyMarginRt, std::optional<qint64>(-200));
        QVERIFY(c.safetyMarginPer.has_value());
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines.first().startsWith(QLatin1String("Access denied")));
        QCOMPARE(sim.Sent(), Commands({FrameCommand}) + OptionalRegisterReads.mid(3));
    }

    // Without the runtime log only the safety margins are read.
    void countersWithoutTheRuntimeLog() {
        WorkflowSim sim("t6-mt19");
        EncoderProfile profile = *FindEncoderProfile(QStringLiteral("t6-mt19"));
        profile.hasRuntimeLog = false;
        sim.Adapter().SetEncoderProfile(profile);
        sim.Adapter().SetSupplyOn(true);
        sim.Connect();
        ReadingOptions options;
        options.diagnostics = true;
        const Reading reading = TakeReading(options, sim.front);
        const DiagnosticsCounters& c = reading.counters;
        QVERIFY(reading.countersTaken);
        QVERIFY(!c.runtimeLogPresent);
        QVERIFY(!c.powerCycles && !c.operatingMinutes && !c.temperatureMin && !c.temperatureMax);
        QVERIFY(c.safetyMarginRt.has_value() && c.safetyMarginPer.has_value());
        QCOMPARE(sim.Sent(), Commands({FrameCommand}) + OptionalRegisterReads.mid(7));
    }

    // ---- The optional reads ----

    void optionalReadsComeInTheirOrder() {
        FirmwareFourSim sim;
        qsizetype sentBeforeDebugStep = -1;
        qsizetype sentAfterDebugReadout = -1;
        ReadingHooks hooks;
        hooks.beforeDebugStep = [&] { sentBeforeDebugStep = sim.Sent().size(); };
        hooks.afterDebugReadout = [&] { sentAfterDebugReadout = sim.Sent().size(); };
        const Reading reading = TakeReading(everyOptionalRead(), sim.front, hooks);
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
        QVERIFY(reading.temperatureTaken && reading.signalLevelRead && reading.countersTaken);
        QVERIFY(reading.debugRecordTaken && reading.debugRecordRead);
        QVERIFY(reading.supplyStateRead);
        QCOMPARE(reading.supplyState, QByteArray("ON 5.0V 38mA"));
        const Commands sent = sim.Sent();
        QCOMPARE(sent.mid(0, 10), Commands({FrameCommand}) + OptionalRegisterReads);
        // The debug step comes after the counters, the supply state last.
        QCOMPARE(sentBeforeDebugStep, qsizetype(10));
        QCOMPARE(sent.mid(10, 2), Commands({"x", "W:0001:000000BD:00000044"}));
        QCOMPARE(sentAfterDebugReadout, sent.size() - 1);
        QCOMPARE(sent.last(), QByteArray("e"));
    }

    void readsThatWereNotAskedForAreNotMade() {
        FirmwareFourSim sim;
        bool hooked = false;
        ReadingHooks hooks;
        hooks.beforeDebugStep = [&] { hooked = true; };
        hooks.afterDebugReadout = [] { QFAIL("no debug readout was asked for"); };
        const Reading reading = TakeReading({}, sim.front, hooks);
        QCOMPARE(sim.Sent(), Commands({FrameCommand}));
        QVERIFY(hooked); // the window moves its communication log there
        QVERIFY(!reading.temperatureTaken && !reading.signalLevelRead && !reading.countersTaken);
        QVERIFY(!reading.debugRecordTaken && !reading.supplyStateRead);
        QVERIFY(!reading.counters.powerCycles && !reading.counters.safetyMarginPer);
    }

    // Once an exchange finds the link broken, every read after it would only
    // wait out another time-out: they are left out.
    void aBrokenLinkLeavesOutTheRemainingReads_data() {
        QTest::addColumn<int>("exchange");
        QTest::addColumn<bool>("signalLevelRead");
        QTest::addColumn<int>("countersRead");
        QTest::addColumn<bool>("debugRecordTaken");
        QTest::newRow("temperature") << 2 << false << 0 << false;
        QTest::newRow("signal level") << 3 << false << 0 << false;
        QTest::newRow("persistent status") << 4 << true << 0 << false;
        QTest::newRow("operating minutes") << 6 << true << 2 << false;
        QTest::newRow("safety margin PER") << 10 << true << 6 << false;
        QTest::newRow("debug record") << 12 << true << 6 << true;
    }

    void aBrokenLinkLeavesOutTheRemainingReads() {
        QFETCH(int, exchange);
        QFETCH(bool, signalLevelRead);
        QFETCH(int, countersRead);
        QFETCH(bool, debugRecordTaken);
        FirmwareFourSim sim;
        breakTheLinkAtExchange(sim, exchange);
        const Reading reading = TakeReading(everyOptionalRead(), sim.front);
        QCOMPARE(sim.Sent().size(), qsizetype(exchange)); // nothing after the broken one
        QVERIFY(reading.positionRead);
        QVERIFY(!reading.linkBroken); // the position was read
        QVERIFY(EncoderPosition.ErrComm < 0);
        QVERIFY(sim.front.lines.contains(TimeOutText));
        QVERIFY(reading.temperatureTaken);
        QCOMPARE(reading.signalLevelRead, signalLevelRead);
        QVERIFY(reading.countersTaken);
        const DiagnosticsCounters& c = reading.counters;
        const QList<bool> read{c.powerCycles.has_value(),    c.operatingMinutes.has_value(),
                               c.temperatureMin.has_value(), c.temperatureMax.has_value(),
                               c.safetyMarginRt.has_value(), c.safetyMarginPer.has_value()};
        QCOMPARE(read.count(true), qsizetype(countersRead));
        QCOMPARE(read.indexOf(false), countersRead < 6 ? qsizetype(countersRead) : -1);
        QCOMPARE(reading.debugRecordTaken, debugRecordTaken);
        QVERIFY(!reading.debugRecordRead);
        QVERIFY(!reading.supplyStateRead);
    }

    void supplyRefreshReadsTheStateAfterTheFrame() {
        WorkflowSim sim;
        sim.Connect();
        ReadingOptions options;
        options.supplyState = true;
        const Reading reading = TakeReading(options, sim.front);
        QCOMPARE(sim.Sent(), Commands({FrameCommand, "e"}));
        QVERIFY(reading.supplyStateRead);
        QCOMPARE(reading.supplyState, QByteArray("ON 5.0V 38mA"));
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    // ---- The frame's position past a protocol-4 debug readout ----

    // The readout puts the record's position in EncoderPosition (the turns
    // as an unsigned word; without a latch the one the encoder latched
    // before); the reading keeps the frame's.
    void frameKeepsItsPositionPastTheDebugReadout() {
        FirmwareFourSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(-3, 1000); });
        ReadingOptions options;
        options.debugRecord = true;
        Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.debugRecordRead);
        QCOMPARE(EncoderPosition.MT_value, 65533);
        QCOMPARE(reading.frameMT, -3);
        QCOMPARE(reading.frameST, 1000u);
        QCOMPARE(reading.frameMTST, qint64(-3) * 524288 + 1000);

        options.debugLatch = false;
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(2, 5000); });
        reading = TakeReading(options, sim.front);
        QVERIFY(reading.debugRecordRead);
        QCOMPARE(EncoderPosition.ST_value, 1000u); // the record latched before
        QCOMPARE(reading.frameMT, 2);
        QCOMPARE(reading.frameST, 5000u);
        QCOMPARE(reading.frameMTST, qint64(2) * 524288 + 5000);
        QVERIFY(sim.front.lines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWorkflowReading)
#include "test_workflow_reading.moc"
