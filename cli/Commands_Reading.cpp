// read, noise and record.
#include "BlockingWorkflows.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "DebugRecording.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "PositionNoise.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "ReadingItem.h"
#include "Session.h"
#include "SignalLevel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

namespace {

// --resolution NOM/DEN as units per count; false when it is not one.
bool unitsPerCountOf(const QString& resolution, double& unitsPerCount) {
    const QStringList parts = resolution.split(QLatin1Char('/'));
    bool nominatorOk = false, denominatorOk = false;
    const double nominator = parts.value(0).toDouble(&nominatorOk);
    const double denominator = parts.value(1).toDouble(&denominatorOk);
    if (parts.size() != 2 || !nominatorOk || !denominatorOk || denominator <= 0)
        return false;
    unitsPerCount = nominator / denominator;
    return true;
}

// --resolution NOM/DEN and --unit; degrees by default.
Scaling scalingOf(const CommandContext& c) {
    Scaling scaling;
    scaling.unit = c.request.IsSet("unit") ? c.request.Value("unit") : QStringLiteral("deg");
    scaling.unitsPerCount = 360.0 / qMax(1, STcounts);
    if (c.request.IsSet("resolution"))
        unitsPerCountOf(c.request.Value("resolution"), scaling.unitsPerCount);
    return scaling;
}

int readingFailure(const Reading& reading) {
    return Fail(reading.linkBroken ? ExitLink : ExitEncoder,
                QStringLiteral("the reading failed: ") +
                    QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" ")));
}

} // namespace

int CheckRead(const CliRequest& request) {
    double unitsPerCount = 0;
    if (request.IsSet("resolution") && !unitsPerCountOf(request.Value("resolution"), unitsPerCount))
        return Fail(ExitUsage, QStringLiteral("--resolution takes NOM/DEN, e.g. 360/131072"));
    if (request.IsSet("follow") && request.format == OutputFormat::Json)
        return Fail(ExitUsage, QStringLiteral("--follow streams: use --format jsonl, csv or text"));
    return ExitDone;
}

int RunRead(CommandContext& c) {
    qint64 count = 1, interval = 0;
    if (!NumberOption(c, "count", 1, count) || !NumberOption(c, "interval", 0, interval))
        return ExitUsage;
    const Scaling scaling = scalingOf(c);
    const bool follow = c.request.IsSet("follow");
    ReadingOptions options;
    options.decodedStatus = c.request.IsSet("decoded");
    options.temperature = options.signalLevel = c.request.IsSet("signal");
    QElapsedTimer clock;
    clock.start();
    int status = ExitDone;
    qint64 taken = 0;
    while ((follow || taken < count) && !Interrupted()) {
        const Reading reading = TakeReading(options, c.front);
        if (!reading.positionRead) {
            status = readingFailure(reading);
            break;
        }
        ++taken;
        c.out.ItemLater(
            [values = ReadingValuesOf(reading, taken, clock.elapsed(), options.signalLevel),
             scaling](OutputFormat format) { return ReadingItem(values, scaling, format); });
        c.front.FlushCommLog();
        if (interval > 0 && (follow || taken < count))
            c.front.Wait(int(interval));
    }
    if (Interrupted())
        status = ExitInterrupted;
    c.out.Result(ResultOf(c, {{"count", double(taken)}, {"complete", status == ExitDone}}),
                 {QStringLiteral("%1 reading(s)").arg(taken)});
    return status;
}

namespace {

// The noise figures as q714 words them, from the values (the window's
// report is for pasting into its spreadsheets).
QStringList noiseText(const PositionNoiseResult& result) {
    const TPositionNoise& n = result.noise;
    const auto line = [](const char* label, const QString& value) {
        return QStringLiteral("%1%2").arg(QLatin1String(label), -22).arg(value);
    };
    const auto counts = [](double value) { return QString::number(value, 'f', 1); };
    QStringList lines{
        line("samples", QString::number(n.Count)),
        line("min", counts(n.Min)),
        line("max", counts(n.Max)),
        line("spread", counts(n.Max - n.Min)),
        line("mean", counts(n.Mean)),
        line("6 sigma", counts(6 * n.Sigma)),
        line("signal level average", result.averageSignalLevel
                                         ? QString::number(*result.averageSignalLevel, 'f', 1)
                                         : QStringLiteral("no signal level read"))};
    if (n.AcrossZero)
        lines << QStringLiteral("(samples across the zero of the turn taken relative to the "
                                "first one)");
    return lines;
}

} // namespace

int RunNoise(CommandContext& c) {
    qint64 samples = 0;
    if (!NumberOption(c, "samples", PositionNoiseReadings, samples))
        return ExitUsage;
    ProgressReport progress(c, QStringLiteral("noise"), samples);
    const NoiseRun run =
        MeasureNoise(c.front, int(samples), [&progress](qint64 done) { progress.Step(done); });
    const TPositionNoise& n = run.result.noise;
    const std::optional<double>& signal = run.result.averageSignalLevel;
    const QJsonObject fields{{"samples", n.Count},
                             {"min", n.Min},
                             {"max", n.Max},
                             {"spread", n.Max - n.Min},
                             {"mean", n.Mean},
                             {"six_sigma", 6 * n.Sigma},
                             {"signal_level_average", signal ? QJsonValue(*signal) : QJsonValue()},
                             {"across_zero", n.AcrossZero},
                             {"complete", n.Count == samples}};
    c.out.Result(ResultOf(c, fields), noiseText(run.result));
    if (Interrupted())
        return ExitInterrupted;
    return run.readingFailed
               ? Fail(ExitEncoder,
                      QStringLiteral("a reading failed after %1 sample(s)").arg(n.Count))
               : ExitDone;
}

int CheckDebugRecording(const CliRequest& request) {
    if (request.Value("debug").isEmpty())
        return Fail(ExitUsage, QStringLiteral("record needs --debug FILE"));
    if (request.IsSet("count") == request.IsSet("seconds"))
        return Fail(ExitUsage, QStringLiteral("record needs --count N or --seconds S"));
    return ExitDone;
}

int RunDebugRecording(CommandContext& c) {
    const QString path = c.request.Value("debug");
    qint64 count = 0, seconds = 0;
    if (!NumberOption(c, "count", 0, count) || !NumberOption(c, "seconds", 0, seconds))
        return ExitUsage;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return Fail(ExitFile, QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
    ProgressReport progress(c, QStringLiteral("record"), count > 0 ? count : seconds);
    QElapsedTimer clock;
    clock.start();
    const DebugRecordingRun run = RecordDebugRows(
        c.front, file,
        [&](qint64 rows) { return count > 0 ? rows < count : clock.elapsed() < seconds * 1000; },
        [&](qint64 rows) { progress.Step(count > 0 ? rows : clock.elapsed() / 1000); });
    const qint64 rows = run.rows, failedReadouts = run.failedReadouts;
    int status = ExitDone;
    if (!run.fileProblem.isEmpty())
        status = Fail(ExitFile, QStringLiteral("cannot write %1: %2").arg(path, run.fileProblem));
    else if (run.readingFailed)
        status = Fail(run.linkBroken ? ExitLink : ExitEncoder,
                      QStringLiteral("the reading failed: ") +
                          QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" ")));
    else if (Interrupted())
        status = ExitInterrupted;
    c.out.Result(ResultOf(c, {{"file", path},
                              {"rows", double(rows)},
                              {"failed_readouts", double(failedReadouts)},
                              {"complete", status == ExitDone}}),
                 {QStringLiteral("%1 row(s) in %2, %3 without their debug record")
                      .arg(rows)
                      .arg(path)
                      .arg(failedReadouts)});
    return status;
}
