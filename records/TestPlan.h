#pragma once
// A test plan: a name, a version and an ordered list of steps, read from
// TOML. Each step is one workflow (identify, configure, read with limits,
// ...) with its parameters, the limits of its measurements, a time-out, a
// repeat count and what a failure does. A plan is checked whole when it is
// read: every mistake is named with its line, and a plan with any mistake is
// never run.
//
//   name = "Ulvax-2 end of line"
//   version = "1.0"
//
//   [[steps]]
//   kind = "read"
//   count = 100
//   limits.crc_error_count = { high = 0 }
//
// Keys of every step: kind (required), name, timeout_s, repeat,
// on_failure ("stop" or "continue"), limits.<measurement> = { low, high,
// marginal }. The kinds, their own keys and their measurements are in
// StepKinds().

#include "TestRecord.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

enum class StepKind {
    Identify,
    Power,
    Spi,
    Config,
    Zero,
    PresetMt,
    Store,
    PowerCycleVerify,
    Read,
    Signal,
    Noise,
    ErrorMap,
    Calibrate,
    Diag,
    Record,
    Prompt
};

enum class ParameterType { Integer, Number, Boolean, Text };

struct ParameterEntry {
    const char* key;
    ParameterType type;
    double minimum; // Integer and Number
    double maximum;
    QVariant defaultValue; // invalid: the key is optional and has no default
    bool required;
    const char* meaning;
};

// Every measurement a step reports, by the step kind that reports it. A
// step can only report one of these, and a limit can only be read for one.
enum class Measure {
    ResolutionBits,
    SupplyCurrentMa,
    NewOffset,
    SettingsDiffering,
    PositionChangeDeg,
    PositionDeg,
    PositionSpreadDeg,
    ErrorCount,
    WarningCount,
    CrcErrorCount,
    SignalLevel,
    AirGapUm,
    TemperatureC,
    ThermistorC,
    SpreadCounts,
    SixSigmaCounts,
    SignalLevelAverage,
    CorrectionMin,
    CorrectionMax,
    CorrectionSpan,
    SelfCalStatus,
    PowerCycles,
    OperatingMinutes,
    TemperatureMinC,
    TemperatureMaxC,
    SafetyMarginRt,
    SafetyMarginPer,
    FailedReadouts
};

struct MeasurementEntry {
    Measure measure;
    const char* name; // as written in a plan's limits and in a record
    const char* unit;
    const char* meaning;
};

struct StepKindEntry {
    StepKind kind;
    const char* name; // as written in a plan: "identify", "preset-mt", ...
    const char* meaning;
    QList<ParameterEntry> parameters;
    QList<MeasurementEntry> measurements;
};

// Every kind, in the order of the documentation.
const QList<StepKindEntry>& StepKinds();
const StepKindEntry* FindStepKind(const QString& name);
const StepKindEntry& EntryOf(StepKind kind);
// The entry of a measurement of the kind, or nullptr when the kind does not
// report it.
const MeasurementEntry* FindMeasurement(StepKind kind, Measure measure);
const MeasurementEntry* FindMeasurement(StepKind kind, const QString& name);

enum class OnFailure { Stop, Continue };

struct PlanStep {
    int line = 0; // of its [[steps]] header
    StepKind kind = StepKind::Identify;
    QString name;        // the kind's name unless the plan names it
    double timeoutS = 0; // 0: none
    int repeat = 1;
    OnFailure onFailure = OnFailure::Stop;
    // The kind's own keys, checked and converted (qint64, double, bool,
    // QString), defaults filled in; optional keys without a default are
    // absent.
    QVariantMap parameters;
    QMap<Measure, Limits> limits; // only measurements of the step's kind

    bool Has(const char* key) const { return parameters.contains(QLatin1String(key)); }
    qint64 Integer(const char* key) const;
    double Number(const char* key) const;
    bool Boolean(const char* key) const;
    QString Text(const char* key) const;
};

struct TestPlan {
    QString fileName;
    QString name;
    QString version;
    QString description;
    QString sha256; // of the file's bytes, hex
    QList<PlanStep> steps;
};

struct PlanProblem {
    int line = 0; // 0: the file as a whole
    int column = 0;
    QString message;

    QString Text(const QString& fileName) const; // "plan.toml:12:3: message"
};

struct PlanParse {
    TestPlan plan;
    QList<PlanProblem> problems; // in the order of the file

    bool Ok() const { return problems.isEmpty(); }
};

// Reads and checks the whole plan.
PlanParse ParsePlan(const QByteArray& text, const QString& fileName);
// The same from a file; a file that cannot be read is one problem.
PlanParse ReadPlanFile(const QString& path);
