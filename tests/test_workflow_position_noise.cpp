// The position-noise measurement without the window: the statistics, the
// result lines and the clipboard line in their fixed number format, and the
// run itself: its readings, the signal level of every hundredth, its early
// ends and its progress, with made-up readings and against simulated
// encoders.
#include "Enkoderji_splosno.h"
#include "PositionNoise.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "WorkflowSim.h"

#include <QLocale>
#include <QTest>
#include <cmath>

namespace {

// Made-up readings: the n-th (from 1) gives single-turn count 1000 + n % 3
// and, when asked, signal level 100 + n / 100; every other reading leaves a
// level that must not count.
struct MadeUpReadings {
    PositionNoiseHooks Hooks() {
        PositionNoiseHooks hooks;
        hooks.takeReading = [this](bool withSignalLevel) {
            ++taken;
            EncoderPosition.ST_value = 1000 + quint32(taken % 3);
            EncoderStatus.SignalLevel = withSignalLevel ? 100 + taken / 100 : 99999;
            if (withSignalLevel)
                signalAsked << taken;
            if (taken == stopAt)
                front->stopping = true;
            return taken == failAt;
        };
        hooks.progress = [this](int percent) { progress << percent; };
        return hooks;
    }
    RecordingFrontEnd* front = nullptr;
    int taken = 0;
    int failAt = -1;
    int stopAt = -1;
    QList<int> signalAsked;
    QList<int> progress;
};

// Readings of the simulated encoder as the window takes them.
PositionNoiseHooks simulatedReadings(WorkflowSim& sim, int* taken = nullptr) {
    PositionNoiseHooks hooks;
    hooks.takeReading = [&sim, taken](bool withSignalLevel) {
        ReadingOptions options;
        options.signalLevel = withSignalLevel;
        TakeReading(options, sim.front);
        if (taken)
            ++*taken;
        return EncoderPosition.ErrTimeout || EncoderPosition.ErrComm != 0;
    };
    return hooks;
}

// A connected encoder resting at `singleturn` with up to `noise` counts of
// noise; its signal level there.
QString restingEncoder(WorkflowSim& sim, int noise, quint32 singleturn) {
    sim.encoder([&](SimulatedEncoder& e) {
        e.SetSpeedRpm(0);
        e.SetNoiseCounts(noise);
        e.SetPosition(0, singleturn);
    });
    sim.Connect();
    return QString::number(
        sim.encoder([&](SimulatedEncoder& e) { return e.SignalLevelAt(singleturn); }));
}

// The value of the result line with this label.
QString figure(const QStringList& report, const QString& label) {
    for (const QString& line : report)
        if (line.startsWith(label + QStringLiteral(":\t")))
            return line.section(QLatin1Char('\t'), 1);
    return QStringLiteral("(no line %1)").arg(label);
}

double number(const QStringList& report, const QString& label) {
    return figure(report, label).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
}

} // namespace

class TestWorkflowPositionNoise : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() {
        ResetEncoderProtocolState();
        QLocale::setDefault(QLocale::system());
    }

    // -- the statistics --

    void statistics() {
        const TPositionNoise equal =
            PositionNoiseStatistics(std::vector<float>(5000, 1000.0f), 131072);
        QCOMPARE(equal.Count, 5000);
        QCOMPARE(equal.Min, 1000.0);
        QCOMPARE(equal.Max, 1000.0);
        QCOMPARE(equal.Mean, 1000.0);
        QCOMPARE(equal.Sigma, 0.0);
        QVERIFY(!equal.AcrossZero);

        std::vector<float> alternating;
        for (int i = 0; i < 5000; ++i)
            alternating.push_back(i % 2 ? 1002.0f : 1000.0f);
        const TPositionNoise two = PositionNoiseStatistics(alternating, 131072);
        QCOMPARE(two.Mean, 1001.0);
        QCOMPARE(two.Sigma, 1.0);
        QCOMPARE(two.Max - two.Min, 2.0);

        const TPositionNoise none = PositionNoiseStatistics({}, 131072);
        QCOMPARE(none.Count, 0);
        QCOMPARE(none.Sigma, 0.0);
    }

    // Counts on both sides of the zero of the turn are a few counts apart,
    // not a turn; they are taken relative to the first sample.
    void statisticsAcrossTheZeroOfTheTurn() {
        const TPositionNoise wrapped = PositionNoiseStatistics({1, 131071, 0, 2, 131070}, 131072);
        QVERIFY(wrapped.AcrossZero);
        QCOMPARE(wrapped.Min, -2.0);
        QCOMPARE(wrapped.Max, 2.0);
        QCOMPARE(wrapped.Mean, 0.0);
        const TPositionNoise high = PositionNoiseStatistics({131071, 0, 131070}, 131072);
        QCOMPARE(high.Max, 131072.0);
        QCOMPARE(high.Min, 131070.0);
        QCOMPARE(PositionNoiseStatistics({5, 131071}, 0).Max, 131071.0); // turn unknown
    }

    // -- the result lines --

    // A decimal comma and no thousands separators, whatever the locale.
    void reportLines_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
    }

    void reportLines() {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        TPositionNoise resting;
        resting.Count = 5000;
        resting.Min = resting.Max = resting.Mean = 1000;
        QString clipboard;
        QCOMPARE(
            PositionNoiseReport(resting, 812, &clipboard),
            (QStringList{"vzorcev:\t5000", "minn:\t1000,0", "maxx:\t1000,0", "raztros:\t0,0",
                         "povprecje:\t1000,0", "6 sigma:\t0,0", "Sig Lvl:\t812", "", "812\t0,0"}));
        QCOMPARE(clipboard, QStringLiteral("812\t0,0"));

        TPositionNoise wide;
        wide.Count = 12;
        wide.Min = 12345.2;
        wide.Max = 1234567.8;
        wide.Mean = 23456.7;
        wide.Sigma = 1.5;
        QCOMPARE(PositionNoiseReport(wide, 1234.4),
                 (QStringList{"vzorcev:\t12", "minn:\t12345,2", "maxx:\t1234567,8",
                              "raztros:\t1222222,6", "povprecje:\t23456,7", "6 sigma:\t9,0",
                              "Sig Lvl:\t1234", "", "1234\t9,0"}));
    }

    void reportNotesSamplesAcrossTheZeroOfTheTurn() {
        const TPositionNoise wrapped = PositionNoiseStatistics({1, 131071, 0, 2, 131070}, 131072);
        const QStringList report = PositionNoiseReport(wrapped, 0);
        QCOMPARE(report.size(), 10);
        QCOMPARE(figure(report, "minn"), QStringLiteral("-2,0"));
        QCOMPARE(report.last(),
                 QStringLiteral("(samples across the zero of the turn taken relative to the "
                                "first one)"));
    }

    // -- the run, with made-up readings --

    void aRunTakes5000ReadingsAndTheSignalLevelOfEveryHundredth() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks());
        QCOMPARE(readings.taken, 5000);
        QCOMPARE(readings.signalAsked.size(), 50);
        QCOMPARE(readings.signalAsked.first(), 100);
        QCOMPARE(readings.signalAsked.last(), 5000);
        QCOMPARE(result.averageSignalLevel.value_or(0), 125.5); // levels 101 .. 150
        QCOMPARE(result.noise.Count, 5000);
        QCOMPARE(result.noise.Min, 1000.0);
        QCOMPARE(result.noise.Max, 1002.0);
        QCOMPARE(result.report, PositionNoiseReport(result.noise, 125.5));
        QString clipboard;
        PositionNoiseReport(result.noise, 125.5, &clipboard);
        QCOMPARE(result.clipboardLine, clipboard);
        QVERIFY(front.lines.isEmpty());
    }

    void aShorterRun() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks(), 300);
        QCOMPARE(readings.taken, 300);
        QCOMPARE(readings.signalAsked, (QList<int>{100, 200, 300}));
        QCOMPARE(result.averageSignalLevel.value_or(0), 102.0);
        QCOMPARE(result.noise.Count, 300);
    }

    // Fewer readings than one signal-level reading needs: no average at all,
    // not one of 0; the window's report still shows 0 as it always did.
    void aRunTooShortForASignalLevelHasNoAverage() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks(), 99);
        QCOMPARE(readings.taken, 99);
        QVERIFY(readings.signalAsked.isEmpty());
        QVERIFY(!result.averageSignalLevel);
        QCOMPARE(figure(result.report, "Sig Lvl"), QStringLiteral("0"));
        QVERIFY(result.clipboardLine.startsWith(QStringLiteral("0\t")));
    }

    // A failing reading ends the run; the figures and the signal level cover
    // the readings taken before it.
    void aFailingReadingEndsTheRun() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        readings.failAt = 200; // one that reads the signal level
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks());
        QCOMPARE(readings.taken, 200);
        QCOMPARE(result.noise.Count, 199);
        QCOMPARE(result.averageSignalLevel.value_or(0), 101.0);
        QCOMPARE(figure(result.report, "vzorcev"), QStringLiteral("199"));
    }

    void aFailingFirstReadingLeavesNoFigures() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        readings.failAt = 1;
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks());
        QCOMPARE(readings.taken, 1);
        QCOMPARE(result.noise.Count, 0);
        QVERIFY(!result.averageSignalLevel);
    }

    // A front-end that stops (the window closing) ends the run after the
    // reading in progress.
    void stoppingEndsTheRun() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        readings.stopAt = 10;
        const PositionNoiseResult result = MeasurePositionNoise(front, readings.Hooks());
        QCOMPARE(readings.taken, 10);
        QCOMPARE(result.noise.Count, 10);
        QVERIFY(readings.signalAsked.isEmpty());
        QVERIFY(!result.averageSignalLevel);
    }

    void progressRunsFrom0To100() {
        RecordingFrontEnd front;
        MadeUpReadings readings;
        readings.front = &front;
        MeasurePositionNoise(front, readings.Hooks());
        const QList<int>& progress = readings.progress;
        QCOMPARE(progress.size(), 5000); // after each reading
        QCOMPARE(progress.first(), 0);
        QCOMPARE(progress.last(), 100);
        QVERIFY(progress.contains(50));
        for (int i = 1; i < progress.size(); ++i)
            QVERIFY2(progress[i] >= progress[i - 1], qPrintable(QString::number(i)));
    }

    // -- the run against simulated encoders --

    void restingShaftWithoutNoise() {
        WorkflowSim sim;
        const QString level = restingEncoder(sim, 0, 1000);
        const PositionNoiseResult result = MeasurePositionNoise(sim.front, simulatedReadings(sim));
        QCOMPARE(result.report, (QStringList{"vzorcev:\t5000", "minn:\t1000,0", "maxx:\t1000,0",
                                             "raztros:\t0,0", "povprecje:\t1000,0", "6 sigma:\t0,0",
                                             "Sig Lvl:\t" + level, "", level + "\t0,0"}));
        QCOMPARE(result.clipboardLine, level + "\t0,0");
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
    }

    // Noise of up to 2 counts, each deviation equally likely: sigma sqrt(2).
    void sixSigmaOfTheSimulatedNoise() {
        WorkflowSim sim;
        restingEncoder(sim, 2, 1000);
        const PositionNoiseResult result = MeasurePositionNoise(sim.front, simulatedReadings(sim));
        QVERIFY2(qAbs(6 * result.noise.Sigma - 6 * std::sqrt(2.0)) < 0.5,
                 qPrintable(figure(result.report, "6 sigma")));
        QVERIFY(qAbs(number(result.report, "povprecje") - 1000) < 0.2);
        QCOMPARE(number(result.report, "raztros"), 4.0);
        QCOMPARE(result.noise.Max - result.noise.Min, 4.0);
    }

    void shaftAtTheZeroOfTheTurn() {
        WorkflowSim sim;
        restingEncoder(sim, 2, 0);
        const PositionNoiseResult result = MeasurePositionNoise(sim.front, simulatedReadings(sim));
        QVERIFY(result.noise.AcrossZero);
        QVERIFY(number(result.report, "raztros") <= 4);
        // Near the zero of the turn: 0, or a turn when the first sample lay
        // just below the zero.
        const double mean = number(result.report, "povprecje");
        QVERIFY2(qMin(qAbs(mean), qAbs(mean - 131072)) < 1, qPrintable(result.report.join(' ')));
        QCOMPARE(result.report.size(), 10);
        QVERIFY(result.report.last().contains(QStringLiteral("relative to the first")));
    }

    // The adapter stops answering after some readings: the figures cover the
    // readings taken, and the signal level the one reading of it.
    void earlyEndCoversOnlyTheReadingsTaken() {
        WorkflowSim sim;
        const QString level = restingEncoder(sim, 0, 1000);
        int taken = 0;
        PositionNoiseHooks hooks = simulatedReadings(sim, &taken);
        hooks.progress = [&](int) {
            if (taken == 150)
                sim.Silence();
        };
        const PositionNoiseResult result = MeasurePositionNoise(sim.front, hooks);
        QCOMPARE(taken, 151);
        QCOMPARE(figure(result.report, "vzorcev"), QStringLiteral("150"));
        QCOMPARE(figure(result.report, "minn"), QStringLiteral("1000,0"));
        QCOMPARE(figure(result.report, "Sig Lvl"), level);
        QVERIFY(sim.front.LogLines().contains(QStringLiteral("USB Comm Err -1")));
    }
};

QTEST_GUILESS_MAIN(TestWorkflowPositionNoise)
#include "test_workflow_position_noise.moc"
