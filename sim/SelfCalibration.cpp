#include "SelfCalibration.h"

void SelfCalibration::Start(int arcDegrees, int timeoutSeconds, bool encoderInError) {
    int runMs = durationMs;
    outcome = Outcome::Success;
    if (arcDegrees < 10 || arcDegrees > 360) {
        outcome = Outcome::ArcOutOfRange;
        runMs = 0;
    } else if (encoderInError) {
        outcome = Outcome::EncoderError;
        runMs = 0;
    } else if (timeoutSeconds > 0 && timeoutSeconds * 1000 < durationMs) {
        outcome = Outcome::Timeout;
        runMs = timeoutSeconds * 1000;
    }
    running = true;
    endTime = Clock::now() + std::chrono::milliseconds(runMs);
}

bool SelfCalibration::Busy() {
    if (running && Clock::now() >= endTime)
        finish();
    return running;
}

void SelfCalibration::finish() {
    running = false;
    const quint32 counter = (status + 1) & 3;
    status = counter | outcomeBits();
    if (outcome != Outcome::Success)
        return;
    // Every run measures slightly different values, so a new result is
    // recognisable by its text.
    ++runs;
    results.eccentricity = static_cast<quint16>(12 + (runs * 7) % 19);
    results.eccPhase = static_cast<quint16>((35 + runs * 71) % 360);
    results.radialShift = static_cast<qint16>(-10 + (runs * 3) % 9);
    results.avgHeight = static_cast<qint16>(402 - runs % 5);
    results.eccShift = static_cast<quint16>(3 + runs % 4);
    results.eccPhaseExtra = results.eccPhase;
}

quint32 SelfCalibration::outcomeBits() const {
    const bool oneByte = statusSize == 1;
    switch (outcome) {
    case Outcome::Success:
        return oneByte ? 0 : 1u << 4;
    case Outcome::ArcOutOfRange:
        return oneByte ? 1u << 4 : (1u << 6) | (1u << 13);
    case Outcome::EncoderError:
        return oneByte ? 1u << 3 : (1u << 6) | (1u << 9);
    case Outcome::Timeout:
        return oneByte ? 1u << 2 : (1u << 6) | (1u << 8);
    }
    return 0;
}
