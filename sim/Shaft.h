#pragma once
// The encoder's shaft: a position in counts that advances at a set speed,
// read with optional noise. Counts are whole positions: turns × counts per
// turn + single-turn position.

#include <QRandomGenerator>
#include <chrono>

class Shaft {
public:
    explicit Shaft(int stBits);

    void SetSpeedCountsPerSecond(double countsPerSecond);
    void SetSpeedRpm(double rpm);
    double SpeedCountsPerSecond() const { return speed; }
    // Largest deviation of a reading from the true position, in counts.
    void SetNoiseCounts(int counts) { noise = counts < 0 ? 0 : counts; }
    int NoiseCounts() const { return noise; }
    void SeedNoise(quint32 seed) { random.seed(seed); }

    void SetPosition(qint64 counts);
    qint64 TruePosition() const;
    qint64 Reading(); // true position plus noise
    qint64 CountsPerTurn() const { return countsPerTurn; }

private:
    using Clock = std::chrono::steady_clock;
    qint64 countsPerTurn;
    double startPosition = 0;
    Clock::time_point startTime = Clock::now();
    double speed = 0;
    int noise = 0;
    QRandomGenerator random{0x51A7};
};
