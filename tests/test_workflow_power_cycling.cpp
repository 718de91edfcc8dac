// The power-cycling test without the window: the phase lengths, the checks
// of a resting and of a turning shaft with their log lines in the number
// format given, the supply traffic of each phase step, and the jumps a
// faulty simulated encoder makes at power-on.
#include "NumberFormat.h"
#include "PowerCycling.h"
#include "Reading.h"
#include "WorkflowSim.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

namespace {

const NumberFormat English{QLocale(QLocale::English, QLocale::UnitedStates), QChar()};
const NumberFormat German{QLocale(QLocale::German, QLocale::Germany), QChar()};

constexpr double DegreesPerCount = 360.0 / 131072;

// A state whose previous check was at `previous`; turning runs have their
// direction already when `direction` is not 0.
PowerCyclingState checkedAt(double previous, double direction = 0) {
    PowerCyclingState state;
    BeginPowerCycling(state, previous);
    if (direction != 0) {
        state.CikliranjeSmer = direction;
        state.CikliranjeSmerInit = false;
    }
    return state;
}

} // namespace

class TestWorkflowPowerCycling : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    // Uniform over [smaller, larger - 1], whichever bound comes first;
    // exactly the value when both are equal.
    void phaseLengths_data() {
        QTest::addColumn<int>("delayA");
        QTest::addColumn<int>("delayB");
        QTest::addColumn<QSet<int>>("lengths");
        QTest::newRow("equal") << 150 << 150 << QSet<int>{150};
        QTest::newRow("smaller first") << 10 << 12 << QSet<int>{10, 11};
        QTest::newRow("larger first") << 12 << 10 << QSet<int>{10, 11};
        QTest::newRow("one apart") << 40 << 41 << QSet<int>{40};
    }

    void phaseLengths() {
        QFETCH(int, delayA);
        QFETCH(int, delayB);
        QRandomGenerator random(7);
        QSet<int> seen;
        for (int draw = 0; draw < 200; ++draw)
            seen.insert(PowerCyclePhaseMs(delayA, delayB, random));
        QTEST(seen, "lengths");
    }

    // The limit is strict: exactly 2 units is no jump.
    void stationaryChecks_data() {
        QTest::addColumn<double>("position");
        QTest::addColumn<QStringList>("jumps");
        QTest::newRow("2 up") << 12.0 << QStringList();
        QTest::newRow("2 down") << 8.0 << QStringList();
        QTest::newRow("over 2 up")
            << 12.0001 << QStringList("Position jump > 2°! (10.0000 -> 12.0001) [4998]");
        QTest::newRow("over 2 down")
            << 7.9999 << QStringList("Position jump < 2°! (10.0000 -> 7.9999) [4998]");
    }

    void stationaryChecks() {
        QFETCH(double, position);
        PowerCyclingState state = checkedAt(10);
        QTEST(CheckPowerCycleReading(state, position, true, 4998, English), "jumps");
        QCOMPARE(state.EncPosDegOldMTtest, position);
    }

    // The first check takes the direction from the start position.
    void turningChecksBackwards() {
        PowerCyclingState state = checkedAt(100);
        QVERIFY(state.CikliranjeSmerInit);
        QCOMPARE(CheckPowerCycleReading(state, 90, false, 20, English), QStringList());
        QCOMPARE(state.CikliranjeSmer, -1.0);
        QVERIFY(!state.CikliranjeSmerInit);
        QCOMPARE(state.EncPosDegOldMTtest, 90.0);

        state.EncPosDegOldMTtest = 100;
        QCOMPARE(CheckPowerCycleReading(state, 20, false, 20, English),
                 QStringList("Position jump > 70°! (100.0000 -> 20.0000) [20]"));
        state.EncPosDegOldMTtest = 100;
        QCOMPARE(CheckPowerCycleReading(state, 101, false, 20, English),
                 QStringList("Position jump reverse! (100.0000 -> 101.0000) [20]"));
        QCOMPARE(state.CikliranjeSmer, -1.0); // taken once per run
    }

    void turningChecksForwards() {
        PowerCyclingState state = checkedAt(100);
        QCOMPARE(CheckPowerCycleReading(state, 150, false, 3, English), QStringList());
        QCOMPARE(state.CikliranjeSmer, 1.0);
        QCOMPARE(CheckPowerCycleReading(state, 220, false, 3, English),
                 QStringList()); // exactly 70
        QCOMPARE(CheckPowerCycleReading(state, 291, false, 3, English),
                 QStringList("Position jump > 70°! (220.0000 -> 291.0000) [3]"));
        QCOMPARE(CheckPowerCycleReading(state, 290.5, false, 3, English),
                 QStringList("Position jump reverse! (291.0000 -> 290.5000) [3]"));
    }

    // A new run takes its direction anew.
    void eachRunTakesItsOwnDirection() {
        PowerCyclingState state = checkedAt(100, -1);
        BeginPowerCycling(state, 0);
        QVERIFY(state.CikliranjeSmerInit);
        QCOMPARE(state.EncPosDegOldMTtest, 0.0);
        QCOMPARE(CheckPowerCycleReading(state, 50, false, 1, English), QStringList());
        QCOMPARE(state.CikliranjeSmer, 1.0);
    }

    // Thousands grouped and four decimals, in the separators of the format.
    void jumpLinesUseTheNumberFormat_data() {
        QTest::addColumn<bool>("german");
        QTest::addColumn<double>("previous");
        QTest::addColumn<double>("position");
        QTest::addColumn<QString>("jump");
        QTest::newRow("English") << false << 1000.0 << 1234.5
                                 << QString("Position jump > 2°! (1,000.0000 -> 1,234.5000) [7]");
        QTest::newRow("German") << true << 1000.0 << 1234.5
                                << QString("Position jump > 2°! (1.000,0000 -> 1.234,5000) [7]");
        QTest::newRow("German, negative")
            << true << -1000.0 << -1234.5
            << QString("Position jump < 2°! (-1.000,0000 -> -1.234,5000) [7]");
        QTest::newRow("English, millions")
            << false << 0.0 << 1234567.25
            << QString("Position jump > 2°! (0.0000 -> 1,234,567.2500) [7]");
    }

    void jumpLinesUseTheNumberFormat() {
        QFETCH(bool, german);
        QFETCH(double, previous);
        QFETCH(double, position);
        QFETCH(QString, jump);
        PowerCyclingState state = checkedAt(previous);
        QCOMPARE(CheckPowerCycleReading(state, position, true, 7, german ? German : English),
                 QStringList(jump));
    }

    // At the end of an on-phase: a reading, its check logged, then "f".
    void anOnPhaseEndsWithACheckedReadingAndSwitchesOff() {
        WorkflowSim sim;
        sim.encoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(0, 1000);
        });
        sim.Connect();
        PowerCyclingState state = checkedAt(10);
        state.PowerOnStatus = true;
        int readings = 0;
        bool switchedOffBeforeTheReading = false;
        PowerCycleHooks hooks;
        hooks.takeReading = [&] {
            ++readings;
            switchedOffBeforeTheReading = sim.Sent().contains("f");
            TakeReading({}, sim.front);
        };
        hooks.position = [] { return double(EncoderPosition.MTST_value); };
        hooks.cyclesLeft = [] { return qint64(3); };
        const PowerCycleStep step = PowerCyclePhase(state, true, English, sim.front, hooks);
        QVERIFY(!step.switchedOn);
        QCOMPARE(readings, 1);
        QVERIFY(!switchedOffBeforeTheReading);
        QCOMPARE(sim.front.lines, QStringList("Position jump > 2°! (10.0000 -> 1,000.0000) [3]"));
        QCOMPARE(step.jumps, sim.front.lines);
        QCOMPARE(sim.Sent().last(), QByteArray("f"));
        QCOMPARE(sim.Sent().count("f"), 1);
        QVERIFY(!sim.Sent().contains("n"));
        QVERIFY(!state.PowerOnStatus);
        QCOMPARE(state.EncPosDegOldMTtest, 1000.0);
        QVERIFY(!sim.Adapter().SupplyOn());
    }

    // At the end of an off-phase: "n" only, and a cycle is done.
    void anOffPhaseSwitchesOnWithoutAReading() {
        WorkflowSim sim;
        sim.Adapter().SetSupplyOn(false);
        PowerCyclingState state = checkedAt(10);
        bool hooked = false;
        PowerCycleHooks hooks;
        hooks.takeReading = [&] { hooked = true; };
        hooks.position = [&] {
            hooked = true;
            return 0.0;
        };
        hooks.cyclesLeft = [&] {
            hooked = true;
            return qint64(0);
        };
        QVERIFY(PowerCyclePhase(state, true, English, sim.front, hooks).switchedOn);
        QCOMPARE(sim.Sent(), Commands{"n"});
        QVERIFY(!hooked);
        QVERIFY(state.PowerOnStatus);
        QVERIFY(sim.Adapter().SupplyOn());
        QVERIFY(sim.front.lines.isEmpty());
    }

    // The replies of the supply commands are not examined: a refusal
    // neither stops the test nor shows.
    void supplyRepliesAreNotExamined() {
        WorkflowSim sim;
        sim.Script("f", "ERROR\r");
        sim.Script("n", "ERROR\r");
        PowerCyclingState state = checkedAt(10);
        PowerCycleHooks hooks;
        hooks.takeReading = [] {};
        hooks.position = [] { return 10.0; };
        hooks.cyclesLeft = [] { return qint64(1); };
        state.PowerOnStatus = true;
        QVERIFY(!PowerCyclePhase(state, true, English, sim.front, hooks).switchedOn);
        QVERIFY(!state.PowerOnStatus);
        QVERIFY(PowerCyclePhase(state, true, English, sim.front, hooks).switchedOn);
        QVERIFY(state.PowerOnStatus);
        QCOMPARE(sim.Sent(), (Commands{"f", "n"}));
        QVERIFY(sim.front.lines.isEmpty());
        QVERIFY(sim.front.alerts.isEmpty());
    }

    // The simulated encoder comes back 10 degrees further at every power-on:
    // each check after one logs the jump.
    void findsTheJumpsOfAFaultyEncoder() {
        WorkflowSim sim;
        sim.encoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(0, 1000);
            e.SetPowerOnJump(1, 131072 / 36);
        });
        sim.Connect();
        double position = 0;
        int cyclesLeft = 3;
        PowerCycleHooks hooks;
        hooks.takeReading = [&] {
            const Reading reading = TakeReading({}, sim.front);
            if (reading.positionRead)
                position = double(reading.frameMTST) * DegreesPerCount;
        };
        hooks.position = [&] { return position; };
        hooks.cyclesLeft = [&] { return qint64(cyclesLeft); };
        hooks.takeReading();
        PowerCyclingState state;
        BeginPowerCycling(state, position);
        state.PowerOnStatus = true; // the supply is on: the first step checks
        while (cyclesLeft > 0) {
            if (PowerCyclePhase(state, true, English, sim.front, hooks).switchedOn)
                --cyclesLeft;
        }
        PowerCyclePhase(state, true, English, sim.front, hooks); // the last check
        QCOMPARE(sim.encoder([](SimulatedEncoder& e) { return e.PowerOnJumps(); }), 3);
        QCOMPARE(sim.Sent().count("f"), 4);
        QCOMPARE(sim.front.lines.size(), 3);
        QCOMPARE(sim.front.lines[0], QStringLiteral("Position jump > 2°! (2.7466 -> 12.7441) [2]"));
        QCOMPARE(sim.front.lines[2],
                 QStringLiteral("Position jump > 2°! (22.7417 -> 32.7393) [0]"));
    }
};

QTEST_GUILESS_MAIN(TestWorkflowPowerCycling)
#include "test_workflow_power_cycling.moc"
