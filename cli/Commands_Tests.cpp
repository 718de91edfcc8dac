// calibrate, diag, errormap and power-cycle.
#include "AdapterWorkflows.h"
#include "BlockingWorkflows.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "Diagnostics.h"
#include "Enkoderji_splosno.h"
#include "ErrorMap.h"
#include "ExitStatus.h"
#include "NumberFormat.h"
#include "PowerCycling.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "SelfCalibration.h"
#include "Session.h"
#include "Ulvax_konstante.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>

namespace {

const char* const PanelNames[SelfCalPanelCount] = {
    "arc_out_of_range", "finished",       "out_of_range",  "timeout",         "successful",
    "no_correction",    "user_error_map", "encoder_error", "numerical_error", "radial_displacement",
    "nvram_write_error"};

QJsonObject panelsJson(const SelfCalReport& report) {
    QJsonObject panels;
    for (int panel = 0; panel < SelfCalPanelCount; ++panel) {
        const std::optional<SelfCalSignal> signal = report.panels[panel];
        if (signal)
            panels.insert(QLatin1String(PanelNames[panel]), *signal != SelfCalSignal::Off);
    }
    return panels;
}

// The chart is drawn by a helper beside the program, so that q714 itself
// needs no graphics library.
QString chartProgram() {
    const QDir own(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {own.filePath(QStringLiteral("q714-chart")),
          own.filePath(QStringLiteral("../lib/q714-7r-dravonel-spi/q714-chart"))})
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    return QString();
}

bool writeChart(const QByteArray& csv, const QString& path, QString& reason) {
    const QString program = chartProgram();
    if (program.isEmpty()) {
        reason = QStringLiteral("the chart helper q714-chart is not installed");
        return false;
    }
    QProcess chart;
    chart.start(program, {path});
    chart.write(csv);
    chart.closeWriteChannel();
    if (!chart.waitForFinished(60000) || chart.exitStatus() != QProcess::NormalExit ||
        chart.exitCode() != 0) {
        reason = QString::fromLocal8Bit(chart.readAllStandardError()).trimmed();
        if (reason.isEmpty())
            reason = chart.errorString();
        return false;
    }
    return true;
}

// The phases' lengths when --min and --max are not given.
constexpr qint64 PowerCycleShortestMs = 150;
constexpr qint64 PowerCycleLongestMs = 400;

double degreesOf(qint64 counts) {
    return double(counts) * 360.0 / qMax(1, STcounts);
}

} // namespace

int RunCalibrate(CommandContext& c) {
    qint64 arc = 0, timeout = 0;
    if (!NumberOption(c, "arc", 0, arc) || !NumberOption(c, "timeout", 0, timeout))
        return ExitUsage;
    SelfCalOptions options;
    if (c.request.IsSet("arc"))
        options.arcDeg = static_cast<quint16>(arc);
    if (c.request.IsSet("timeout"))
        options.timeoutS = static_cast<quint8>(timeout);
    if (const QString problem = SelfCalOptionsProblem(options); !problem.isEmpty())
        return Fail(ExitUsage, problem + QStringLiteral("; nothing was written"));
    ProgressReport progress(c, QStringLiteral("calibrate"), 1);
    const CalibrationRun run = CalibrateAndWait(c.front, options, [&progress](int tick, int ticks) {
        progress.SetTotal(ticks);
        progress.Step(tick);
    });
    if (!run.applied)
        return Fail(ExitEncoder, QStringLiteral("the arc and time-out could not be set; the "
                                                "self-calibration was not started"));
    if (!run.started)
        return Fail(ExitEncoder, QStringLiteral("the self-calibration could not be started"));
    if (run.stopped)
        return Fail(ExitInterrupted, QStringLiteral("interrupted: the encoder goes on calibrating "
                                                    "and answers again when it is done"));
    const SelfCalReport& report = run.report;
    if (!report.read)
        return Fail(ExitEncoder, QStringLiteral("the self-calibration status could not be read"));
    const SelfCalSettings& used = run.inEffect;
    const QString text = SelfCalReportText(report);
    c.out.Result(
        ResultOf(c, {{"arc", double(*used.arc)},
                     {"arc_written", options.arcDeg.has_value()},
                     {"timeout_s", used.timeout ? QJsonValue(double(*used.timeout)) : QJsonValue()},
                     {"timeout_written", options.timeoutS.has_value()},
                     {"status", double(report.status)},
                     {"results", QJsonArray::fromStringList(text.split(QLatin1Char('\n')))},
                     {"panels", panelsJson(report)},
                     {"finished", report.finished},
                     {"successful", report.successful}}),
        text.split(QLatin1Char('\n')));
    return report.successful ? ExitDone : ExitCheckFailed;
}

int RunDiag(CommandContext& c) {
    if (c.request.ChangesDevice() &&
        !Confirm(c, QStringLiteral("Run the diagnostics actions on the encoder?")))
        return ExitUsage;
    const bool hasCounters = EncoderSignature.FWverMajor == 4;
    QJsonObject fields{{"has_counters", hasCounters}};
    QStringList text;
    if (hasCounters) {
        ReadingOptions options;
        options.diagnostics = true;
        const Reading reading = TakeReading(options, c.front);
        const DiagnosticsCounters& d = reading.counters;
        const auto counter = [](const std::optional<qint64>& value) {
            return value ? QJsonValue(double(*value)) : QJsonValue();
        };
        fields.insert(QStringLiteral("counters"),
                      QJsonObject{{"power_cycles", counter(d.powerCycles)},
                                  {"operating_minutes", counter(d.operatingMinutes)},
                                  {"temperature_min_c", counter(d.temperatureMin)},
                                  {"temperature_max_c", counter(d.temperatureMax)},
                                  {"safety_margin_rt", counter(d.safetyMarginRt)},
                                  {"safety_margin_per", counter(d.safetyMarginPer)}});
    } else {
        const QString firmware = EncoderSignature.FWverStr;
        text << QStringLiteral("no diagnostics counters (they come with firmware 4%1)")
                    .arg(firmware.isEmpty()
                             ? QString()
                             : QStringLiteral("; this encoder has firmware ") + firmware);
    }
    if (c.request.IsSet("clear-persistent")) {
        ClearPersistentStatus(c.front);
        fields.insert(QStringLiteral("persistent_status_cleared"), Present_PERSISTENT_STATUS);
    }
    if (c.request.IsSet("reset-margin")) {
        ResetDecodingSafetyMargin(c.front);
        fields.insert(QStringLiteral("safety_margin_reset"), LastError.isEmpty());
    }
    if (c.request.IsSet("write-access"))
        fields.insert(QStringLiteral("write_access"), ReadWriteAccessStatus(c.front));
    const QJsonObject counters = fields.value(QLatin1String("counters")).toObject();
    for (auto it = counters.begin(); it != counters.end(); ++it)
        text << QStringLiteral("%1 = %2").arg(it.key(), it.value().toVariant().toString());
    if (fields.contains(QLatin1String("write_access")))
        text << fields.value(QLatin1String("write_access")).toString();
    c.out.Result(ResultOf(c, fields), text);
    return ExitDone;
}

int RunErrorMap(CommandContext& c) {
    ProgressReport progress(c, QStringLiteral("errormap"), ErrorMapPoints);
    const ErrorMapReadout map =
        ReadErrorMap(c.front, [&progress](int point) { progress.Step(point + 1); });
    const QList<QPointF> points = ErrorMapChartPoints(map);
    for (const QPointF& point : points)
        c.out.Item(Output::Tagged(QStringLiteral("point"),
                                  {{"point", int(point.x())}, {"correction", int(point.y())}}),
                   QStringLiteral("%1;%2").arg(int(point.x())).arg(int(point.y())));
    if (!map.Complete()) {
        c.out.Result(ResultOf(c, {{"points", int(points.size())},
                                  {"complete", false},
                                  {"failed_point", map.failedPoint}}),
                     {QStringLiteral("incomplete: %1 of 512 points").arg(points.size())});
        return Fail(
            ExitEncoder,
            QStringLiteral("point %1 could not be read; no file written").arg(map.failedPoint));
    }
    const QByteArray csv = ErrorMapFileText(points);
    QString reason;
    QJsonObject fields{{"points", int(points.size())}, {"complete", true}};
    for (const char* option : {"csv", "png"}) {
        if (!c.request.IsSet(option))
            continue;
        const QString path = c.request.Value(option);
        const bool written = QLatin1String(option) == QLatin1String("csv")
                                 ? WriteWholeFile(path, csv, reason)
                                 : writeChart(csv, path, reason);
        if (!written)
            return Fail(ExitFile, QStringLiteral("cannot write %1: %2").arg(path, reason));
        fields.insert(QLatin1String(option), path);
    }
    c.out.Result(ResultOf(c, fields), {QStringLiteral("512 points")});
    return ExitDone;
}

int CheckPowerCycle(const CliRequest& request) {
    const qint64 shortest = request.Number("min", PowerCycleShortestMs);
    const qint64 longest = request.Number("max", PowerCycleLongestMs);
    if (shortest > longest)
        return Fail(ExitUsage, QStringLiteral("--min (%1 ms) must not exceed --max (%2 ms)")
                                   .arg(shortest)
                                   .arg(longest));
    return ExitDone;
}

int RunPowerCycle(CommandContext& c) {
    qint64 cycles = 0, shortest = 0, longest = 0;
    if (!NumberOption(c, "cycles", 10, cycles) ||
        !NumberOption(c, "min", PowerCycleShortestMs, shortest) ||
        !NumberOption(c, "max", PowerCycleLongestMs, longest))
        return ExitUsage;
    const bool stationary = c.request.IsSet("stationary");
    const NumberFormat format{QLocale::c(), QChar()};
    QRandomGenerator random(QRandomGenerator::global()->generate());
    qint64 left = cycles;
    double position = 0;
    bool readingFailed = false;
    const auto read = [&c, &position, &readingFailed] {
        const Reading reading = TakeReading({}, c.front);
        readingFailed = readingFailed || !reading.positionRead;
        if (reading.positionRead)
            position = degreesOf(reading.frameMTST); // a failed one keeps the last good reading
    };
    read();
    PowerCyclingState state;
    state.PowerOnStatus = true; // connected: the supply is on
    BeginPowerCycling(state, position);
    PowerCycleHooks hooks;
    hooks.takeReading = read;
    hooks.position = [&position] { return position; };
    hooks.cyclesLeft = [&left] { return left; };
    ProgressReport progress(c, QStringLiteral("power-cycle"), cycles);
    qint64 jumps = 0;
    const auto report = [&](const QStringList& found) {
        for (const QString& jump : found) {
            ++jumps;
            c.out.Item(Output::Tagged(QStringLiteral("jump"), {{"cycles_left", double(left)},
                                                               {"position_deg", position},
                                                               {"text", jump}}),
                       jump);
        }
    };
    const auto phase = [&] {
        c.front.Wait(PowerCyclePhaseMs(int(shortest), int(longest), random));
        return !Interrupted();
    };
    while (left > 0 && phase()) {
        const PowerCycleStep step = PowerCyclePhase(state, stationary, format, c.front, hooks);
        report(step.jumps);
        if (step.switchedOn)
            progress.Step(cycles - --left);
    }
    // The last power-up is checked like every other one.
    if (left == 0 && state.PowerOnStatus && phase())
        report(CheckPowerUp(state, stationary, format, c.front, hooks));
    const bool interrupted = Interrupted();
    if (!state.PowerOnStatus) // stopped in an off-phase: the supply goes back on
        PowerOnEncoder(c.session.Voltage(), c.front);
    c.out.Result(ResultOf(c, {{"cycles", double(cycles - left)},
                              {"jumps", double(jumps)},
                              {"failed_readings", readingFailed},
                              {"complete", !interrupted}}),
                 {QStringLiteral("%1 cycle(s), %2 jump(s)").arg(cycles - left).arg(jumps)});
    if (interrupted)
        return Fail(
            ExitInterrupted,
            QStringLiteral("interrupted after %1 cycle(s); the supply is on").arg(cycles - left));
    if (readingFailed)
        return Fail(ExitEncoder, QStringLiteral("a reading failed"));
    return jumps > 0 ? ExitCheckFailed : ExitDone;
}
