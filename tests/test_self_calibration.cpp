// The Self-Calibration tab against simulated encoders: starting a run with
// its arc and time-out, the progress ticks and both end tests, and the
// status panels of both status-register sizes with the extra results.
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

    void startWritesArcAndTimeoutAndSetsTheTicks_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("timeoutWrite");
        QTest::newRow("25 s") << QByteArray("t2-mt17") << "25" << 60 << "25"
                              << QByteArray("W:0001:00000021:00000019");
        QTest::newRow("0 s") << QByteArray("t2-mt17") << "0" << 96 << "40"
                             << QByteArray("W:0001:00000021:00000028");
        QTest::newRow("99 s") << QByteArray("t2-mt17") << "99" << 96 << "40"
                              << QByteArray("W:0001:00000021:00000028");
        QTest::newRow("not a number") << QByteArray("t2-mt17") << "ten" << 24 << "ten"
                                      << QByteArray("W:0001:00000021:0000000A");
        QTest::newRow("no time-out register")
            << QByteArray("t1-st19") << "" << 24 << "" << QByteArray();
    }

    void startWritesArcAndTimeoutAndSetsTheTicks() {
        QFETCH(QByteArray, model);
        QFETCH(QString, timeout);
        QFETCH(QByteArray, timeoutWrite);
        SelfCalWindow w(model.constData());
        w.form.edSelfCalArc->setText("");
        w.form.edSelfCalTimeout->setText(timeout);
        w.form.btnSelfCalStartClick();
        QTEST(w.form.pbSelfCalProgress->maximum(), "ticks");
        QTEST(w.form.edSelfCalTimeout->text(), "shown");
        QList<QByteArray> expected{"W:0002:00000019:00000168"}; // empty arc: 360
        if (!timeoutWrite.isEmpty())
            expected << timeoutWrite;
        expected << "W:0001:00000049:00000041";
        QCOMPARE(w.writes(), expected);
        QVERIFY(w.form.tmrSelfCalWait->isActive());
        QVERIFY(!w.form.EnableConstReading);
        QCOMPARE(w.form.pbSelfCalProgress->value(), 0);
    }

    void numbersOutOfRangeStartNothing_data() {
        QTest::addColumn<QString>("arc");
        QTest::addColumn<QString>("timeout");
        QTest::newRow("arc above 65535") << "65536"
                                         << "10";
        QTest::newRow("negative arc") << "-1"
                                      << "10";
        QTest::newRow("time-out above 255") << "360"
                                            << "256";
    }

    void numbersOutOfRangeStartNothing() {
        QFETCH(QString, arc);
        QFETCH(QString, timeout);
        SelfCalWindow w;
        w.form.edSelfCalArc->setText(arc);
        w.form.edSelfCalTimeout->setText(timeout);
        w.form.EnableConstReading = true;
        w.form.btnSelfCalStartClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        QCOMPARE(w.interaction().messages.size(), 1);
        QVERIFY(w.interaction().messages[0].startsWith("Invalid "));
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

    void aRunEndsByItsEndTest_data() {
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

    void aRunEndsByItsEndTest() {
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
        QTest::newRow("4 bytes, bits 4 and 6")
            << QByteArray("t6-mt19") << QByteArray("0x00000050")
            << QList<QRgb>{Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray, Gray};
        QTest::newRow("4 bytes, bit 4") << QByteArray("t6-mt19") << QByteArray("0x00000031")
                                        << QList<QRgb>{Green, BrightGreen, Gray, Gray, Orange, Gray,
                                                       Gray,  Gray,        Gray, Gray, Gray};
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

    void statusTextOfBothSizes() {
        SelfCalWindow u2;
        u2.sim.Adapter().OverrideReply("R:0001:00000052", "0x9:0x00000021\r");
        u2.form.btnSelfCalReadStatusClick();
        QCOMPARE(u2.status(), QString("Status: 00100001\nEccentricity: 14 um\nEcc phase: 212 deg\n"
                                      "Radial shift: -10 um"));
        SelfCalWindow u4("t6-mt19");
        u4.sim.Adapter().OverrideReply("R:0004:000000C0", "0x9:0x80000021\r");
        u4.form.btnSelfCalReadStatusClick();
        QVERIFY(u4.status().startsWith("Status: 10000000000000000000000000100001\n"));
    }

    void extraResultsForPartLetterW() {
        SelfCalWindow w("t6-mt17-w");
        QVERIFY(w.status().endsWith(
            "Radial shift: -10 um\n----------------------\nAvg h = 402\nEcc shift = 3\n"
            "Ecc phase = 212"));
        w.sim.Adapter().OverrideReply("R:0002:000000CE", "0x9:0x0000FF9C\r");
        w.sim.Adapter().OverrideReply("R:0002:000000D0", "0xe6:\r");
        w.form.btnSelfCalReadStatusClick();
        QVERIFY(w.status().endsWith("Avg h = -100\nEcc shift = 0\nEcc phase = 212"));
        QCOMPARE(w.form.Memo1->toPlainText(),
                 QString("CRC invalid on read\nsCmd: R:0002:000000D0 RCV: 0xe6:"));
    }

    void noExtraResultsForPartLetterH() {
        EncoderProfile profile = *FindEncoderProfile("t6-mt17-w");
        profile.identification[13] = 'H';
        SimulatedWindow w("t6-mt17-w",
                          [&](SimulatedAdapter& adapter) { adapter.SetEncoderProfile(profile); });
        w.PowerAndConnect();
        w.form.Page->setCurrentWidget(w.form.tabSelfCal);
        QVERIFY(w.form.mmSelfCalStatus->toPlainText().endsWith("Radial shift: -10 um"));
        QVERIFY(!w.sim.Adapter().ReceivedCommands().contains("R:0002:000000CE"));
    }
};

QTEST_MAIN(TestSelfCalibration)
#include "test_self_calibration.moc"
