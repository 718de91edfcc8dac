#pragma once
// The record of one test run on one device: who ran which plan where, the
// adapter and encoder it ran on, and every step with its measurements. It
// is stored in the record store and written as a JSON file; both carry the
// same JSON document (`RecordJson`), so a record read back is the record
// written.

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// Ordered from best to worst: the outcome of several is the worst of them.
enum class Outcome { Pass, Fail, Error, Aborted };

QString OutcomeName(Outcome outcome);                     // "PASS", "FAIL", "ERROR", "ABORTED"
bool ParseOutcome(const QString& name, Outcome& outcome); // any case
Outcome Worse(Outcome a, Outcome b);

// A measurement passes inside [low, high]; within `marginal` of a limit it
// still passes but is marked marginal.
struct Limits {
    std::optional<double> low;
    std::optional<double> high;
    double marginal = 0;

    bool Any() const { return low || high; }
    Outcome Judge(double value) const;
    bool Marginal(double value) const; // inside the limits but near one
};

struct Measurement {
    QString name;
    double value = 0;
    QString unit;
    Limits limits;
    Outcome outcome = Outcome::Pass;
    bool marginal = false;
    QDateTime time; // UTC
};

struct StepRecord {
    int index = 0;      // the step's place in the plan, from 1
    int repetition = 1; // from 1 to the step's repeat count
    QString name;
    QString kind;
    Outcome outcome = Outcome::Pass;
    QString message; // why it did not pass, or what it did
    QDateTime started;
    QDateTime ended;
    QList<Measurement> measurements;
};

// A file that belongs to the record (an error map, a debug recording),
// kept beside the record's JSON file.
struct Attachment {
    QString name;   // what it is: "errormap", "debug-recording"
    QString file;   // its file name, beside the record's JSON file
    QString sha256; // hex
    qint64 bytes = 0;
};

struct RunRecord {
    QString runId; // a UUID without braces: the record's key everywhere
    QString station;
    QString operatorName;
    QString dutId; // the operator's own name for the device, when given
    QString planName;
    QString planVersion;
    QString planSha256;
    QString toolVersion;
    QString port;
    QString adapterSerial;
    QString adapterFirmware;
    int encoderType = 0; // 0: not identified
    QString encoderSerial;
    QString encoderPart;
    QString encoderFirmware;
    QDateTime started; // UTC
    QDateTime ended;
    Outcome outcome = Outcome::Pass;
    QString message; // why the run ended as it did
    QList<StepRecord> steps;
    QList<Attachment> attachments;
};

inline constexpr int RecordSchemaVersion = 1;

// A new run id (a random UUID).
QString NewRunId();

QJsonObject RecordJson(const RunRecord& record);
// Reads a record back; false with the first problem for a document that is
// not a record of this schema.
bool RecordFromJson(const QJsonObject& json, RunRecord& record, QString& problem);

// UTC time as ISO 8601 with milliseconds and "Z".
QString UtcText(const QDateTime& time);
