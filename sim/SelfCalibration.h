#pragma once
// The encoder's self-calibration: a run started by command ends after a set
// time (or at the encoder's time-out) with a status and new results. While it
// runs the encoder does not answer its register protocol.
//
// Status bits 0 and 1 count finished runs. Other bits, 1-byte status (U2):
// 2 time-out, 3 calibration out of range, 4 arc out of range. 4-byte status
// (U4): 4 successful, 6 failed, 8 time-out, 9 encoder in error, 13 out of range.

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

class SelfCalibration {
public:
    explicit SelfCalibration(int statusSize) : statusSize(statusSize) {}

    void SetDurationMs(int milliseconds) { durationMs = milliseconds < 0 ? 0 : milliseconds; }
    int DurationMs() const { return durationMs; }

    // arcDegrees and timeoutSeconds are the encoder's register values.
    void Start(int arcDegrees, int timeoutSeconds, bool encoderInError);
    // Ends the run without a result (power lost).
    void Abort() { running = false; }
    // True while a run is in progress; finishes a run whose time is up.
    bool Busy();

    quint32 Status() const { return status; }
    const SelfCalResults& Results() const { return results; }

private:
    enum class Outcome { Success, ArcOutOfRange, EncoderError, Timeout };
    using Clock = std::chrono::steady_clock;

    void finish();
    quint32 outcomeBits() const;

    int statusSize;
    int durationMs = 3000;
    bool running = false;
    Outcome outcome = Outcome::Success;
    Clock::time_point endTime;
    quint32 status = 0;
    int runs = 0;
    SelfCalResults results;
};
