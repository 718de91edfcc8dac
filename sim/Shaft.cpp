#include "Shaft.h"

#include <cmath>

Shaft::Shaft(int stBits) : countsPerTurn(qint64(1) << stBits) {}

void Shaft::SetSpeedCountsPerSecond(double countsPerSecond) {
    SetPosition(TruePosition()); // the new speed starts from here
    speed = countsPerSecond;
}

void Shaft::SetSpeedRpm(double rpm) {
    SetSpeedCountsPerSecond(rpm / 60.0 * static_cast<double>(countsPerTurn));
}

void Shaft::SetPosition(qint64 counts) {
    startPosition = static_cast<double>(counts);
    startTime = Clock::now();
}

qint64 Shaft::TruePosition() const {
    if (speed == 0)
        return static_cast<qint64>(startPosition);
    const std::chrono::duration<double> elapsed = Clock::now() - startTime;
    return static_cast<qint64>(std::floor(startPosition + speed * elapsed.count()));
}

qint64 Shaft::Reading() {
    const qint64 position = TruePosition();
    if (noise == 0)
        return position;
    return position + random.bounded(-noise, noise + 1);
}
