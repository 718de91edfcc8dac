#include "PlanRunner.h"

#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "Q714_SPI_Dravonel.h"
#include "RecordExport.h"
#include "Session.h"
#include "SystemIdentity.h"

#include <chrono>

namespace {

QDateTime now() {
    return QDateTime::currentDateTimeUtc();
}

void fillDevice(RunRecord& record, const Session& session) {
    const AdapterIdentity& adapter = session.Adapter();
    record.port = adapter.location;
    record.adapterSerial = QString::fromLatin1(adapter.serialNumber);
    record.adapterFirmware = QString::number(adapter.firmwareVersion);
    if (!session.Connected())
        return;
    const TEncoderSignature& s = EncoderSignature;
    record.encoderType = EncoderType;
    record.encoderSerial = QString::fromLatin1(s.SerialNumber);
    record.encoderPart = QString::fromLatin1(s.PartNumber);
    record.encoderFirmware = s.FWverStr;
}

RunRecord startRecord(const TestPlan& plan, const RunParticipants& who) {
    RunRecord record;
    record.runId = NewRunId();
    record.station = who.station;
    record.operatorName = who.operatorName;
    record.dutId = who.dutId;
    record.planName = plan.name;
    record.planVersion = plan.version;
    record.planSha256 = plan.sha256;
    record.toolVersion = OwnVersionText();
    record.started = now();
    return record;
}

// The step's own outcome, unless the user or its time-out stopped it.
void settleOutcome(const PlanStep& step, const StepResult& result, ConsoleFrontEnd& front,
                   StepRecord& record) {
    record.outcome = result.outcome;
    record.message = result.message;
    if (Interrupted()) {
        record.outcome = Outcome::Aborted;
        record.message = QStringLiteral("interrupted");
    } else if (front.PastDeadline()) {
        record.outcome = Outcome::Error;
        record.message = QStringLiteral("took longer than its time-out of %1 s").arg(step.timeoutS);
    }
}

StepRecord runStep(CommandContext& c, const PlanStep& step, int index, int repetition,
                   PlanRunState& state, PlanRun& run) {
    StepRecord record;
    record.index = index;
    record.repetition = repetition;
    record.name = step.name;
    record.kind = QString::fromLatin1(EntryOf(step.kind).name);
    record.started = now();
    if (step.timeoutS > 0)
        c.front.SetDeadline(std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(qint64(step.timeoutS * 1000)));
    const StepResult result = RunPlanStep(c, step, state);
    settleOutcome(step, result, c.front, record);
    c.front.SetDeadline(std::nullopt);
    if (record.outcome != Outcome::Aborted)
        JudgeMeasurements(step, result, record);
    record.ended = now();
    run.files << result.files;
    run.linkLost = run.linkLost || result.linkLost;
    return record;
}

QString endMessage(const StepRecord& last, bool stoppedEarly) {
    if (!stoppedEarly)
        return {};
    return QStringLiteral("stopped at step %1 (%2): %3%4")
        .arg(last.index)
        .arg(last.name, OutcomeName(last.outcome),
             last.message.isEmpty() ? QString() : QStringLiteral(", ") + last.message);
}

} // namespace

void JudgeMeasurements(const PlanStep& step, const StepResult& result, StepRecord& record) {
    QStringList failing, missing, undeclared;
    for (const auto& [measure, value] : result.values) {
        const MeasurementEntry* entry = FindMeasurement(step.kind, measure);
        if (!entry) { // a step reports only its kind's measurements
            undeclared << QString::number(int(measure));
            continue;
        }
        Measurement m;
        m.name = QLatin1String(entry->name);
        m.value = value;
        m.unit = QString::fromUtf8(entry->unit);
        m.limits = step.limits.value(measure);
        m.outcome = m.limits.Judge(value);
        m.marginal = m.outcome == Outcome::Pass && m.limits.Marginal(value);
        m.time = now();
        if (m.outcome != Outcome::Pass)
            failing << MeasurementText(m);
        record.outcome = Worse(record.outcome, m.outcome);
        record.measurements << m;
    }
    for (auto it = step.limits.cbegin(); it != step.limits.cend(); ++it) {
        const bool measured = std::any_of(result.values.cbegin(), result.values.cend(),
                                          [&](const auto& v) { return v.first == it.key(); });
        const MeasurementEntry* entry = FindMeasurement(step.kind, it.key());
        if (!measured && record.outcome != Outcome::Error && entry)
            missing << QLatin1String(entry->name);
    }
    if (!undeclared.isEmpty()) {
        record.outcome = Outcome::Error;
        record.message =
            QStringLiteral("a measurement its kind does not report: ") + undeclared.join(", ");
    } else if (!missing.isEmpty()) {
        record.outcome = Worse(record.outcome, Outcome::Error);
        record.message = QStringLiteral("not measured: ") + missing.join(", ");
    } else if (!failing.isEmpty() && record.message.isEmpty()) {
        record.message = QStringLiteral("outside the limits: ") + failing.join(", ");
    } else if (!failing.isEmpty()) {
        record.message += QStringLiteral("; outside the limits: ") + failing.join(", ");
    }
}

PlanRun RunTestPlan(CommandContext& c, const TestPlan& plan, const RunParticipants& who,
                    const QString& workFolder,
                    const std::function<void(const StepRecord&)>& stepDone) {
    PlanRun run;
    RunRecord& record = run.record;
    record = startRecord(plan, who);
    const int connected = c.session.ConnectEncoder();
    fillDevice(record, c.session);
    if (connected != 0) {
        record.outcome = Interrupted() ? Outcome::Aborted : Outcome::Error;
        record.message =
            QStringLiteral("the encoder could not be connected: ") +
            QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" ")).trimmed();
        run.linkLost = connected == ExitLink;
        record.ended = now();
        return run;
    }
    PlanRunState state;
    state.workFolder = workFolder;
    state.unattended = who.unattended;
    bool stop = false;
    for (int i = 0; i < plan.steps.size() && !stop; ++i) {
        const PlanStep& step = plan.steps[i];
        for (int repetition = 1; repetition <= step.repeat && !stop; ++repetition) {
            const StepRecord done = runStep(c, step, i + 1, repetition, state, run);
            record.steps << done;
            record.outcome = Worse(record.outcome, done.outcome);
            if (stepDone)
                stepDone(done);
            stop = done.outcome == Outcome::Aborted || run.linkLost ||
                   (done.outcome != Outcome::Pass && step.onFailure == OnFailure::Stop);
            if (stop)
                record.message =
                    endMessage(done, i + 1 < plan.steps.size() || repetition < step.repeat);
        }
        if (!stop && Interrupted()) {
            record.outcome = Outcome::Aborted;
            record.message = QStringLiteral("interrupted after step %1").arg(i + 1);
            stop = true;
        }
    }
    record.ended = now();
    return run;
}
