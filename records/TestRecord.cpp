#include "TestRecord.h"

#include <QJsonArray>
#include <QUuid>
#include <cmath>

namespace {

const char* const OutcomeNames[] = {"PASS", "FAIL", "ERROR", "ABORTED"};

QJsonValue optionalNumber(const std::optional<double>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::optional<double> optionalNumber(const QJsonValue& value) {
    if (value.isDouble())
        return value.toDouble();
    return std::nullopt;
}

QDateTime utcOf(const QJsonValue& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

QJsonObject measurementJson(const Measurement& m) {
    return {{"name", m.name},
            // NaN and infinity have no JSON form: such a value is written as null.
            {"value", std::isfinite(m.value) ? QJsonValue(m.value) : QJsonValue()},
            {"unit", m.unit},
            {"low", optionalNumber(m.limits.low)},
            {"high", optionalNumber(m.limits.high)},
            {"marginal_band", m.limits.marginal},
            {"outcome", OutcomeName(m.outcome)},
            {"marginal", m.marginal},
            {"time_utc", UtcText(m.time)}};
}

QJsonObject stepJson(const StepRecord& s) {
    QJsonArray measurements;
    for (const Measurement& m : s.measurements)
        measurements.append(measurementJson(m));
    return {{"index", s.index},
            {"repetition", s.repetition},
            {"name", s.name},
            {"kind", s.kind},
            {"outcome", OutcomeName(s.outcome)},
            {"message", s.message},
            {"started_utc", UtcText(s.started)},
            {"ended_utc", UtcText(s.ended)},
            {"measurements", measurements}};
}

QJsonObject attachmentJson(const Attachment& a) {
    return {{"name", a.name}, {"file", a.file}, {"sha256", a.sha256}, {"bytes", a.bytes}};
}

bool outcomeOf(const QJsonObject& json, Outcome& outcome, const QString& where, QString& problem) {
    if (ParseOutcome(json.value(QLatin1String("outcome")).toString(), outcome))
        return true;
    problem = where + QStringLiteral(" has no valid outcome");
    return false;
}

bool measurementFrom(const QJsonObject& json, Measurement& m, QString& problem) {
    m.name = json.value(QLatin1String("name")).toString();
    const QJsonValue value = json.value(QLatin1String("value"));
    m.value = value.isDouble() ? value.toDouble() : std::nan("");
    m.unit = json.value(QLatin1String("unit")).toString();
    m.limits.low = optionalNumber(json.value(QLatin1String("low")));
    m.limits.high = optionalNumber(json.value(QLatin1String("high")));
    m.limits.marginal = json.value(QLatin1String("marginal_band")).toDouble();
    m.marginal = json.value(QLatin1String("marginal")).toBool();
    m.time = utcOf(json.value(QLatin1String("time_utc")));
    return outcomeOf(json, m.outcome, QStringLiteral("measurement ") + m.name, problem);
}

bool stepFrom(const QJsonObject& json, StepRecord& s, QString& problem) {
    s.index = json.value(QLatin1String("index")).toInt();
    s.repetition = json.value(QLatin1String("repetition")).toInt(1);
    s.name = json.value(QLatin1String("name")).toString();
    s.kind = json.value(QLatin1String("kind")).toString();
    s.message = json.value(QLatin1String("message")).toString();
    s.started = utcOf(json.value(QLatin1String("started_utc")));
    s.ended = utcOf(json.value(QLatin1String("ended_utc")));
    if (!outcomeOf(json, s.outcome, QStringLiteral("step %1").arg(s.index), problem))
        return false;
    for (const QJsonValue& value : json.value(QLatin1String("measurements")).toArray()) {
        Measurement m;
        if (!measurementFrom(value.toObject(), m, problem))
            return false;
        s.measurements << m;
    }
    return true;
}

} // namespace

QString OutcomeName(Outcome outcome) {
    return QString::fromLatin1(OutcomeNames[int(outcome)]);
}

bool ParseOutcome(const QString& name, Outcome& outcome) {
    for (int i = 0; i < 4; ++i)
        if (name.compare(QLatin1String(OutcomeNames[i]), Qt::CaseInsensitive) == 0) {
            outcome = Outcome(i);
            return true;
        }
    return false;
}

Outcome Worse(Outcome a, Outcome b) {
    return int(a) >= int(b) ? a : b;
}

Outcome Limits::Judge(double value) const {
    if (std::isnan(value))
        return Outcome::Fail; // nothing measured cannot be inside a limit
    if ((low && value < *low) || (high && value > *high))
        return Outcome::Fail;
    return Outcome::Pass;
}

bool Limits::Marginal(double value) const {
    if (marginal <= 0 || Judge(value) != Outcome::Pass)
        return false;
    return (low && value < *low + marginal) || (high && value > *high - marginal);
}

QString NewRunId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString UtcText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonObject RecordJson(const RunRecord& r) {
    QJsonArray steps;
    for (const StepRecord& s : r.steps)
        steps.append(stepJson(s));
    QJsonArray attachments;
    for (const Attachment& a : r.attachments)
        attachments.append(attachmentJson(a));
    return {
        {"schema_version", RecordSchemaVersion},
        {"run_id", r.runId},
        {"station", r.station},
        {"operator", r.operatorName},
        {"dut_id", r.dutId},
        {"plan",
         QJsonObject{{"name", r.planName}, {"version", r.planVersion}, {"sha256", r.planSha256}}},
        {"tool_version", r.toolVersion},
        {"adapter", QJsonObject{{"port", r.port},
                                {"serial", r.adapterSerial},
                                {"firmware", r.adapterFirmware}}},
        {"encoder", QJsonObject{{"type", r.encoderType},
                                {"serial", r.encoderSerial},
                                {"part", r.encoderPart},
                                {"firmware", r.encoderFirmware}}},
        {"started_utc", UtcText(r.started)},
        {"ended_utc", UtcText(r.ended)},
        {"outcome", OutcomeName(r.outcome)},
        {"message", r.message},
        {"steps", steps},
        {"attachments", attachments}};
}

bool RecordFromJson(const QJsonObject& json, RunRecord& r, QString& problem) {
    if (json.value(QLatin1String("schema_version")).toInt() != RecordSchemaVersion) {
        problem = QStringLiteral("not a record of schema version %1").arg(RecordSchemaVersion);
        return false;
    }
    r = RunRecord();
    r.runId = json.value(QLatin1String("run_id")).toString();
    if (r.runId.isEmpty()) {
        problem = QStringLiteral("the record has no run id");
        return false;
    }
    r.station = json.value(QLatin1String("station")).toString();
    r.operatorName = json.value(QLatin1String("operator")).toString();
    r.dutId = json.value(QLatin1String("dut_id")).toString();
    const QJsonObject plan = json.value(QLatin1String("plan")).toObject();
    r.planName = plan.value(QLatin1String("name")).toString();
    r.planVersion = plan.value(QLatin1String("version")).toString();
    r.planSha256 = plan.value(QLatin1String("sha256")).toString();
    r.toolVersion = json.value(QLatin1String("tool_version")).toString();
    const QJsonObject adapter = json.value(QLatin1String("adapter")).toObject();
    r.port = adapter.value(QLatin1String("port")).toString();
    r.adapterSerial = adapter.value(QLatin1String("serial")).toString();
    r.adapterFirmware = adapter.value(QLatin1String("firmware")).toString();
    const QJsonObject encoder = json.value(QLatin1String("encoder")).toObject();
    r.encoderType = encoder.value(QLatin1String("type")).toInt();
    r.encoderSerial = encoder.value(QLatin1String("serial")).toString();
    r.encoderPart = encoder.value(QLatin1String("part")).toString();
    r.encoderFirmware = encoder.value(QLatin1String("firmware")).toString();
    r.started = utcOf(json.value(QLatin1String("started_utc")));
    r.ended = utcOf(json.value(QLatin1String("ended_utc")));
    r.message = json.value(QLatin1String("message")).toString();
    if (!outcomeOf(json, r.outcome, QStringLiteral("the record"), problem))
        return false;
    for (const QJsonValue& value : json.value(QLatin1String("steps")).toArray()) {
        StepRecord s;
        if (!stepFrom(value.toObject(), s, problem))
            return false;
        r.steps << s;
    }
    for (const QJsonValue& value : json.value(QLatin1String("attachments")).toArray()) {
        const QJsonObject a = value.toObject();
        r.attachments << Attachment{a.value(QLatin1String("name")).toString(),
                                    a.value(QLatin1String("file")).toString(),
                                    a.value(QLatin1String("sha256")).toString(),
                                    qint64(a.value(QLatin1String("bytes")).toDouble())};
    }
    return true;
}
