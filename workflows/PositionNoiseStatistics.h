#pragma once
// Statistics of the position-noise measurement: spread, mean and standard
// deviation of single-turn counts taken from a resting shaft.

#include <QtGlobal>
#include <vector>

struct TPositionNoise {
    int Count = 0; // samples the figures cover
    double Min = 0;
    double Max = 0;
    double Mean = 0;
    double Sigma = 0; // population standard deviation
    // Some samples lay across the zero of the turn from the first one and
    // were taken relative to it (a count of 1 next to one of the turn's end
    // is 2 counts apart, not a whole turn).
    bool AcrossZero = false;
};

// countsPerTurn: 0 when not known (no unwrapping then).
TPositionNoise PositionNoiseStatistics(const std::vector<float>& samples, qint64 countsPerTurn);
