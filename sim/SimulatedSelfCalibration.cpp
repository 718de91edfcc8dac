#include "SimulatedSelfCalibration.h"

namespace {

constexpr int SmallestArc = 10;
constexpr int LargestArc = 360;

bool measures(SelfCalOutcome outcome) {
    return outcome == SelfCalOutcome::Success || outcome == SelfCalOutcome::NoCorrection;
}

} // namespace

void SelfCalibration::Start(int arcDegrees, int timeoutSeconds, bool encoderInError) {
    outcome = forcedOutcome != Outcome::Auto ? forcedOutcome
                                             : decide(arcDegrees, timeoutSeconds, encoderInError);
    running = true;
    endTime = Clock::now() + std::chrono::milliseconds(runMs(timeoutSeconds));
}

SelfCalOutcome SelfCalibration::decide(int arcDegrees, int timeoutSeconds,
                                       bool encoderInError) const {
    if (arcDegrees < SmallestArc || arcDegrees > LargestArc)
        return Outcome::ArcOutOfRange;
    if (encoderInError)
        return Outcome::EncoderError;
    if (timeoutSeconds > 0 && timeoutSeconds * 1000 < durationMs)
        return Outcome::Timeout;
    return Outcome::Success;
}

// A refused start ends at once; a time-out ends when the encoder gives up.
int SelfCalibration::runMs(int timeoutSeconds) const {
    switch (outcome) {
    case Outcome::ArcOutOfRange:
    case Outcome::EncoderError:
        return 0;
    case Outcome::Timeout:
        return timeoutSeconds > 0 ? qMin(durationMs, timeoutSeconds * 1000) : durationMs;
    default:
        return durationMs;
    }
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
    if (!measures(outcome))
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
    case Outcome::Auto:
    case Outcome::Success:
        return oneByte ? 0 : 1u << 4;
    case Outcome::NoCorrection:
        return oneByte ? 1u << 5 : (1u << 4) | (1u << 5);
    case Outcome::ArcOutOfRange:
        return oneByte ? 1u << 4 : (1u << 6) | (1u << 13);
    case Outcome::EncoderError:
        return oneByte ? 1u << 3 : (1u << 6) | (1u << 9);
    case Outcome::Timeout:
        return oneByte ? 1u << 2 : (1u << 6) | (1u << 8);
    }
    return 0;
}
