#pragma once
// Runs a checked test plan on one device and builds the run's record: the
// encoder is connected first, then each step runs its repeat count with its
// time-out, its measurements judged against the plan's limits. A step that
// does not pass ends the run unless it says "continue"; a lost link and
// Ctrl+C (ABORTED) always do.

#include "PlanSteps.h"
#include "TestPlan.h"
#include "TestRecord.h"

#include <functional>

struct CommandContext;

struct RunParticipants {
    QString station;
    QString operatorName;
    QString dutId;
    bool unattended = false;
};

struct PlanRun {
    RunRecord record;
    QList<QPair<QString, QString>> files; // attachment name, file in the work folder
    bool linkLost = false;
};

PlanRun RunTestPlan(CommandContext& c, const TestPlan& plan, const RunParticipants& who,
                    const QString& workFolder,
                    const std::function<void(const StepRecord&)>& stepDone);

// The measurements of a step's values, judged against the step's limits; a
// limit on a measurement the step did not deliver makes the step an error.
void JudgeMeasurements(const PlanStep& step, const StepResult& result, StepRecord& record);
