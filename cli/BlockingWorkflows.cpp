#include "BlockingWorkflows.h"

#include "DebugRecording.h"
#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"

#include <QFile>

namespace {
constexpr int SelfCalTickMs = 500;
constexpr int SupplyRefreshEvery = 1001; // rows between two supply states of a recording
} // namespace

CalibrationRun CalibrateAndWait(FrontEnd& front, const SelfCalOptions& options,
                                const std::function<void(int tick, int ticks)>& tick) {
    CalibrationRun calibration;
    calibration.applied = ApplySelfCalSettings(options, calibration.inEffect, front);
    if (!calibration.applied)
        return calibration;
    SelfCalRun run;
    calibration.started = StartSelfCalibration({}, run, front); // with what was just set
    if (!calibration.started)
        return calibration;
    const int ticks = SelfCalProgressTicks(calibration.inEffect.timeout);
    for (int t = 1; t <= ticks; ++t) {
        front.Wait(SelfCalTickMs);
        if (tick)
            tick(t, ticks);
        if (front.Stopping()) {
            calibration.stopped = true;
            return calibration;
        }
        if (t < ticks && SelfCalibrationHasEnded(run))
            break;
        LastError.clear();
    }
    calibration.report = ReadSelfCalibrationStatus(run.counterAtStart, front);
    return calibration;
}

NoiseRun MeasureNoise(FrontEnd& front, int samples, const std::function<void(qint64)>& progress) {
    NoiseRun run;
    qint64 done = 0;
    PositionNoiseHooks hooks;
    hooks.takeReading = [&](bool withSignalLevel) {
        ReadingOptions options;
        options.signalLevel = withSignalLevel;
        run.readingFailed = !TakeReading(options, front).positionRead;
        return run.readingFailed;
    };
    hooks.progress = [&](int) {
        if (progress)
            progress(++done);
    };
    run.result = MeasurePositionNoise(front, hooks, samples);
    return run;
}

DebugRecordingRun RecordDebugRows(FrontEnd& front, QFile& file,
                                  const std::function<bool(qint64 rows)>& more,
                                  const std::function<void(qint64 rows)>& progress) {
    DebugRecordingRun run;
    if (!AppendWhole(file, DebugRecordHeader() + "\r\n", run.fileProblem))
        return run;
    if (!Dravonel_UnlockDebug())
        front.Log(LastError);
    const quint32 start = TickCountMs();
    QByteArray supply;
    while (!front.Stopping() && more(run.rows)) {
        ReadingOptions options;
        options.temperature = options.signalLevel = true;
        options.debugRecord = true;
        options.unlockRefusedDebugRecord = true;
        options.supplyState = run.rows % SupplyRefreshEvery == 0;
        const Reading reading = TakeReading(options, front);
        if (!reading.positionRead) {
            run.readingFailed = true;
            run.linkBroken = reading.linkBroken;
            return run;
        }
        if (reading.supplyStateRead)
            supply = reading.supplyState;
        const DebugRecordReading row{TickCountMs() - start,   reading.statusTexts, supply,
                                     reading.debugRecordRead, reading.frameMT,     reading.frameST};
        if (!AppendWhole(file, DebugRecordRow(row), run.fileProblem))
            return run;
        ++run.rows;
        run.failedReadouts += reading.debugRecordRead ? 0 : 1;
        if (progress)
            progress(run.rows);
    }
    return run;
}

ZeroRun SetZeroAndVerify(FrontEnd& front) {
    SetZeroHooks hooks;
    hooks.refreshSettings = [&front]() -> ZeroReference {
        const EncoderSettings settings = ReadEncoderSettings(front);
        if (settings.positionOffset)
            return {*settings.positionOffset, {}};
        return {std::nullopt,
                QStringLiteral("The position offset could not be read: ") +
                    QString(LastError).replace(QLatin1String("\r\n"), QLatin1String(" "))};
    };
    hooks.takeReading = [&front] { return TakeReading({}, front).positionRead; };
    ZeroRun run;
    run.zero = SetZeroHere(front, hooks);
    quint32 offset = 0;
    run.verified =
        run.zero.done && Dravonel_ReadPositionOffset(offset) && offset == run.zero.newOffset;
    return run;
}
