#pragma once
// The position-noise measurement: consecutive readings of a resting shaft,
// the spread, mean and six standard deviations of the single-turn count, and
// the average signal level of every hundredth reading.

#include "PositionNoiseStatistics.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class FrontEnd;

struct PositionNoiseHooks {
    // One reading, with the signal level read too when asked; true when it
    // failed (a time-out or another communication error ends the run).
    std::function<bool(bool withSignalLevel)> takeReading;
    // The run's progress in per cent, after each reading.
    std::function<void(int percent)> progress;
};

struct PositionNoiseResult {
    TPositionNoise noise;
    // Of every hundredth reading; none when no such reading was taken (a run
    // shorter than a hundred readings, or one that ended before).
    std::optional<double> averageSignalLevel;
    QStringList report;    // the result's lines
    QString clipboardLine; // signal level, tab, 6 sigma
};

inline constexpr int PositionNoiseReadings = 5000;

// Takes up to `readings` readings (fewer when one fails or the front-end
// stops) and reports on those taken.
PositionNoiseResult MeasurePositionNoise(FrontEnd& frontEnd, const PositionNoiseHooks& hooks,
                                         int readings = PositionNoiseReadings);
// The result's lines for pasting into a spreadsheet: always with a decimal
// comma and without thousands separators, whatever the program's number
// format. The window's texts: a signal level not read shows as 0.
QStringList PositionNoiseReport(const TPositionNoise& noise, double averageSignalLevel,
                                QString* clipboardLine = nullptr);
