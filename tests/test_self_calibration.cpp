// The Self-Calibration tab as the window shows it: the edits the tab change
// fills or disables, the progress bar and timer of a run, the buttons and the
// tab refresh held back while it runs, and the status panels and text. The
// workflows' traffic, planning, end tests and panel colours are in
// test_workflow_self_calibration.
#include "Q714_SPI_Dravonel.h"
#include "SimulatedWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>

namespace {

constexpr QRgb Gray = 0x808080, Red = 0xFF0000, BrightGreen = 0x00FF00, Orange = 0xFFAA00,
               Green = 0x008000;

QRgb colourOf(QWidget* panel) {
    return panel->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}

// A connected window showing the Self-Calibration tab; runs end at once
// unless the test says otherwise.
struct SelfCalWindow : SimulatedWindow {
    explicit SelfCalWindow(const char* model = "t2-mt17",
                           SelfCalOutcome outcome = SelfCalOutcome::Auto)
        : SimulatedWindow(model, [outcome](SimulatedAdapter& adapter) {
              adapter.WithEncoder([outcome](SimulatedEncoder& e) {
                  e.SetSelfCalDurationMs(0);
                  e.SetSelfCalOutcome(outcome);
              });
          }) {
        PowerAndConnect();
        form.Page->setCurrentWidget(form.tabSelfCal);
        form.Memo1->clear();
        sim.Adapter().ClearReceivedCommands();
    }
    // Ticks until the run has ended; the number of ticks taken.
    int ticksToEnd() {
        int ticks = 0;
        while (form.tmrSelfCalWait->isActive() && ticks < 200) {
            form.tmrSelfCalWaitTimer();
            ++ticks;
        }
        return ticks;
    }
    QList<QByteArray> writes() {
        QList<QByteArray> result;
        for (const QByteArray& command : sim.Adapter().ReceivedCommands())
            if (command.startsWith("W:"))
                result << command;
        return result;
    }
    QString status() const { return form.mmSelfCalStatus->toPlainText(); }
};

} // namespace

class TestSelfCalibration : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void showingTheTabReadsArcTimeoutAndStatus() {
        SelfCalWindow w;
        QCOMPARE(w.form.edSelfCalArc->text(), QString("360"));
        QCOMPARE(w.form.edSelfCalTimeout->text(), QString("10"));
        QVERIFY(w.status().startsWith("Status: 00000000\nEccentricity: 14 um\n"));
        QCOMPARE(colourOf(w.form.pnlAselfCalFinished), Gray); // compared with 0 before any start
    }

    void anUnreadableArcDisablesItsEdit() {
        SelfCalWindow w;
        w.encoder([](SimulatedEncoder& e) { e.ReadFaults().FailAt(0x19, RegisterFault::ReadCrc); });
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.Page->setCurrentWidget(w.form.tabSelfCal);
        QVERIFY(!w.form.edSelfCalArc->isEnabled());
        QVERIFY(w.form.Memo1->toPlainText().startsWith("CRC invalid on read"));
        QVERIFY(w.status().startsWith("Status: ")); // Read status still ran
        w.form.btnSelfCalStartClick();              // the encoder's own arc is kept
        QVERIFY(!w.writes().join().contains("00000019:"));
    }

    void anUnreadableTimeoutShowsZeroAndDisablesItsEdit() {
        SelfCalWindow w;
        w.encoder([](SimulatedEncoder& e) { e.ReadFaults().FailAt(0x21, RegisterFault::ReadCrc); });
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.Page->setCurrentWidget(w.form.tabSelfCal);
        QCOMPARE(w.form.edSelfCalTimeout->text(), QString("0"));
        QVERIFY(!w.form.edSelfCalTimeout->isEnabled());
        QVERIFY(w.form.edSelfCalArc->isEnabled());
    }

    void startSetsTheProgressBarAndTheTimeoutEdit_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("25 s") << QByteArray("t2-mt17") << "25" << 60 << "25";
        QTest::newRow("0 s") << QByteArray("t2-mt17") << "0" << 96 << "40";
        QTest::newRow("99 s") << QByteArray("t2-mt17") << "99" << 96 << "40";
        QTest::newRow("not a number") << QByteArray("t2-mt17") << "ten" << 24 << "ten";
        QTest::newRow("no time-out register") << QByteArray("t1-st19") << "" << 24 << "";
    }

    void startSetsTheProgressBarAndTheTimeoutEdit() {
        QFETCH(QByteArray, model);
        QFETCH(QString, timeout);
        SelfCalWindow w(model.constData());
        w.form.edSelfCalArc->setText("");
        w.form.edSelfCalTimeout->setText(timeout);
        w.form.btnSelfCalStartClick();
        QTEST(w.form.pbSelfCalProgress->maximum(), "ticks");
        QTEST(w.form.edSelfCalTimeout->text(), "shown");
        QVERIFY(w.writes().contains("W:0001:00000049:00000041")); // started
        QCOMPARE(w.status(), QString("Status: 00000000"));
        QVERIFY(w.form.tmrSelfCalWait->isActive());
        QVERIFY(!w.form.EnableConstReading);
        QCOMPARE(w.form.pbSelfCalProgress->value(), 0);
    }

    void aNumberOutOfRangeIsShownInABoxAndStartsNothing() {
        SelfCalWindow w;
        w.form.edSelfCalArc->setText("65536");
        w.form.EnableConstReading = true;
        w.form.btnSelfCalStartClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        QCOMPARE(
            w.interaction().messages,
            QStringList{"Invalid partial arc \"65536\": enter a whole number from 0 to 65535."});
        QVERIFY(!w.form.tmrSelfCalWait->isActive());
        QVERIFY(w.form.EnableConstReading);
    }

    // The encoder answers nothing while it calibrates: a second start or a
    // status read would only get "no response"; both wait for the end.
    void startAndReadStatusWaitForTheRunToEnd() {
        SelfCalWindow w("t2-mt17", SelfCalOutcome::Timeout);
        w.form.btnSelfCalStartClick();
        QVERIFY(w.form.tmrSelfCalWait->isActive());
        QVERIFY(!w.form.btnSelfCalStart->isEnabled());
        QVERIFY(!w.form.btnSelfCalReadStatus->isEnabled());
        w.sim.Adapter().ClearReceivedCommands();
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.Page->setCurrentWidget(w.form.tabSelfCal); // no refresh meanwhile
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        w.ticksToEnd();
        QVERIFY(w.form.btnSelfCalStart->isEnabled());
        QVERIFY(w.form.btnSelfCalReadStatus->isEnabled());
    }

    void aRunEndsThroughTheTimerTicks_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<bool>("successful");
        QTest::newRow("old revision, new results")
            << QByteArray("t2-mt17") << int(SelfCalOutcome::Success) << 1 << true;
        QTest::newRow("old revision, same results")
            << QByteArray("t2-mt17") << int(SelfCalOutcome::Timeout) << 24 << false;
        QTest::newRow("new revision, same results")
            << QByteArray("t6-mt19") << int(SelfCalOutcome::Timeout) << 1 << false;
        QTest::newRow("4-byte status, old revision")
            << QByteArray("t6-mt17-w") << int(SelfCalOutcome::Success) << 1 << true;
    }

    void aRunEndsThroughTheTimerTicks() {
        QFETCH(QByteArray, model);
        QFETCH(int, outcome);
        QFETCH(bool, successful);
        SelfCalWindow w(model.constData(), SelfCalOutcome(outcome));
        w.form.btnSelfCalStartClick();
        QTEST(w.ticksToEnd(), "ticks");
        QVERIFY(w.form.EnableConstReading);
        QCOMPARE(colourOf(w.form.pnlAselfCalFinished), Green);
        QCOMPARE(colourOf(w.form.pnlAselfCalSucessfull), successful ? BrightGreen : Gray);
        QCOMPARE(colourOf(w.form.pnlAselfCalTimeout), successful ? Gray : Red);
        QCOMPARE(w.form.pbSelfCalProgress->value(),
                 successful ? w.form.pbSelfCalProgress->maximum() : 0);
    }

    // Together the rows light every panel in each of its colours.
    void statusPanels_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QList<QRgb>>("colours"); // in the order of the panels below
        // finished, successful, timeout, out of range, no correction, user map,
        // encoder error, numerical, radial, write error, arc out of range
        QTest::newRow("1 byte, good") << QByteArray("t2-mt17") << QByteArray("0x000000A1")
                                      << QList<QRgb>{Green, BrightGreen, Gray, Gray, Orange, Gray,
                                                     Gray,  Gray,        Gray, Gray, Gray};
        QTest::newRow("1 byte, failed")
            << QByteArray("t2-mt17") << QByteArray("0x0000005E")
            << QList<QRgb>{Green, Gray, Red, Red, Gray, BrightGreen, Gray, Gray, Gray, Gray, Red};
        QTest::newRow("4 bytes, errors")
            << QByteArray("t6-mt19") << QByteArray("0x0030B341")
            << QList<QRgb>{Green, Gray, Red, Red, Gray, BrightGreen, Red, Red, Red, Red, Gray};
    }

    void statusPanels() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, reply);
        QFETCH(QList<QRgb>, colours);
        SelfCalWindow w(model.constData());
        const QByteArray read = model == "t6-mt19" ? "R:0004:000000C0" : "R:0001:00000052";
        w.sim.Adapter().OverrideReply(read, "0x9:" + reply + "\r");
        w.form.btnSelfCalReadStatusClick();
        const TMainForm& f = w.form;
        const QList<QLabel*> panels{
            f.pnlAselfCalFinished,     f.pnlAselfCalSucessfull,     f.pnlAselfCalTimeout,
            f.pnlAselfCalOutOfRange,   f.pnlAselfCalNoCorrection,   f.pnlASelfCalUserErrMap,
            f.pnlASelfCalEncoderError, f.pnlASelfCalNumericalErr,   f.pnlASelfCalRadialDisp,
            f.pnlASelfCalWriteErr,     f.pnlAselfCalParamOutOfRange};
        for (int i = 0; i < panels.size(); ++i)
            QVERIFY2(colourOf(panels[i]) == colours[i], qPrintable(panels[i]->objectName()));
    }

    void theStatusTextIsShown() {
        SelfCalWindow w;
        w.sim.Adapter().OverrideReply("R:0001:00000052", "0x9:0x00000021\r");
        w.form.btnSelfCalReadStatusClick();
        QCOMPARE(w.status(), QString("Status: 00100001\nEccentricity: 14 um\nEcc phase: 212 deg\n"
                                     "Radial shift: -10 um"));
    }
};

QTEST_MAIN(TestSelfCalibration)
#include "test_self_calibration.moc"
