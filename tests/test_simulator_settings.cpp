// What the simulated encoder does with its settings and the faults it can
// be given: the position filter and the multi-turn error arc, forced
// self-calibration outcomes, read faults, and the q714-sim options for them.
#include "SimulatedAdapter.h"
#include "SimulatedSelfCalibration.h"

#include <QProcess>
#include <QtTest>
#include <algorithm>

namespace {

QByteArray ask(SimulatedAdapter& adapter, const QByteArray& command) {
    return adapter.Reply(command).chopped(1);
}

// The spread of the single-turn readings of a standing shaft.
quint32 readingSpread(SimulatedAdapter& adapter) {
    return adapter.WithEncoder([](SimulatedEncoder& e) {
        quint32 lowest = UINT_MAX, highest = 0;
        for (int i = 0; i < 400; ++i) {
            const quint32 st = e.ReadPosition().singleturn;
            lowest = std::min(lowest, st);
            highest = std::max(highest, st);
        }
        return highest - lowest;
    });
}

void powerCycle(SimulatedAdapter& adapter) {
    ask(adapter, "f");
    ask(adapter, "n");
}

} // namespace

class TestSimulatorSettings : public QObject {
    Q_OBJECT

private slots:
    void filterCalmsTheNoiseFromTheNextPowerOnWhenSaved() {
        SimulatedAdapter adapter("t2-mt17");
        ask(adapter, "n");
        adapter.WithEncoder([](SimulatedEncoder& e) {
            e.SetPosition(0, 5000);
            e.SetNoiseCounts(40);
        });
        QVERIFY(readingSpread(adapter) > 40);
        QCOMPARE(ask(adapter, "W:0004:00000004:00000010"), QByteArray("0x9:")); // 16
        QVERIFY(readingSpread(adapter) > 40);                                   // not yet
        powerCycle(adapter);
        QVERIFY(readingSpread(adapter) > 40); // not saved: lost
        ask(adapter, "W:0004:00000004:00000010");
        ask(adapter, "W:0001:00000049:00000063");
        powerCycle(adapter);
        QVERIFY(readingSpread(adapter) <= 20); // a quarter of the noise
    }

    void aNarrowMultiturnArcReportsAnError() {
        SimulatedAdapter adapter("t6-mt19");
        ask(adapter, "n");
        QCOMPARE(ask(adapter, "W:0001:00000098:0000000B"), QByteArray("0x9:")); // 11 degrees
        PositionReading reading =
            adapter.WithEncoder([](SimulatedEncoder& e) { return e.ReadPosition(); });
        QVERIFY(reading.error);
        QVERIFY(reading.status & (1u << 9)); // "Error Multiturn"
        ask(adapter, "W:0001:00000098:0000000C");
        reading = adapter.WithEncoder([](SimulatedEncoder& e) { return e.ReadPosition(); });
        QVERIFY(!reading.error);

        SimulatedAdapter single("t2-st22"); // no turns, no multi-turn error
        ask(single, "n");
        ask(single, "W:0001:00000018:00000001");
        QVERIFY(!single.WithEncoder([](SimulatedEncoder& e) { return e.ReadPosition(); }).error);
    }

    void forcedSelfCalOutcomes_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("statusSize");
        QTest::addColumn<quint32>("bits");
        QTest::addColumn<bool>("newResults");
        using O = SelfCalOutcome;
        QTest::newRow("U2 no correction") << int(O::NoCorrection) << 1 << 0x20u << true;
        QTest::newRow("U4 no correction") << int(O::NoCorrection) << 4 << 0x30u << true;
        QTest::newRow("U2 time-out") << int(O::Timeout) << 1 << 0x04u << false;
        QTest::newRow("U4 time-out") << int(O::Timeout) << 4 << 0x140u << false;
        QTest::newRow("U4 encoder error") << int(O::EncoderError) << 4 << 0x240u << false;
        QTest::newRow("U4 arc") << int(O::ArcOutOfRange) << 4 << 0x2040u << false;
    }

    void forcedSelfCalOutcomes() {
        QFETCH(int, outcome);
        QFETCH(int, statusSize);
        QFETCH(bool, newResults);
        SelfCalibration run(statusSize);
        run.SetDurationMs(0);
        run.ForceOutcome(SelfCalOutcome(outcome));
        const quint16 before = run.Results().eccentricity;
        for (quint32 counter = 1; counter <= 4; ++counter) {
            run.Start(360, 10, false);
            QVERIFY(!run.Busy());
            QCOMPARE(run.Status() & 3, counter & 3); // the run counter wraps
        }
        QTEST(run.Status() & ~3u, "bits");
        QCOMPARE(run.Results().eccentricity != before, newResults);
    }

    void readFaults() {
        SimulatedAdapter adapter("t2-mt17");
        ask(adapter, "n");
        adapter.WithEncoder([](SimulatedEncoder& e) {
            e.ReadFaults().FailAfter(2, RegisterFault::NoResponse, 2);
            e.ReadFaults().FailAt(0x1802, RegisterFault::InvalidAddress);
        });
        QVERIFY(ask(adapter, "R:0002:00001800").startsWith("0x9:"));
        QCOMPARE(ask(adapter, "R:0002:00001802"), QByteArray("0x26:"));
        QVERIFY(ask(adapter, "R:0002:00001804").startsWith("ERROR: no response"));
        QVERIFY(ask(adapter, "R:0002:00001806").startsWith("ERROR: no response"));
        QVERIFY(ask(adapter, "R:0002:00001808").startsWith("0x9:"));
        QCOMPARE(ask(adapter, "W:0004:00000000:00000001"), QByteArray("0x9:")); // writes go ahead
        adapter.WithEncoder([](SimulatedEncoder& e) { e.ClearRegisterFaults(); });
        QVERIFY(ask(adapter, "R:0002:00001802").startsWith("0x9:"));
    }

    void commandLineOptions() {
        const QString program = QStringLiteral(Q714_SIM_PATH);
        QProcess help;
        help.start(program, {"--help"});
        QVERIFY(help.waitForFinished(30000));
        const QByteArray text = help.readAllStandardOutput();
        for (const char* option : {"--selfcal-outcome", "--fail-read-at", "--fail-read-after",
                                   "--failing-reads", "--read-fault"})
            QVERIFY2(text.contains(option), option);

        QProcess wrong;
        wrong.start(program, {"--no-announce", "--selfcal-outcome", "perfect"});
        QVERIFY(wrong.waitForFinished(30000));
        QCOMPARE(wrong.exitCode(), 2);
        QVERIFY(wrong.readAllStandardOutput().contains("--selfcal-outcome is auto"));
        wrong.start(program, {"--no-announce", "--fail-read-at", "xyz"});
        QVERIFY(wrong.waitForFinished(30000));
        QCOMPARE(wrong.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSimulatorSettings)
#include "test_simulator_settings.moc"
