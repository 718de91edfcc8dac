#include "PositionNoiseStatistics.h"

#include <cmath>

namespace {

// The sample as the nearest value to `reference` modulo a turn.
double nearReference(double sample, double reference, double turn, bool& moved) {
    double offset = sample - reference;
    if (turn > 0 && std::fabs(offset) > turn / 2) {
        offset -= turn * std::round(offset / turn);
        moved = true;
    }
    return reference + offset;
}

} // namespace

TPositionNoise PositionNoiseStatistics(const std::vector<float>& samples, qint64 countsPerTurn) {
    TPositionNoise result;
    if (samples.empty())
        return result;
    const double turn = static_cast<double>(countsPerTurn);
    const double first = samples.front();
    std::vector<double> values;
    values.reserve(samples.size());
    for (float sample : samples)
        values.push_back(nearReference(sample, first, turn, result.AcrossZero));
    result.Count = static_cast<int>(values.size());
    result.Min = 2147483648.0;
    result.Max = -2147483648.0;
    double sum = 0;
    for (double v : values) {
        result.Min = v < result.Min ? v : result.Min;
        result.Max = v > result.Max ? v : result.Max;
        sum += v;
    }
    result.Mean = sum / result.Count;
    double squares = 0;
    for (double v : values)
        squares += (v - result.Mean) * (v - result.Mean);
    result.Sigma = std::sqrt(squares / result.Count);
    return result;
}
