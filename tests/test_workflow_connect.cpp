// The adapter and connect workflows against simulated encoders: the power
// sequence, the SPI clock and NCS-SCK delay, and connecting with its identity
// and register lines, its retry in non-inverted CRC mode, the code length and
// the installation coefficients.
#include "AdapterCommands.h"
#include "AdapterWorkflows.h"
#include "EncoderProfile.h"
#include "Enkoderji_splosno.h"
#include "Reading.h"
#include "WorkflowSim.h"

#include <QTest>

namespace {

// A catalogue model whose register protocol needs non-inverted CRC.
void needNonInvertedCrc(WorkflowSim& sim, const char* model) {
    EncoderProfile profile = *FindEncoderProfile(QString::fromLatin1(model));
    profile.registerCrc = RegisterCrc::NonInverted;
    sim.Adapter().SetEncoderProfile(profile);
    sim.Adapter().SetSupplyOn(true);
}

} // namespace

class TestWorkflowConnect : public QObject {
    Q_OBJECT

private slots:
    void powerOnAt3V3SendsSupplyThenOnThenState() {
        WorkflowSim sim;
        sim.Adapter().SetSupplyOn(false);
        const SupplyResult supply = PowerOnEncoder(EncoderSupplyVoltage::V3_3, sim.front);
        QCOMPARE(sim.Sent(), Commands({"V3", "n", "e"}));
        QCOMPARE(supply.state, QByteArray("ON 3.3V 45mA"));
        QCOMPARE(sim.front.lines.last(), QStringLiteral("ON 3.3V 45mA"));
        QVERIFY(sim.front.alerts.isEmpty());
        QCOMPARE(sim.front.pausedMs, qint64(200)); // the supply settles
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    void wrongAcknowledgementsAreAlertedAndTheSequenceGoesOn() {
        WorkflowSim sim;
        sim.Script("V5", "OK V5\r");
        PowerOnEncoder(EncoderSupplyVoltage::V5, sim.front);
        QCOMPARE(sim.front.alerts,
                 QStringList({"Setting power supply (V5) not successfull! (OK V5)"}));
        QCOMPARE(sim.Sent(), Commands({"V5", "n", "e"}));

        sim.Forget();
        sim.Adapter().ClearOverrides();
        sim.Script("n", "NO\r");
        PowerOnEncoder(EncoderSupplyVoltage::V5, sim.front);
        QCOMPARE(sim.front.alerts, QStringList({"Setting power supply (n) not successfull! (NO)"}));
    }

    void aBrokenLinkStopsPowerAndConnect() {
        WorkflowSim sim;
        sim.Fixture().Server().Unplug();
        QVERIFY(PowerOffEncoder().LinkBroken());
        QVERIFY(EncoderPosition.ErrComm < 0);
        QVERIFY(PowerOnEncoder(EncoderSupplyVoltage::V5, sim.front).LinkBroken());
        QVERIFY(sim.front.lines.isEmpty());
        const ConnectResult connected = ConnectEncoder({}, sim.front);
        QVERIFY(connected.linkBroken);
        QVERIFY(!connected.identified);
        QVERIFY(sim.front.lines.isEmpty());
    }

    void spiClockSendsItsSettingAndLogsTheFrequency() {
        WorkflowSim sim;
        QVERIFY(SetSpiClock(8, sim.front));
        QCOMPARE(sim.Sent(), Commands({"M8", "m"}));
        QVERIFY(sim.front.lines.last().startsWith(QLatin1String("Frequency: ")));
        QVERIFY(sim.front.alerts.isEmpty());

        sim.Silence();
        QVERIFY(!SetSpiClock(1, sim.front));
        QCOMPARE(sim.front.alerts, QStringList({"Setting frequency 1 not successfull."}));
    }

    // The problem goes to the front end as a value (command and reply), and
    // the front end words it; the workflow says whether the adapter took it.
    void ncsSckDelayIsThreeDigitsAndErrorsAreAlerted() {
        WorkflowSim sim;
        sim.Script("D007", "ERROR\r");
        QVERIFY(SetNcsSckDelay(900, sim.front));
        QVERIFY(!SetNcsSckDelay(7, sim.front));
        QCOMPARE(sim.Sent(), Commands({"D900", "D007"}));
        QCOMPARE(sim.front.alerts, QStringList({"D007 -> ERROR"}));
        QCOMPARE(sim.front.lines.last(), QStringLiteral("Setting: ERROR"));
    }

    // An identification that fails on its resolution code hands the code to
    // the front end to word, in the log and in the result.
    void anUnknownResolutionIsWordedByTheFrontEnd() {
        WorkflowSim sim;
        sim.Script("j", "73RX712KAN15MDG000\r");
        const ConnectResult connected = ConnectEncoder({}, sim.front);
        QVERIFY(!connected.identified);
        QCOMPARE(connected.problem, QStringLiteral("resolution 15M"));
        QVERIFY2(sim.front.LogLines().contains(QStringLiteral("resolution 15M")),
                 qPrintable(sim.front.LogLines().join('\n')));
        QVERIFY(!sim.front.LogLines().join('\n').contains("Resolucija"));

        sim.Script("j", "\r"); // another failure: worded as the encoder layer has it
        QCOMPARE(ConnectEncoder({}, sim.front).problem, LastError);
        QVERIFY(UnknownResolutionCode.isEmpty());
    }

    void setupProblemsAreValues() {
        const QList<SetupCommandProblem> refused = SetupCommandProblems("Ce", 0, "ERROR x\r\x01");
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused[0].command, QByteArray("Ce"));
        QCOMPARE(refused[0].reply, QByteArray("ERROR x"));
        const QList<SetupCommandProblem> silent = SetupCommandProblems("G0:1", -1, {});
        QCOMPARE(silent.size(), 1);
        QVERIFY(silent[0].reply.isEmpty());
        QVERIFY(SetupCommandProblems("G0:1", 0, "G0:1 OK\r").isEmpty());
    }

    void lomaAndBrixNeedsAdapterFirmware109() {
        QVERIFY(!AdapterSupportsLomaAndBrix(108));
        QVERIFY(AdapterSupportsLomaAndBrix(109));
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v1.08"), 108);
    }

    void connectLogsIdentityRegistersAndScaling() {
        WorkflowSim sim;
        QByteArray supplyShown;
        bool identifiedBeforeTheClock = false;
        ConnectHooks hooks;
        hooks.supplyState = [&](const QByteArray& state) { supplyShown = state; };
        hooks.identified = [&](const ConnectResult&) {
            identifiedBeforeTheClock = !sim.Sent().contains("M5");
        };
        const ConnectResult connected = ConnectEncoder({}, sim.front, hooks);
        QVERIFY(connected.identified);
        const QStringList lines = sim.front.LogLines();
        for (const char* expected :
             {"Dravonel version: 2", "Part number: RX712KAN17MDG000", "Serial number: UX217041",
              "FW version: 2.9.1.8812",
              "Registers present in the encoder:", "  MT_ERR_TRESHOLD  \tTrue",
              "  PERSISTENT_STATUS\tTrue", "  SIGNAL_LEVEL     \tTrue", "  SELF_CAL_TIMEOUT \tTrue",
              "  FIRMWARE_REVISION\tTrue [2] [2]", "  U4_RUNTIME_LOG   \tTrue"})
            QVERIFY2(lines.contains(QLatin1String(expected)), expected);
        QCOMPARE(supplyShown, QByteArray("ON 5.0V 38mA"));
        QVERIFY(identifiedBeforeTheClock);
        QCOMPARE(connected.countsPerTurn, 131072);
        QCOMPARE(connected.codeLength, 7);
        QCOMPARE(connected.coefficients.N, 865.0);
        QCOMPARE(EncoderSignature.AirGapN, 865.0);
        QVERIFY(!connected.twoRings);
        const Commands sent = sim.Sent();
        QCOMPARE(sent.mid(0, 5), Commands({"e", "Ce", "G0:1", "D015", "j"}));
        QCOMPARE(sent.mid(sent.size() - 2), Commands({"M5", "m"}));
    }

    void everyCatalogueModelConnectsAndReads_data() {
        QTest::addColumn<QString>("model");
        for (const EncoderProfile& profile : EncoderCatalogue())
            QTest::newRow(qPrintable(profile.name)) << profile.name;
    }

    void everyCatalogueModelConnectsAndReads() {
        QFETCH(QString, model);
        const QByteArray name = model.toLatin1();
        WorkflowSim sim(name.constData());
        QVERIFY2(sim.Connect().identified, qPrintable(sim.front.lines.join('\n')));
        const Reading reading = TakeReading({}, sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
        QCOMPARE(EncoderPosition.ErrComm, 0);
        QVERIFY(!EncoderPosition.ErrCRC);
    }

    // A USB adapter may deliver each reply in several packets: the whole
    // session stays in step.
    void repliesInPiecesStillConnectAndRead() {
        WorkflowSim sim;
        FaultSettings split;
        split.splitParts = 3;
        split.splitGapMs = 1;
        sim.Fixture().Server().SetFaults(split);
        QVERIFY(PowerOnEncoder(EncoderSupplyVoltage::V5, sim.front).state.startsWith("ON"));
        QVERIFY(sim.Connect().identified);
        for (int reading = 0; reading < 5; ++reading)
            QVERIFY(TakeReading({}, sim.front).positionRead);
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
        QVERIFY(sim.front.alerts.isEmpty());
        QVERIFY(!EncoderPosition.ErrCRC);
    }

    void missingRegistersAreLoggedAsAbsent() {
        WorkflowSim sim("t1-st19");
        ConnectEncoder({}, sim.front);
        QVERIFY(sim.front.LogLines().contains(QLatin1String("  FIRMWARE_REVISION\tFalse [2] [2]")));
        QVERIFY(!Present_MT_ERR_TRESHOLD);
        QVERIFY(!Present_PERSISTENT_STATUS);
        QVERIFY(Present_SIGNAL_LEVEL);
        QVERIFY(!Present_SELF_CAL_TIMEOUT);
    }

    void typeThreeRetriesWithNonInvertedCrc() {
        WorkflowSim sim("t3-st18");
        needNonInvertedCrc(sim, "t3-st18");
        bool switched = false;
        ConnectHooks hooks;
        hooks.switchToNonInvertedCrc = [&] { switched = true; };
        const ConnectResult connected = ConnectEncoder({}, sim.front, hooks);
        const QStringList lines = sim.front.LogLines();
        const qsizetype error = lines.indexOf(QLatin1String("Error reading Encoder signature!"));
        const qsizetype retry =
            lines.indexOf(QLatin1String("Trying again with non-inverted CRC..."));
        const qsizetype identity = lines.indexOf(QLatin1String("Dravonel version: 2"));
        QVERIFY(error >= 0 && error < retry && retry < identity);
        QCOMPARE(lines.count(QLatin1String("Error reading Encoder signature!")), 1);
        QVERIFY(switched);
        QVERIFY(connected.identified);
        QVERIFY(connected.retried && connected.nonInvertedCrc);
        const Commands sent = sim.Sent();
        QVERIFY(sent.indexOf("Ce") < sent.indexOf("Cr"));
    }

    void typeOneDoesNotRetry() {
        WorkflowSim sim("t1-st19");
        needNonInvertedCrc(sim, "t1-st19");
        const ConnectResult connected = ConnectEncoder({}, sim.front);
        const QStringList lines = sim.front.LogLines();
        QVERIFY(!lines.contains(QLatin1String("Trying again with non-inverted CRC...")));
        QVERIFY(!sim.Sent().contains("Cr"));
        QCOMPARE(lines.count(QLatin1String("Error reading Encoder signature!")), 1);
        QVERIFY(lines.indexOf(QLatin1String("Error reading Encoder signature!")) >
                lines.indexOf(QLatin1String("Dravonel version: 1")));
        QVERIFY(!connected.identified);
    }

    void twoRingEncoder() {
        WorkflowSim sim("t7-mt18");
        QVERIFY(sim.Connect().twoRings);
    }

    void extendedAirGapOnFirmwareFour() {
        WorkflowSim sim("t6-mt19");
        const ConnectResult connected = ConnectEncoder({}, sim.front);
        QVERIFY(sim.front.lines.contains(QLatin1String("Encoder with extended air gap")));
        QVERIFY(EncoderSignature.Asko);
        QCOMPARE(connected.coefficients.K, -361.7);
        QCOMPARE(connected.coefficients.N, 2885.0);
    }
};

QTEST_GUILESS_MAIN(TestWorkflowConnect)
#include "test_workflow_connect.moc"
