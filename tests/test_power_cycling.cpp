// The power-cycling test as the window runs it: the check box and its timer,
// the delay spin boxes bounding each other, the count running down, the
// "Cikliranje start/stop" lines, the supply left on at start and stop, stops
// by hand and by count, and the jumps of a faulty simulated encoder in the
// memo. The phase lengths, the checks and each phase's traffic are in
// test_workflow_power_cycling.
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

constexpr int LongWaitMs = 60000; // the test ends by count; this only guards a hang

// A window whose positions read in plain counts (1 unit per count), ready to
// run the test by hand: stationary, shortest phases.
struct CyclingWindow : RestingEncoderWindow {
    CyclingWindow() {
        form.seNominator->setValue(1);
        form.seDenominator->setValue(1);
        form.seIzklopDelayMin->setValue(10);
        form.seIzklopDelayMax->setValue(10);
        form.cbCiklirajStacionarno->setChecked(true);
    }
    // Starts the test with `count` cycles and takes over its timer.
    void startByHand(int count) {
        form.seSteviloIzklopov->setValue(count);
        form.cbCiklirajIzklope->setChecked(true);
        form.timerOnOff->stop();
        form.Memo1->clear();
    }
    QStringList jumpLines() const {
        return form.Memo1->toPlainText().split('\n').filter(QStringLiteral("Position jump"));
    }
    bool finished() const { return !form.cbCiklirajIzklope->isChecked(); }
};

} // namespace

class TestPowerCycling : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void countZeroStopsAtTheFirstTick() {
        CyclingWindow w;
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.seSteviloIzklopov->setValue(0);
        w.form.cbCiklirajIzklope->setChecked(true);
        QCOMPARE(w.form.Page->currentWidget(), w.form.tabTest);
        QVERIFY(w.form.timerOnOff->isActive());
        QCOMPARE(w.form.timerOnOff->interval(), 10);
        QVERIFY(!w.form.EnableConstReading);
        QCOMPARE(w.MemoLines().filter("Cikliranje start 0x").size(), 1);
        QVERIFY(w.Sent().contains("V5") && w.Sent().contains("n"));
        QTRY_VERIFY_WITH_TIMEOUT(w.finished(), LongWaitMs);
        QCOMPARE(w.MemoLines().filter("Cikliranje stop").size(), 1);
        QVERIFY(!w.form.timerOnOff->isActive());
        QVERIFY(w.form.EnableConstReading);
        QVERIFY(!w.Sent().contains("f")); // no phase
        QVERIFY(w.sim.Adapter().SupplyOn());
    }

    // The first run after start: the supply is already on, so the first
    // tick's "n" lowers the count without a checked reading.
    void countOneGivesOneSupplyOnTickAndNoCheck() {
        CyclingWindow w;
        w.form.seSteviloIzklopov->setValue(1);
        w.form.cbCiklirajIzklope->setChecked(true);
        w.sim.Adapter().ClearReceivedCommands();
        QTRY_VERIFY_WITH_TIMEOUT(w.finished(), LongWaitMs);
        const QList<QByteArray> sent = w.Sent();
        QCOMPARE(sent.first(), QByteArray("n"));
        QVERIFY(!sent.contains("f"));
        QCOMPARE(sent.count("?07:000"), 0);
        QCOMPARE(w.form.seSteviloIzklopov->value(), 0);
        QVERIFY(w.form.PowerOnStatus);
    }

    // Each step sets the timer to the next phase's length.
    void theTimerTakesThePhaseLength() {
        CyclingWindow w;
        w.form.seIzklopDelayMax->setValue(150);
        w.form.seIzklopDelayMin->setValue(150);
        w.startByHand(5);
        for (int tick = 0; tick < 4; ++tick) {
            w.form.timerOnOffTimer();
            QCOMPARE(w.form.timerOnOff->interval(), 150);
        }
        w.form.cbCiklirajIzklope->setChecked(false);
    }

    void delayBoundsCannotPassEachOther() {
        CyclingWindow w;
        w.form.seIzklopDelayMax->setValue(400);
        w.form.seIzklopDelayMin->setValue(300);
        QCOMPARE(w.form.timerOnOff->interval(), 300);
        w.form.seIzklopDelayMax->setValue(200);
        QCOMPARE(w.form.seIzklopDelayMax->value(), 300);
        w.form.seIzklopDelayMin->setValue(500);
        QCOMPARE(w.form.seIzklopDelayMin->value(), 300);
    }

    // A stop handled while a tick processes events ends the test for good.
    void stopByHandDuringATick() {
        CyclingWindow w;
        w.startByHand(10);
        w.form.timerOnOff->start();
        QTimer::singleShot(0, &w.form, [&] { w.form.cbCiklirajIzklope->setChecked(false); });
        w.form.PowerOnStatus = false;
        w.form.timerOnOffTimer();
        QVERIFY(w.finished());
        QVERIFY(!w.form.timerOnOff->isActive());
        QVERIFY(w.form.EnableConstReading);
        QVERIFY(w.form.PowerOnStatus); // kept: the next run starts from here
        QVERIFY(w.sim.Adapter().SupplyOn());
    }

    // The simulated encoder comes back 10 degrees further at every power-on;
    // two of its three power-ons lie before a checked reading. The lines are
    // in the window's number format.
    void findsTheJumpsOfAFaultyEncoder() {
        CyclingWindow w;
        w.form.FormatSettings = QLocale(QLocale::German, QLocale::Germany);
        w.encoder([](SimulatedEncoder& e) { e.SetPowerOnJump(1, 131072 / 36); });
        w.form.seNominator->setValue(360);
        w.form.seDenominator->setValue(131072);
        w.form.seSteviloIzklopov->setValue(4);
        w.form.cbCiklirajIzklope->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(w.finished(), LongWaitMs);
        QCOMPARE(w.encoder([](SimulatedEncoder& e) { return e.PowerOnJumps(); }), 3);
        const QStringList jumps = w.jumpLines();
        QCOMPARE(jumps.size(), 2);
        QVERIFY2(jumps[0].startsWith(QStringLiteral("Position jump > 2°! (2,7466 -> 12,7441) [2]")),
                 qPrintable(jumps[0]));
        QCOMPARE(w.MemoLines().filter(QStringLiteral("Cikliranje stop")).size(), 1);
        QCOMPARE(w.Sent().count("f"), 3);
    }
};

QTEST_MAIN(TestPowerCycling)
#include "test_power_cycling.moc"
