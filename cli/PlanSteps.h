#pragma once
// One step of a test plan on the connected encoder: the workflow of its kind
// with the step's parameters. A step reports the values of its measurements
// (the runner judges them against the plan's limits), an outcome of its own
// (FAIL for a check that is not a limit, ERROR when the device failed) and
// the files it made.

#include "SettingsMap.h"
#include "TestPlan.h"

#include <QList>
#include <QPair>
#include <QString>

struct CommandContext;

// What the steps of one run share.
struct PlanRunState {
    SettingsMap written; // the settings this run wrote, for power-cycle-verify
    QString workFolder;  // where steps leave their files until the record keeps them
    bool unattended = false;
};

struct StepResult {
    Outcome outcome = Outcome::Pass;
    QString message;
    QList<QPair<Measure, double>> values; // only measurements of the step's kind
    QList<QPair<QString, QString>> files; // attachment name, path
    bool linkLost = false;                // nothing more can be sent

    static StepResult Error(const QString& message, bool linkLost = false);
    static StepResult Failed(const QString& message);
};

StepResult RunPlanStep(CommandContext& c, const PlanStep& step, PlanRunState& state);
