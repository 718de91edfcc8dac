// What binds a test plan to the workflows it runs: the plan checker takes
// exactly the values the workflows use, and the runner judges only the
// measurements a step's kind declares.
#include "PlanRunner.h"
#include "SelfCalibration.h"
#include "TestPlan.h"

#include <QTest>

namespace {

const ParameterEntry& parameterOf(StepKind kind, const char* key) {
    for (const ParameterEntry& parameter : EntryOf(kind).parameters)
        if (QLatin1String(parameter.key) == QLatin1String(key))
            return parameter;
    qFatal("no parameter %s", key);
}

} // namespace

class TestPlanSteps : public QObject {
    Q_OBJECT

private slots:
    // A plan passes only values the self-calibration takes as they are: whole
    // degrees and seconds in its ranges, nothing it would round or cut.
    void calibrationRangesAreTheWorkflows() {
        const ParameterEntry& arc = parameterOf(StepKind::Calibrate, "arc");
        QCOMPARE(arc.type, ParameterType::Integer);
        QCOMPARE(arc.minimum, double(SelfCalArcMinDeg));
        QCOMPARE(arc.maximum, double(SelfCalArcMaxDeg));
        const ParameterEntry& timeout = parameterOf(StepKind::Calibrate, "timeout");
        QCOMPARE(timeout.type, ParameterType::Integer);
        QCOMPARE(timeout.minimum, double(SelfCalTimeoutMinS));
        QCOMPARE(timeout.maximum, double(SelfCalTimeoutMaxS));
        QVERIFY(!arc.defaultValue.isValid() && !timeout.defaultValue.isValid());
    }

    // Every measurement of the table has one name, unit and kind; a name
    // finds its measurement only in its own kind.
    void measurementsAreDeclaredOnce() {
        QSet<int> seen;
        for (const StepKindEntry& kind : StepKinds())
            for (const MeasurementEntry& m : kind.measurements) {
                QVERIFY2(!seen.contains(int(m.measure)), m.name);
                seen.insert(int(m.measure));
                QCOMPARE(FindMeasurement(kind.kind, QLatin1String(m.name)), &m);
                QCOMPARE(FindMeasurement(kind.kind, m.measure), &m);
            }
        QVERIFY(!FindMeasurement(StepKind::Read, QStringLiteral("signal_level")));
        QVERIFY(!FindMeasurement(StepKind::Store, Measure::PositionDeg));
    }

    // The runner takes name and unit from the table and judges the limit;
    // a value of a measurement the kind does not declare makes the step an
    // error instead of a record with a made-up name.
    void onlyDeclaredMeasurementsAreJudged() {
        PlanStep step;
        step.kind = StepKind::Read;
        step.limits.insert(Measure::ErrorCount, Limits{std::nullopt, 0.0, 0});
        StepResult result;
        result.values << qMakePair(Measure::ErrorCount, 2.0)
                      << qMakePair(Measure::PositionDeg, 12.5);
        StepRecord judged;
        JudgeMeasurements(step, result, judged);
        QCOMPARE(judged.outcome, Outcome::Fail);
        QCOMPARE(judged.measurements.size(), 2);
        QCOMPARE(judged.measurements[0].name, QStringLiteral("error_count"));
        QCOMPARE(judged.measurements[1].unit, QStringLiteral("deg"));

        result.values << qMakePair(Measure::SignalLevel, 300.0); // not a read step's
        StepRecord wrong;
        JudgeMeasurements(step, result, wrong);
        QCOMPARE(wrong.outcome, Outcome::Error);
        QVERIFY(wrong.message.contains("does not report"));

        StepResult nothing;
        StepRecord missing;
        JudgeMeasurements(step, nothing, missing);
        QCOMPARE(missing.outcome, Outcome::Error);
        QCOMPARE(missing.message, QStringLiteral("not measured: error_count"));
    }
};

QTEST_GUILESS_MAIN(TestPlanSteps)
#include "test_plan_steps.moc"
