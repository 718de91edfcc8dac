#include "PositionNoise.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "NumberFormat.h"
#include "Q714_SPI_Dravonel.h"

#include <cmath>
#include <vector>

namespace {

constexpr int SignalLevelEvery = 100; // readings per signal-level reading
constexpr int FigureDecimals = 1;
constexpr int FigureSignificantDigits = 10;
constexpr int SignalSignificantDigits = 6;

const QString AcrossZeroNote =
    QStringLiteral("(samples across the zero of the turn taken relative to the first one)");

} // namespace

PositionNoiseResult MeasurePositionNoise(FrontEnd& frontEnd, const PositionNoiseHooks& hooks,
                                         int readings) {
    std::vector<float> samples;
    samples.reserve(readings);
    double signalSum = 0;
    int signalReadings = 0;
    bool failed = false;
    int i = 1;
    do {
        const bool withSignalLevel = i % SignalLevelEvery == 0;
        failed = hooks.takeReading(withSignalLevel);
        if (withSignalLevel && !failed) {
            signalSum += EncoderStatus.SignalLevel;
            ++signalReadings;
        }
        // A reading that fails gives no sample: only readings taken count.
        if (!failed)
            samples.push_back(static_cast<float>(EncoderPosition.ST_value));
        ++i;
        if (hooks.progress)
            hooks.progress(qMin(100, static_cast<int>(std::nearbyint(i * 100.0 / readings))));
    } while (i <= readings && !frontEnd.Stopping() && !failed);

    PositionNoiseResult result;
    result.noise = PositionNoiseStatistics(samples, STcounts);
    if (signalReadings > 0)
        result.averageSignalLevel = signalSum / signalReadings;
    result.report = PositionNoiseReport(result.noise, result.averageSignalLevel.value_or(0),
                                        &result.clipboardLine);
    return result;
}

QStringList PositionNoiseReport(const TPositionNoise& noise, double averageSignalLevel,
                                QString* clipboardLine) {
    const NumberFormat comma{QLocale(QLocale::German, QLocale::Germany), QChar()};
    const auto figure = [&comma](double value) {
        return comma.Fixed(value, FigureDecimals, FigureSignificantDigits);
    };
    const QString signal = comma.Fixed(averageSignalLevel, 0, SignalSignificantDigits);
    const QString summary = signal + QLatin1Char('\t') + figure(6 * noise.Sigma);
    if (clipboardLine)
        *clipboardLine = summary;
    QStringList lines = {QStringLiteral("vzorcev:\t%1").arg(noise.Count),
                         QStringLiteral("minn:\t") + figure(noise.Min),
                         QStringLiteral("maxx:\t") + figure(noise.Max),
                         QStringLiteral("raztros:\t") + figure(noise.Max - noise.Min),
                         QStringLiteral("povprecje:\t") + figure(noise.Mean),
                         QStringLiteral("6 sigma:\t") + figure(6 * noise.Sigma),
                         QStringLiteral("Sig Lvl:\t") + signal,
                         QString(),
                         summary};
    if (noise.AcrossZero)
        lines << AcrossZeroNote;
    return lines;
}
