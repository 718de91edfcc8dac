#pragma once
// The encoder's self-calibration: a run started by command ends after a set
// time (or at the encoder's time-out) with a status and new results. While it
// runs the encoder does not answer its register protocol.
//
// Status bits 0 and 1 count finished runs. Other bits, 1-byte status (U2):
// 2 time-out, 3 calibration out of range (also an encoder in error), 4 arc
// out of range, 5 no correction necessary. 4-byte status (U4): 4 successful,
// 5 no correction necessary, 6 failed, 8 time-out, 9 encoder in error, 13
// out of range.
//
// The outcome follows from the arc (10 to 360 degrees), the encoder's error
// state and the time-out (shorter than the run); a forced outcome replaces
// that decision, so every outcome can be shown.

#include <QtGlobal>
#include <chrono>

struct SelfCalResults {
    quint16 eccentricity = 14; // um
    quint16 eccPhase = 212;    // degrees
    qint16 radialShift = -10;  // um
    qint16 avgHeight = 402;    // extra results of extended-air-gap encoders
    quint16 eccShift = 3;
    quint16 eccPhaseExtra = 212;
};

enum class SelfCalOutcome { Auto, Success, NoCorrection, ArcOutOfRange, Timeout, EncoderError };

class SelfCalibration {
public:
    explicit SelfCalibration(int statusSize) : statusSize(statusSize) {}

    void SetDurationMs(int milliseconds) { durationMs = milliseconds < 0 ? 0 : milliseconds; }
    int DurationMs() const { return durationMs; }
    // The outcome of the following runs; Auto decides it from the run's
    // conditions.
    void ForceOutcome(SelfCalOutcome outcome) { forcedOutcome = outcome; }

    // arcDegrees and timeoutSeconds are the encoder's register values.
    void Start(int arcDegrees, int timeoutSeconds, bool encoderInError);
    // Ends the run without a result (power lost).
    void Abort() { running = false; }
    // True while a run is in progress; finishes a run whose time is up.
    bool Busy();

    quint32 Status() const { return status; }
    const SelfCalResults& Results() const { return results; }

private:
    using Outcome = SelfCalOutcome;
    using Clock = std::chrono::steady_clock;

    Outcome decide(int arcDegrees, int timeoutSeconds, bool encoderInError) const;
    int runMs(int timeoutSeconds) const;
    void finish();
    quint32 outcomeBits() const;

    int statusSize;
    int durationMs = 3000;
    Outcome forcedOutcome = Outcome::Auto;
    bool running = false;
    Outcome outcome = Outcome::Success;
    Clock::time_point endTime;
    quint32 status = 0;
    int runs = 0;
    SelfCalResults results;
};
