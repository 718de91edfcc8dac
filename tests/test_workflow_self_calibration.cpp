// The self-calibration workflows against simulated encoders: reading the arc
// and time-out, planning a start from the fields typed, the start with its
// traffic, the end test of each tick for old and new firmware, and the
// status with its panel colours, outcome, text and extra results.
#include "Enkoderji_splosno.h"
#include "Q714_SPI_Dravonel.h"
#include "SelfCalibration.h"
#include "Serial_driver.h"
#include "WorkflowSim.h"

#include <QTest>

using Panels = std::array<std::optional<SelfCalSignal>, SelfCalPanelCount>;
Q_DECLARE_METATYPE(Panels)

namespace {

constexpr auto Gray = SelfCalSignal::Off, Red = SelfCalSignal::Fault,
               BrightGreen = SelfCalSignal::Positive, Orange = SelfCalSignal::Notice,
               Green = SelfCalSignal::Done;
constexpr std::nullopt_t Kept = std::nullopt;

const QByteArray StartCommand = "W:0001:00000049:00000041";

// A connected encoder of `model` whose runs end at once with `outcome`
// (unless the test says otherwise); traffic and log start empty.
struct SelfCalSim : WorkflowSim {
    explicit SelfCalSim(const char* model = "t2-mt17",
                        SelfCalOutcome outcome = SelfCalOutcome::Auto)
        : WorkflowSim(model) {
        encoder([outcome](SimulatedEncoder& e) {
            e.SetSelfCalDurationMs(0);
            e.SetSelfCalOutcome(outcome);
        });
        Connect();
    }
    Commands writes() {
        Commands result;
        for (const QByteArray& command : Sent())
            if (command.startsWith("W:"))
                result << command;
        return result;
    }
    // The read command of the status register, whose size and address the
    // connect has chosen.
    QByteArray statusRead() {
        return "R:" + QByteArray::number(REG_SIZE_DRAVONEL_CAL_STATUS).rightJustified(4, '0') +
               ':' +
               QByteArray::number(REG_ADDR_DRAVONEL_CAL_STATUS, 16)
                   .toUpper()
                   .rightJustified(8, '0');
    }
};

// 0 keeps the encoder's own value.
SelfCalOptions planOf(quint16 arc, quint8 timeout) {
    SelfCalOptions options;
    if (arc > 0)
        options.arcDeg = arc;
    if (timeout > 0)
        options.timeoutS = timeout;
    return options;
}

} // namespace

class TestWorkflowSelfCalibration : public QObject {
    Q_OBJECT

private slots:
    void readingTheSettingsGivesArcAndTimeout() {
        SelfCalSim sim;
        const SelfCalSettings settings = ReadSelfCalSettings(sim.front);
        QCOMPARE(settings.arc, std::optional<quint16>(360));
        QVERIFY(settings.timeoutPresent);
        QCOMPARE(settings.timeout, std::optional<quint8>(10));
        QCOMPARE(sim.Sent(), Commands({"R:0002:00000019", "R:0001:00000021"}));
        QVERIFY(sim.front.lines.isEmpty());
    }

    void withoutTheTimeoutRegisterOnlyTheArcIsRead() {
        SelfCalSim sim("t1-st19");
        const SelfCalSettings settings = ReadSelfCalSettings(sim.front);
        QVERIFY(settings.arc);
        QVERIFY(!settings.timeoutPresent);
        QVERIFY(!settings.timeout);
        QCOMPARE(sim.Sent(), Commands({"R:0002:00000019"}));
    }

    void anUnreadableSettingIsLoggedAndLeftEmpty() {
        SelfCalSim sim;
        sim.encoder([](SimulatedEncoder& e) {
            e.ReadFaults().FailAt(0x19, RegisterFault::ReadCrc);
            e.ReadFaults().FailAt(0x21, RegisterFault::ReadCrc);
        });
        const SelfCalSettings settings = ReadSelfCalSettings(sim.front);
        QVERIFY(!settings.arc);
        QVERIFY(settings.timeoutPresent);
        QVERIFY(!settings.timeout);
        QCOMPARE(sim.front.lines.size(), 2);
        QVERIFY(sim.front.lines[0].startsWith("CRC invalid on read"));
        QVERIFY(sim.front.lines[1].startsWith("CRC invalid on read"));
    }

    void startWritesWhatIsSetThenStarts_data() {
        QTest::addColumn<int>("arc");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<Commands>("writes");
        QTest::newRow("arc and time-out")
            << 360 << 25
            << Commands({"W:0002:00000019:00000168", "W:0001:00000021:00000019", StartCommand});
        QTest::newRow("the encoder's arc")
            << 0 << 40 << Commands({"W:0001:00000021:00000028", StartCommand});
        QTest::newRow("the encoder's time-out")
            << 90 << 0 << Commands({"W:0002:00000019:0000005A", StartCommand});
        QTest::newRow("both the encoder's") << 0 << 0 << Commands({StartCommand});
    }

    void startWritesWhatIsSetThenStarts() {
        QFETCH(int, arc);
        QFETCH(int, timeout);
        SelfCalSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(60000); });
        QVERIFY(Dravonel_ReadSelfCalResults());
        const QString resultsBefore = SelfCalResultsText;
        sim.Forget();
        CommLogEnabled = true;
        SelfCalRun run;
        run.counterAtStart = 3; // set by the start
        QVERIFY(StartSelfCalibration(planOf(arc, timeout), run, sim.front));
        QTEST(sim.writes(), "writes");
        const Commands sent = sim.Sent();
        // The results (with the status) first, the status again before the command.
        QCOMPARE(sent.first(), sim.statusRead());
        QCOMPARE(sent.count(sim.statusRead()), 2);
        QVERIFY(sent.lastIndexOf(sim.statusRead()) < sent.indexOf(StartCommand));
        QCOMPARE(sent.last(), StartCommand);
        QCOMPARE(run.resultsAtStart, resultsBefore.toLatin1());
        QCOMPARE(run.counterAtStart, quint8(0));
        // Each step is marked in the communication log, also one left out.
        qsizetype at = -1;
        for (const char* marker :
             {"Dravonel_ReadSelfCalResults\r\n", "Dravonel_StartSefCal\r\n",
              "REG_ADDR_DRAVONEL_CAL_ANGLE\r\n", "REG_ADDR_DRAVONEL_CAL_TIMEOUT\r\n",
              "REG_ADDR_DRAVONEL_COMMAND\r\n"}) {
            const qsizetype next = CommLogText.indexOf(marker, at + 1);
            QVERIFY2(next > at, marker);
            at = next;
        }
        QVERIFY(sim.encoder([](SimulatedEncoder& e) { return e.SelfCalRunning(); }));
        QVERIFY(sim.front.lines.isEmpty());
    }

    void theStartRecordsTheRunCounter() {
        SelfCalSim sim;
        sim.Script("R:0001:00000052", "0x9:0x00000022\r");
        SelfCalRun run;
        QVERIFY(StartSelfCalibration(planOf(0, 0), run, sim.front));
        QCOMPARE(run.counterAtStart, quint8(2));
        QCOMPARE(SelfCalStartStatusText(), QString("Status: 00100010"));
    }

    void theStartTextShowsTheLowestStatusByte() {
        ResetEncoderProtocolState();
        SelfCalStatus = 0x80000021;
        QCOMPARE(SelfCalStartStatusText(), QString("Status: 00100001"));
        SelfCalStatus = 0;
        QCOMPARE(SelfCalStartStatusText(), QString("Status: 00000000"));
    }

    void aFailedResultsReadStartsNothing() {
        SelfCalSim sim;
        sim.encoder([](SimulatedEncoder& e) {
            e.SetSelfCalDurationMs(60000);
            e.ReadFaults().FailAt(0x52, RegisterFault::ReadCrc);
        });
        SelfCalRun run;
        QVERIFY(!StartSelfCalibration(planOf(360, 25), run, sim.front));
        QVERIFY(sim.writes().isEmpty());
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("CRC invalid on read"));
        QVERIFY(!sim.encoder([](SimulatedEncoder& e) { return e.SelfCalRunning(); }));
    }

    void aRefusedStartIsLoggedAndTheRunGoesOn() {
        SelfCalSim sim;
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x49, RegisterFault::WriteLocked); });
        SelfCalRun run;
        QVERIFY(StartSelfCalibration(planOf(0, 0), run, sim.front));
        QCOMPARE(sim.writes(), Commands{StartCommand});
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("Write access is locked"));
    }

    // Firmware after revision 9356 answers again once the run is over: any
    // good read ends it. Older firmware shows the end only by changed results.
    void aRunEndsByItsEndTest_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<bool>("successful");
        QTest::newRow("old revision, new results")
            << QByteArray("t2-mt17") << int(SelfCalOutcome::Success) << true << true;
        QTest::newRow("old revision, same results")
            << QByteArray("t2-mt17") << int(SelfCalOutcome::Timeout) << false << false;
        QTest::newRow("new revision, same results")
            << QByteArray("t6-mt19") << int(SelfCalOutcome::Timeout) << true << false;
        QTest::newRow("4-byte status, old revision")
            << QByteArray("t6-mt17-w") << int(SelfCalOutcome::Success) << true << true;
    }

    void aRunEndsByItsEndTest() {
        QFETCH(QByteArray, model);
        QFETCH(int, outcome);
        SelfCalSim sim(model.constData(), SelfCalOutcome(outcome));
        SelfCalRun run;
        QVERIFY(StartSelfCalibration(planOf(0, 0), run, sim.front));
        QTEST(SelfCalibrationHasEnded(run), "ended");
        const SelfCalReport report = ReadSelfCalibrationStatus(run.counterAtStart, sim.front);
        QVERIFY(report.read);
        QVERIFY(report.finished);
        QTEST(report.successful, "successful");
        QTEST(report.panels[PanelSuccessful] == BrightGreen, "successful");
        QCOMPARE(report.panels[PanelFinished], std::optional(Green));
        QCOMPARE(report.panels[PanelTimeout], std::optional(report.successful ? Gray : Red));
    }

    void aSilentEncoderHasNotEnded() {
        SelfCalSim sim("t6-mt19");
        sim.encoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(60000); });
        SelfCalRun run;
        QVERIFY(StartSelfCalibration(planOf(0, 0), run, sim.front));
        QVERIFY(!SelfCalibrationHasEnded(run)); // it answers nothing while it calibrates
    }

    void statusPanels_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Panels>("panels");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<bool>("successful");
        // In the order of SelfCalPanel: arc out of range, finished, out of
        // range, time-out, successful, no correction, user map, encoder
        // error, numerical, radial, write error.
        QTest::newRow("1 byte, good")
            << QByteArray("t2-mt17") << QByteArray("0x000000A1")
            << Panels{Gray, Green, Gray, Gray, BrightGreen, Orange, Gray, Kept, Kept, Kept, Kept}
            << true << true;
        QTest::newRow("1 byte, failed")
            << QByteArray("t2-mt17") << QByteArray("0x0000005E")
            << Panels{Red, Green, Red, Red, Gray, Gray, BrightGreen, Kept, Kept, Kept, Kept} << true
            << false;
        QTest::newRow("4 bytes, bits 4 and 6")
            << QByteArray("t6-mt19") << QByteArray("0x00000050")
            << Panels{Kept, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray} << false
            << false;
        QTest::newRow("4 bytes, bit 4")
            << QByteArray("t6-mt19") << QByteArray("0x00000031")
            << Panels{Kept, Green, Gray, Gray, BrightGreen, Orange, Gray, Gray, Gray, Gray, Gray}
            << true << true;
        QTest::newRow("4 bytes, errors")
            << QByteArray("t6-mt19") << QByteArray("0x0030B341")
            << Panels{Kept, Green, Red, Red, Gray, Gray, BrightGreen, Red, Red, Red, Red} << true
            << false;
    }

    void statusPanels() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, reply);
        QFETCH(Panels, panels);
        SelfCalSim sim(model.constData());
        sim.Script(sim.statusRead(), "0x9:" + reply + "\r");
        const SelfCalReport report = ReadSelfCalibrationStatus(0, sim.front);
        QVERIFY(report.read);
        for (int panel = 0; panel < SelfCalPanelCount; ++panel)
            QVERIFY2(report.panels[panel] == panels[panel], qPrintable(QString::number(panel)));
        QTEST(report.finished, "finished");
        QTEST(report.successful, "successful");
        QVERIFY(sim.front.lines.isEmpty());
    }

    // Bits 0 and 1 count finished runs: a run has finished when they differ
    // from the start's; an encoder in error has not succeeded.
    void successNeedsAFinishedRunAndNoErrorBit() {
        SelfCalSim sim;
        sim.Script("R:0001:00000052", "0x9:0x00000021\r");
        SelfCalReport report = ReadSelfCalibrationStatus(1, sim.front);
        QVERIFY(!report.finished && !report.successful);
        QCOMPARE(report.panels[PanelFinished], std::optional(Gray));
        QCOMPARE(report.panels[PanelSuccessful], std::optional(Gray));

        report = ReadSelfCalibrationStatus(2, sim.front);
        QVERIFY(report.finished && report.successful);

        EncoderPosition.ErrBit = true;
        report = ReadSelfCalibrationStatus(2, sim.front);
        QVERIFY(report.finished && !report.successful);
        QCOMPARE(report.panels[PanelSuccessful], std::optional(Gray));
    }

    void statusTextOfBothSizes() {
        SelfCalSim u2;
        u2.Script("R:0001:00000052", "0x9:0x00000021\r");
        QCOMPARE(SelfCalReportText(ReadSelfCalibrationStatus(0, u2.front)),
                 QString("Status: 00100001\nEccentricity: 14 um\nEcc phase: 212 deg\n"
                         "Radial shift: -10 um"));
        SelfCalSim u4("t6-mt19");
        u4.Script("R:0004:000000C0", "0x9:0x80000021\r");
        QVERIFY(SelfCalReportText(ReadSelfCalibrationStatus(0, u4.front))
                    .startsWith("Status: 10000000000000000000000000100001\n"));
    }

    void aFailedStatusReadChangesNothing() {
        SelfCalSim sim;
        sim.encoder(
            [](SimulatedEncoder& e) { e.ReadFaults().FailAt(0x52, RegisterFault::ReadCrc); });
        const SelfCalReport report = ReadSelfCalibrationStatus(0, sim.front);
        QVERIFY(!report.read);
        QVERIFY(report.results.isEmpty() && !report.extra);
        for (const std::optional<SelfCalSignal>& panel : report.panels)
            QVERIFY(!panel);
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("CRC invalid on read"));
    }

    void extraResultsForPartLetterW() {
        SelfCalSim sim("t6-mt17-w");
        QVERIFY(SelfCalReportText(ReadSelfCalibrationStatus(0, sim.front))
                    .endsWith("Radial shift: -10 um\n----------------------\nAvg h = 402\n"
                              "Ecc shift = 3\nEcc phase = 212"));
        QVERIFY(sim.Sent().contains("R:0002:000000CE"));
        QVERIFY(sim.front.lines.isEmpty());

        // A signed height; a failed read is logged and shown as 0.
        sim.Script("R:0002:000000CE", "0x9:0x0000FF9C\r");
        sim.Script("R:0002:000000D0", "0xe6:\r");
        QVERIFY(SelfCalReportText(ReadSelfCalibrationStatus(0, sim.front))
                    .endsWith("Avg h = -100\nEcc shift = 0\nEcc phase = 212"));
        QCOMPARE(sim.front.LogLines(),
                 QStringList({"CRC invalid on read", "sCmd: R:0002:000000D0 RCV: 0xe6:"}));
    }

    void noExtraResultsForPartLetterH() {
        EncoderProfile profile = *FindEncoderProfile("t6-mt17-w");
        profile.identification[13] = 'H';
        WorkflowSim sim("t6-mt17-w");
        sim.Adapter().SetEncoderProfile(profile);
        sim.Adapter().SetSupplyOn(true);
        QVERIFY(sim.Connect().identified);
        QVERIFY(SelfCalReportText(ReadSelfCalibrationStatus(0, sim.front))
                    .endsWith("Radial shift: -10 um"));
        QVERIFY(!sim.Sent().contains("R:0002:000000CE"));
    }
};

QTEST_GUILESS_MAIN(TestWorkflowSelfCalibration)
#include "test_workflow_self_calibration.moc"
