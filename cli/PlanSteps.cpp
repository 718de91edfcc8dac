// The step kinds of a test plan, each on the workflows the commands of
// q714 use.
#include "PlanSteps.h"

#include "AdapterWorkflows.h"
#include "BlockingWorkflows.h"
#include "Commands.h"
#include "Configuration.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "Diagnostics.h"
#include "Enkoderji_splosno.h"
#include "ErrorMap.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "Session.h"
#include "SignalLevel.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <limits>

StepResult StepResult::Error(const QString& message, bool linkLost) {
    StepResult result;
    result.outcome = Outcome::Error;
    result.message = message;
    result.linkLost = linkLost;
    return result;
}

StepResult StepResult::Failed(const QString& message) {
    StepResult result;
    result.outcome = Outcome::Fail;
    result.message = message;
    return result;
}

namespace {

QString lastError() {
    return QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" ")).trimmed();
}

double degreesOf(qint64 counts) {
    return double(counts) * 360.0 / qMax(1, STcounts);
}

// Smallest, largest and mean of a series.
struct Series {
    double least = std::numeric_limits<double>::infinity();
    double most = -std::numeric_limits<double>::infinity();
    double sum = 0;
    qint64 count = 0;

    void Add(double value) {
        least = qMin(least, value);
        most = qMax(most, value);
        sum += value;
        ++count;
    }
    double Mean() const { return count > 0 ? sum / double(count) : qQNaN(); }
    double Spread() const { return count > 0 ? most - least : qQNaN(); }
};

// A reading that failed ends the step as an error.
StepResult readingFailed(const Reading& reading, qint64 done) {
    return StepResult::Error(QStringLiteral("reading %1 failed: %2").arg(done + 1).arg(lastError()),
                             reading.linkBroken);
}

StepResult reconnect(CommandContext& c) {
    if (c.session.ConnectEncoder() != 0)
        return StepResult::Error(QStringLiteral("the encoder did not connect again: ") +
                                     lastError(),
                                 EncoderPosition.ErrComm < 0);
    return {};
}

bool wildcardMatch(const QString& pattern, const QString& text) {
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                                  pattern, QRegularExpression::UnanchoredWildcardConversion))
               .match(text)
               .capturedLength() == text.size();
}

StepResult identify(CommandContext&, const PlanStep& step, PlanRunState&) {
    const TEncoderSignature& s = EncoderSignature;
    StepResult result;
    result.values << qMakePair(Measure::ResolutionBits, double(STbits));
    QStringList wrong;
    if (step.Has("expect_type") && step.Integer("expect_type") != EncoderType)
        wrong
            << QStringLiteral("type %1, not %2").arg(EncoderType).arg(step.Integer("expect_type"));
    const QString part = QString::fromLatin1(s.PartNumber);
    if (step.Has("expect_part") && !wildcardMatch(step.Text("expect_part"), part))
        wrong << QStringLiteral("part %1, not %2").arg(part, step.Text("expect_part"));
    if (step.Has("expect_resolution_bits") && step.Integer("expect_resolution_bits") != STbits)
        wrong << QStringLiteral("%1 bits, not %2")
                     .arg(STbits)
                     .arg(step.Integer("expect_resolution_bits"));
    if (step.Has("expect_multiturn") && step.Boolean("expect_multiturn") != s.Multiturn)
        wrong << (s.Multiturn ? QStringLiteral("multi-turn, not single-turn")
                              : QStringLiteral("single-turn, not multi-turn"));
    if (!wrong.isEmpty())
        return StepResult::Failed(QStringLiteral("the encoder is ") + wrong.join(", "));
    result.message = QStringLiteral("%1, serial %2").arg(part, QString::fromLatin1(s.SerialNumber));
    return result;
}

StepResult power(CommandContext& c, const PlanStep& step, PlanRunState&) {
    if (!step.Boolean("on")) {
        if (PowerOffEncoder().LinkBroken())
            return StepResult::Error(QStringLiteral("the link to the adapter broke"), true);
        return {};
    }
    const auto voltage =
        step.Number("volt") < 4 ? EncoderSupplyVoltage::V3_3 : EncoderSupplyVoltage::V5;
    const SupplyResult supply = PowerOnEncoder(voltage, c.front);
    if (supply.LinkBroken())
        return StepResult::Error(QStringLiteral("the link to the adapter broke"), true);
    StepResult result = reconnect(c);
    const QRegularExpressionMatch current =
        QRegularExpression(QStringLiteral("(\\d+(?:\\.\\d+)?)\\s*mA"))
            .match(QString::fromLatin1(supply.state));
    if (current.hasMatch())
        result.values << qMakePair(Measure::SupplyCurrentMa, current.captured(1).toDouble());
    result.message = QString::fromLatin1(supply.state);
    return result;
}

StepResult spi(CommandContext& c, const PlanStep& step, PlanRunState&) {
    if (!SetSpiClock(int(step.Integer("clock")), c.front))
        return StepResult::Error(QStringLiteral("the adapter refused the SPI clock: ") +
                                 lastError());
    c.session.RememberSpiClock(int(step.Integer("clock")));
    if (step.Has("ncs_delay_us")) {
        if (!SetNcsSckDelay(int(step.Integer("ncs_delay_us")), c.front))
            return StepResult::Error(QStringLiteral("the adapter did not take the NCS-SCK delay"));
        c.session.RememberNcsSckDelay(int(step.Integer("ncs_delay_us")));
    }
    return {};
}

StepResult config(CommandContext& c, const PlanStep& step, PlanRunState& state) {
    SettingsMap values;
    for (const char* key : {"position_offset", "position_filter", "multiturn_error_arc"})
        if (step.Has(key))
            values.insert(QLatin1String(key), step.Integer(key));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        if (!EncoderHasSetting(it.key()))
            return StepResult::Error(
                QStringLiteral("this encoder has no %1; nothing was written").arg(it.key()));
    QStringList written;
    QString problem;
    const bool done = WriteSettingsMap(c.front, values, written, problem);
    for (const QString& key : written)
        state.written.insert(key, values.value(key));
    if (!done && !problem.isEmpty())
        return StepResult::Error(problem);
    StepResult result;
    result.message = QStringLiteral("written: ") + written.join(", ");
    return result;
}

StepResult zero(CommandContext& c, const PlanStep&, PlanRunState& state) {
    const ZeroRun run = SetZeroAndVerify(c.front);
    if (!run.zero.done)
        return StepResult::Error(QStringLiteral("the zero was not set: ") + lastError());
    state.written.insert(QStringLiteral("position_offset"), run.zero.newOffset);
    if (!run.verified)
        return StepResult::Error(QStringLiteral("the encoder does not hold the new offset"));
    StepResult result;
    result.values << qMakePair(Measure::NewOffset, double(run.zero.newOffset));
    return result;
}

StepResult presetTurns(CommandContext& c, const PlanStep& step, PlanRunState&) {
    if (MTbits == 0)
        return StepResult::Error(QStringLiteral("a single-turn encoder counts no turns"));
    if (!PresetMultiturn(static_cast<quint16>(step.Integer("turns")), c.front))
        return StepResult::Error(QStringLiteral("the encoder refused the preset: ") + lastError());
    return {};
}

StepResult store(CommandContext& c, const PlanStep&, PlanRunState&) {
    if (!StoreSettings(StoreCommand::SaveToNvram, c.front))
        return StepResult::Error(QStringLiteral("the settings were not stored: ") + lastError());
    return {};
}

// The difference of two positions in degrees; across the zero of a
// single-turn encoder it is the short way round.
double positionChange(qint64 before, qint64 after) {
    double change = degreesOf(after - before);
    if (MTbits == 0) {
        while (change >= 180)
            change -= 360;
        while (change < -180)
            change += 360;
    }
    return change;
}

StepResult powerCycleVerify(CommandContext& c, const PlanStep& step, PlanRunState& state) {
    const Reading before = TakeReading({}, c.front);
    if (!before.positionRead)
        return readingFailed(before, 0);
    if (PowerOffEncoder().LinkBroken())
        return StepResult::Error(QStringLiteral("the link to the adapter broke"), true);
    c.front.Pause(int(step.Integer("off_ms")));
    if (PowerOnEncoder(c.session.Voltage(), c.front).LinkBroken())
        return StepResult::Error(QStringLiteral("the link to the adapter broke"), true);
    StepResult result = reconnect(c);
    if (result.outcome != Outcome::Pass)
        return result;
    const Reading after = TakeReading({}, c.front);
    if (!after.positionRead)
        return readingFailed(after, 0);
    SettingsMap actual;
    ReadSettingsMap(c.front, actual);
    const QStringList differing = SettingDifferences(state.written, actual);
    result.values << qMakePair(Measure::SettingsDiffering, double(differing.size()))
                  << qMakePair(Measure::PositionChangeDeg,
                               positionChange(before.frameMTST, after.frameMTST));
    if (!differing.isEmpty())
        return StepResult{Outcome::Fail, differing.join("; "), result.values, {}, false};
    result.message = state.written.isEmpty()
                         ? QStringLiteral("no setting written in this run to compare")
                         : QStringLiteral("%1 setting(s) kept").arg(state.written.size());
    return result;
}

StepResult read(CommandContext& c, const PlanStep& step, PlanRunState&) {
    Series positions;
    qint64 errors = 0, warnings = 0, crcErrors = 0;
    const qint64 count = step.Integer("count");
    for (qint64 done = 0; done < count && !c.front.Stopping(); ++done) {
        if (done > 0 && step.Integer("interval_ms") > 0)
            c.front.Wait(int(step.Integer("interval_ms")));
        const Reading reading = TakeReading({}, c.front);
        if (!reading.positionRead)
            return readingFailed(reading, done);
        positions.Add(degreesOf(reading.frameMTST));
        errors += EncoderPosition.ErrBit ? 1 : 0;
        warnings += EncoderPosition.WarnBit ? 1 : 0;
        crcErrors += EncoderPosition.ErrCRC ? 1 : 0;
    }
    StepResult result;
    result.values << qMakePair(Measure::PositionDeg, positions.Mean())
                  << qMakePair(Measure::PositionSpreadDeg, positions.Spread())
                  << qMakePair(Measure::ErrorCount, double(errors))
                  << qMakePair(Measure::WarningCount, double(warnings))
                  << qMakePair(Measure::CrcErrorCount, double(crcErrors));
    result.message = QStringLiteral("%1 reading(s)").arg(positions.count);
    return result;
}

StepResult signal(CommandContext& c, const PlanStep& step, PlanRunState&) {
    Series level, airGap, sensor, thermistor;
    const TEncoderSignature& s = EncoderSignature;
    for (qint64 done = 0; done < step.Integer("count") && !c.front.Stopping(); ++done) {
        ReadingOptions options;
        options.signalLevel = options.temperature = true;
        const Reading reading = TakeReading(options, c.front);
        if (!reading.positionRead)
            return readingFailed(reading, done);
        const TEncoderStatus& st = EncoderStatus;
        if (reading.signalLevelRead) {
            level.Add(st.SignalLevel);
            airGap.Add(AirGapMicrometres(st.SignalLevel, s.AirGapK, s.AirGapN));
        }
        sensor.Add(st.TemperatureSEN);
        if (ThermistorReadingValid(st.TemperatureEXT))
            thermistor.Add(ThermistorCelsiusBeta(st.TemperatureEXT));
    }
    StepResult result;
    const auto add = [&result](Measure measure, const Series& series) {
        if (series.count > 0)
            result.values << qMakePair(measure, series.Mean());
    };
    add(Measure::SignalLevel, level);
    add(Measure::AirGapUm, airGap);
    add(Measure::TemperatureC, sensor);
    add(Measure::ThermistorC, thermistor);
    return result;
}

StepResult noise(CommandContext& c, const PlanStep& step, PlanRunState&) {
    const NoiseRun run = MeasureNoise(c.front, int(step.Integer("samples")), {});
    const TPositionNoise& n = run.result.noise;
    if (run.readingFailed)
        return StepResult::Error(
            QStringLiteral("a reading failed after %1 sample(s): %2").arg(n.Count).arg(lastError()),
            EncoderPosition.ErrComm < 0);
    StepResult result;
    result.values << qMakePair(Measure::SpreadCounts, n.Max - n.Min)
                  << qMakePair(Measure::SixSigmaCounts, 6 * n.Sigma);
    if (run.result.averageSignalLevel) // none read: no value, rather than a false 0
        result.values << qMakePair(Measure::SignalLevelAverage, *run.result.averageSignalLevel);
    result.message = QStringLiteral("%1 sample(s)").arg(n.Count);
    return result;
}

bool writeWorkFile(const QString& path, const QByteArray& bytes, QString& problem) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    problem = file.errorString();
    return false;
}

StepResult errorMap(CommandContext& c, const PlanStep&, PlanRunState& state) {
    const ErrorMapReadout map = ReadErrorMap(c.front);
    if (!map.Complete())
        return StepResult::Error(QStringLiteral("point %1 of the error map could not be read: %2")
                                     .arg(map.failedPoint)
                                     .arg(lastError()),
                                 EncoderPosition.ErrComm < 0);
    const QList<QPointF> points = ErrorMapChartPoints(map);
    Series corrections;
    for (const QPointF& point : points)
        corrections.Add(point.y());
    StepResult result;
    result.values << qMakePair(Measure::CorrectionMin, corrections.least)
                  << qMakePair(Measure::CorrectionMax, corrections.most)
                  << qMakePair(Measure::CorrectionSpan, corrections.Spread());
    const QString path = QDir(state.workFolder).filePath(QStringLiteral("errormap.csv"));
    QString problem;
    if (!writeWorkFile(path, ErrorMapFileText(points), problem))
        return StepResult::Error(QStringLiteral("cannot write the error map: ") + problem);
    result.files << qMakePair(QStringLiteral("errormap"), path);
    return result;
}

StepResult calibrate(CommandContext& c, const PlanStep& step, PlanRunState&) {
    SelfCalOptions options;
    if (step.Has("arc"))
        options.arcDeg = static_cast<quint16>(step.Integer("arc"));
    if (step.Has("timeout"))
        options.timeoutS = static_cast<quint8>(step.Integer("timeout"));
    if (const QString problem = SelfCalOptionsProblem(options); !problem.isEmpty())
        return StepResult::Error(problem + QStringLiteral("; nothing was written"));
    const CalibrationRun run = CalibrateAndWait(c.front, options, {});
    if (!run.applied)
        return StepResult::Error(QStringLiteral("the arc and time-out could not be set: ") +
                                 lastError());
    if (!run.started)
        return StepResult::Error(QStringLiteral("the self-calibration could not be started: ") +
                                 lastError());
    if (run.stopped)
        return StepResult::Error(
            QStringLiteral("stopped; the encoder goes on calibrating and answers again when done"));
    if (!run.report.read)
        return StepResult::Error(QStringLiteral("the self-calibration status could not be read"));
    StepResult result;
    result.values << qMakePair(Measure::SelfCalStatus, double(run.report.status));
    const SelfCalSettings& used = run.inEffect;
    result.message =
        QStringLiteral("arc %1 deg, time-out %2; ")
            .arg(used.arc.value_or(0))
            .arg(used.timeout ? QStringLiteral("%1 s").arg(*used.timeout)
                              : QStringLiteral("none")) +
        SelfCalReportText(run.report).trimmed().replace(QLatin1Char('\n'), QLatin1String("; "));
    if (!run.report.successful)
        result.outcome = Outcome::Fail;
    return result;
}

StepResult diag(CommandContext& c, const PlanStep&, PlanRunState&) {
    if (EncoderSignature.FWverMajor != 4)
        return StepResult::Error(QStringLiteral("the diagnostics counters need firmware 4"));
    ReadingOptions options;
    options.diagnostics = true;
    const Reading reading = TakeReading(options, c.front);
    if (!reading.positionRead)
        return readingFailed(reading, 0);
    const DiagnosticsCounters& d = reading.counters;
    StepResult result;
    const auto add = [&result](Measure measure, const std::optional<qint64>& value) {
        if (value)
            result.values << qMakePair(measure, double(*value));
    };
    add(Measure::PowerCycles, d.powerCycles);
    add(Measure::OperatingMinutes, d.operatingMinutes);
    add(Measure::TemperatureMinC, d.temperatureMin);
    add(Measure::TemperatureMaxC, d.temperatureMax);
    add(Measure::SafetyMarginRt, d.safetyMarginRt);
    add(Measure::SafetyMarginPer, d.safetyMarginPer);
    return result;
}

StepResult recordDebug(CommandContext& c, const PlanStep& step, PlanRunState& state) {
    const QString path = QDir(state.workFolder).filePath(QStringLiteral("debug-recording.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return StepResult::Error(QStringLiteral("cannot create the recording: ") +
                                 file.errorString());
    const qint64 count = step.Integer("count");
    const DebugRecordingRun run =
        RecordDebugRows(c.front, file, [count](qint64 rows) { return rows < count; }, {});
    file.close();
    if (!run.fileProblem.isEmpty())
        return StepResult::Error(QStringLiteral("cannot write the recording: ") + run.fileProblem);
    if (run.readingFailed)
        return StepResult::Error(
            QStringLiteral("reading %1 failed: %2").arg(run.rows + 1).arg(lastError()),
            run.linkBroken);
    StepResult result;
    result.values << qMakePair(Measure::FailedReadouts, double(run.failedReadouts));
    result.files << qMakePair(QStringLiteral("debug-recording"), path);
    result.message = QStringLiteral("%1 row(s)").arg(run.rows);
    return result;
}

// A plan's text as the terminal shows it: control characters other than
// line breaks and tabs written as \uXXXX, never acted on.
QString plainText(const QString& text) {
    QString shown;
    for (const QChar c : text)
        shown +=
            c.category() == QChar::Other_Control && c != QLatin1Char('\n') && c != QLatin1Char('\t')
                ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                : QString(c);
    return shown;
}

enum class Answer { Pass, Fail, Neither };

// "p" or "pass", "f" or "fail", in any case; anything else is no answer.
Answer answerOf(const QByteArray& line) {
    const QByteArray word = line.trimmed().toLower();
    if (word == "p" || word == "pass")
        return Answer::Pass;
    if (word == "f" || word == "fail")
        return Answer::Fail;
    return Answer::Neither;
}

void ask(const QString& question) {
    std::fprintf(stderr, "%s\n[p: pass, f: fail] ", qPrintable(plainText(question)));
    std::fflush(stderr);
}

// Asks until the operator answers pass or fail: TypedLine::Line with the
// answer, or why none came. What was typed before the question is dropped,
// so a key pressed early never answers it.
TypedLine askUntilAnswered(const QString& question, const ConsoleFrontEnd& front, Answer& answer) {
    DiscardTypedInput();
    for (;;) {
        ask(question);
        QByteArray line;
        const TypedLine typed = ReadTypedLine(line, front.DeadlineAt());
        if (typed != TypedLine::Line) {
            std::fputc('\n', stderr);
            return typed;
        }
        answer = answerOf(line);
        if (answer != Answer::Neither)
            return typed;
        std::fprintf(stderr, "Answer p (pass) or f (fail).\n");
    }
}

// The operator's pass or fail, typed on the terminal. The step's time-out
// and Ctrl+C end the wait (the runner makes the step ERROR or ABORTED), and
// the end of the input makes it an error.
StepResult prompt(CommandContext& c, const PlanStep& step, PlanRunState& state) {
    if (state.unattended)
        return StepResult::Error(QStringLiteral("an operator prompt in an unattended run"));
    if (!StdinIsTerminal())
        return StepResult::Error(
            QStringLiteral("an operator prompt needs a terminal on standard input"));
    Answer answer = Answer::Neither;
    const TypedLine typed = askUntilAnswered(step.Text("text"), c.front, answer);
    if (typed == TypedLine::EndOfInput)
        return StepResult::Error(QStringLiteral("no answer: the input ended"));
    if (typed == TypedLine::Stopped)
        return StepResult::Error(QStringLiteral("no answer"));
    if (answer == Answer::Fail)
        return StepResult::Failed(QStringLiteral("the operator failed it"));
    StepResult result;
    result.message = QStringLiteral("the operator passed it");
    return result;
}

using StepFunction = StepResult (*)(CommandContext&, const PlanStep&, PlanRunState&);

StepFunction functionOf(StepKind kind) {
    switch (kind) {
    case StepKind::Identify:
        return identify;
    case StepKind::Power:
        return power;
    case StepKind::Spi:
        return spi;
    case StepKind::Config:
        return config;
    case StepKind::Zero:
        return zero;
    case StepKind::PresetMt:
        return presetTurns;
    case StepKind::Store:
        return store;
    case StepKind::PowerCycleVerify:
        return powerCycleVerify;
    case StepKind::Read:
        return read;
    case StepKind::Signal:
        return signal;
    case StepKind::Noise:
        return noise;
    case StepKind::ErrorMap:
        return errorMap;
    case StepKind::Calibrate:
        return calibrate;
    case StepKind::Diag:
        return diag;
    case StepKind::Record:
        return recordDebug;
    case StepKind::Prompt:
        return prompt;
    }
    return nullptr;
}

} // namespace

StepResult RunPlanStep(CommandContext& c, const PlanStep& step, PlanRunState& state) {
    LastError.clear();
    return functionOf(step.kind)(c, step, state);
}
