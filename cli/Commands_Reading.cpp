// read, noise and record.
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "DebugRecording.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "PositionNoise.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "Session.h"
#include "SignalLevel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

namespace {

constexpr int SupplyRefreshEvery = 1001; // readings between two supply states

struct Scaling {
    double unitsPerCount = 0;
    QString unit;
};

// --resolution NOM/DEN and --unit; degrees by default.
bool scalingOf(const CommandContext& c, Scaling& scaling) {
    scaling.unit = c.request.IsSet("unit") ? c.request.Value("unit") : QStringLiteral("deg");
    scaling.unitsPerCount = 360.0 / qMax(1, STcounts);
    if (!c.request.IsSet("resolution"))
        return true;
    const QStringList parts = c.request.Value("resolution").split(QLatin1Char('/'));
    bool nominatorOk = false, denominatorOk = false;
    const double nominator = parts.value(0).toDouble(&nominatorOk);
    const double denominator = parts.value(1).toDouble(&denominatorOk);
    if (parts.size() != 2 || !nominatorOk || !denominatorOk || denominator <= 0) {
        Fail(ExitUsage, QStringLiteral("--resolution takes NOM/DEN, e.g. 360/131072"));
        return false;
    }
    scaling.unitsPerCount = nominator / denominator;
    return true;
}

QJsonArray textsOf(const QString& statusTexts) {
    QJsonArray texts;
    for (const QString& text : statusTexts.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        texts.append(text);
    return texts;
}

QJsonObject signalFields() {
    const TEncoderSignature& s = EncoderSignature;
    const TEncoderStatus& st = EncoderStatus;
    QJsonObject fields{{"temperature_sensor_c", st.TemperatureSEN}};
    if (Present_SIGNAL_LEVEL) {
        fields.insert(QStringLiteral("signal_level"), st.SignalLevel);
        fields.insert(QStringLiteral("air_gap_um"),
                      double(AirGapMicrometres(st.SignalLevel, s.AirGapK, s.AirGapN)));
    }
    if (ThermistorReadingValid(st.TemperatureEXT))
        fields.insert(QStringLiteral("temperature_thermistor_c"),
                      double(ThermistorCelsiusBeta(st.TemperatureEXT)));
    return fields;
}

QJsonObject readingJson(const Reading& reading, qint64 index, qint64 timeMs, const Scaling& scaling,
                        bool withSignal) {
    const TEncoderPosition& p = EncoderPosition;
    QJsonObject item{{"index", double(index)},
                     {"time_ms", double(timeMs)},
                     {"multiturn", reading.frameMT},
                     {"singleturn", double(reading.frameST)},
                     {"counts", double(reading.frameMTST)},
                     {"position", double(reading.frameMTST) * scaling.unitsPerCount},
                     {"unit", scaling.unit},
                     {"error", p.ErrBit},
                     {"warning", p.WarnBit},
                     {"crc_error", p.ErrCRC},
                     {"status", double(EncoderStatus.DetailedStatus)},
                     {"status_bits", DetailedStatusBits()},
                     {"status_texts", textsOf(reading.statusTexts)},
                     {"raw", QString::fromLatin1(p.RxData)}};
    if (reading.twoChannels)
        item.insert(QStringLiteral("channel1"),
                    QJsonObject{{"multiturn", p.CH1_MT_value},
                                {"singleturn", double(p.CH1_ST_value)},
                                {"counts", double(p.CH1_MTST_value)},
                                {"position", double(p.CH1_MTST_value) * scaling.unitsPerCount}});
    if (withSignal)
        item.insert(QStringLiteral("signal"), signalFields());
    return Output::Tagged(QStringLiteral("reading"), item);
}

QString flag(bool set, const char* name) {
    return set ? QLatin1String(name) : QStringLiteral("-");
}

QString readingText(const QJsonObject& item) {
    const TEncoderPosition& p = EncoderPosition;
    QString text = QStringLiteral("%1  MT %2  ST %3  %4 %5  %6 %7 %8")
                       .arg(item.value("index").toInteger())
                       .arg(item.value("multiturn").toInt())
                       .arg(qint64(item.value("singleturn").toDouble()))
                       .arg(item.value("position").toDouble(), 0, 'f', 3)
                       .arg(item.value("unit").toString(), flag(p.ErrBit, "error"),
                            flag(p.WarnBit, "warning"), flag(p.ErrCRC, "crc"));
    const QJsonArray texts = item.value("status_texts").toArray();
    for (const QJsonValue& t : texts)
        text += QStringLiteral("  [") + t.toString() + QLatin1Char(']');
    if (item.contains(QLatin1String("signal"))) {
        const QJsonObject s = item.value("signal").toObject();
        if (s.contains(QLatin1String("signal_level")))
            text += QStringLiteral("  signal %1 / %2 um")
                        .arg(s.value("signal_level").toInt())
                        .arg(s.value("air_gap_um").toDouble(), 0, 'f', 0);
        text += QStringLiteral("  %1 °C").arg(s.value("temperature_sensor_c").toInt());
    }
    return text;
}

int readingFailure(const Reading& reading) {
    return Fail(reading.linkBroken ? ExitLink : ExitEncoder,
                QStringLiteral("the reading failed: ") +
                    QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" ")));
}

} // namespace

int RunRead(CommandContext& c) {
    qint64 count = 1, interval = 0;
    Scaling scaling;
    if (!NumberOption(c, "count", 1, 1000000000, 1, count) ||
        !NumberOption(c, "interval", 0, 3600000, 0, interval) || !scalingOf(c, scaling))
        return ExitUsage;
    const bool follow = c.request.IsSet("follow");
    if (follow && c.request.format == OutputFormat::Json)
        return Fail(ExitUsage, QStringLiteral("--follow streams: use --format jsonl, csv or text"));
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
        const QJsonObject item =
            readingJson(reading, taken, clock.elapsed(), scaling, options.signalLevel);
        c.out.Item(item, readingText(item));
        c.front.FlushCommLog();
        if (interval > 0 && (follow || taken < count))
            c.front.Wait(int(interval));
    }
    if (Interrupted())
        status = ExitInterrupted;
    c.out.Result(ResultOf(c, {{"readings", double(taken)}, {"complete", status == ExitDone}}),
                 {QStringLiteral("%1 reading(s)").arg(taken)}, QStringLiteral("readings"));
    return status;
}

int RunNoise(CommandContext& c) {
    qint64 samples = 0;
    if (!NumberOption(c, "samples", 2, 10000000, PositionNoiseReadings, samples))
        return ExitUsage;
    ProgressReport progress(c, QStringLiteral("noise"), samples);
    qint64 done = 0;
    bool failed = false;
    PositionNoiseHooks hooks;
    hooks.takeReading = [&](bool withSignalLevel) {
        ReadingOptions options;
        options.signalLevel = withSignalLevel;
        const Reading reading = TakeReading(options, c.front);
        failed = !reading.positionRead;
        return failed;
    };
    hooks.progress = [&](int) { progress.Step(++done); };
    const PositionNoiseResult result = MeasurePositionNoise(c.front, hooks, int(samples));
    const TPositionNoise& n = result.noise;
    const QJsonObject fields{{"samples", n.Count},
                             {"min", n.Min},
                             {"max", n.Max},
                             {"spread", n.Max - n.Min},
                             {"mean", n.Mean},
                             {"six_sigma", 6 * n.Sigma},
                             {"signal_level_average", result.averageSignalLevel},
                             {"across_zero", n.AcrossZero},
                             {"complete", n.Count == samples}};
    c.out.Result(ResultOf(c, fields), result.report);
    if (Interrupted())
        return ExitInterrupted;
    return failed ? Fail(ExitEncoder,
                         QStringLiteral("a reading failed after %1 sample(s)").arg(n.Count))
                  : ExitDone;
}

int RunRecord(CommandContext& c) {
    const QString path = c.request.Value("debug");
    if (path.isEmpty())
        return Fail(ExitUsage, QStringLiteral("record needs --debug FILE"));
    qint64 count = 0, seconds = 0;
    if (!NumberOption(c, "count", 1, 1000000000, 0, count) ||
        !NumberOption(c, "seconds", 1, 100000000, 0, seconds))
        return ExitUsage;
    if ((count > 0) == (seconds > 0))
        return Fail(ExitUsage, QStringLiteral("record needs --count N or --seconds S"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return Fail(ExitFile, QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
    QString reason;
    if (!AppendWhole(file, DebugRecordHeader() + "\r\n", reason))
        return Fail(ExitFile, QStringLiteral("cannot write %1: %2").arg(path, reason));
    if (!Dravonel_UnlockDebug())
        c.front.Log(LastError);
    ProgressReport progress(c, QStringLiteral("record"), count > 0 ? count : seconds);
    const quint32 start = TickCountMs();
    QElapsedTimer clock;
    clock.start();
    QByteArray supply;
    qint64 rows = 0, failedReadouts = 0;
    int status = ExitDone;
    while (!Interrupted() && (count > 0 ? rows < count : clock.elapsed() < seconds * 1000)) {
        ReadingOptions options;
        options.temperature = options.signalLevel = true;
        options.debugRecord = true;
        options.unlockRefusedDebugRecord = true;
        options.supplyState = rows % SupplyRefreshEvery == 0;
        const Reading reading = TakeReading(options, c.front);
        if (!reading.positionRead) {
            status = readingFailure(reading);
            break;
        }
        if (reading.supplyStateRead)
            supply = reading.supplyState;
        DebugRecordReading row{TickCountMs() - start,   reading.statusTexts, supply,
                               reading.debugRecordRead, reading.frameMT,     reading.frameST};
        if (!AppendWhole(file, DebugRecordRow(row), reason)) {
            status = Fail(ExitFile, QStringLiteral("cannot write %1: %2").arg(path, reason));
            break;
        }
        ++rows;
        failedReadouts += reading.debugRecordRead ? 0 : 1;
        progress.Step(count > 0 ? rows : clock.elapsed() / 1000);
        c.front.FlushCommLog();
    }
    if (status == ExitDone && Interrupted())
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
