#pragma once
// The encoder's self-calibration: its arc and time-out, the start, the end
// test of each progress tick, and the status with its results.

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

class FrontEnd;

// The self-calibration settings the encoder has; a failed read is logged and
// leaves its value empty (the time-out is read only where it exists).
struct SelfCalSettings {
    std::optional<quint16> arc;
    bool timeoutPresent = false;
    std::optional<quint8> timeout;
};
SelfCalSettings ReadSelfCalSettings(FrontEnd& frontEnd);

// The arcs and time-outs a run takes. The encoder itself judges the arc
// (an arc outside these degrees lights its "arc out of range" status);
// a time-out outside these seconds is refused here.
inline constexpr int SelfCalArcMinDeg = 10;
inline constexpr int SelfCalArcMaxDeg = 360;
inline constexpr int SelfCalTimeoutMinS = 1;
inline constexpr int SelfCalTimeoutMaxS = 40;

// What a run is started with; an empty value keeps the encoder's own.
struct SelfCalOptions {
    std::optional<quint16> arcDeg;
    std::optional<quint8> timeoutS; // only where the encoder has the register
};

// Why a run cannot start with these options (a time-out outside its range,
// or one for an encoder without the register), or empty.
QString SelfCalOptionsProblem(const SelfCalOptions& options);
// The 500 ms ticks a run with this time-out is given: 1.2 times the
// time-out, or 12 s when no time-out is set.
int SelfCalProgressTicks(std::optional<quint8> timeoutS);

// Writes the arc and time-out of `options` each on its own and reads both
// back, so a run started with the encoder's own values then uses exactly
// these. False, after a message, when an option cannot be used, a write is
// refused or a value read back differs; `inEffect` holds what was read.
bool ApplySelfCalSettings(const SelfCalOptions& options, SelfCalSettings& inEffect,
                          FrontEnd& frontEnd);

// What a run compares its end with.
struct SelfCalRun {
    QByteArray resultsAtStart;
    quint8 counterAtStart = 0; // bits 0 and 1 of the status count finished runs
};

// Reads the results and the run counter, then starts the run (a refused
// start is logged, the run goes on all the same). False, after a message,
// when the options cannot be used or the results cannot be read: nothing is
// started then.
bool StartSelfCalibration(const SelfCalOptions& options, SelfCalRun& run, FrontEnd& frontEnd);
// "Status: " and the status register's lowest byte as binary digits.
QString SelfCalStartStatusText();
// The end test of a tick: firmware after revision 9356 answers again once
// the run is over; older firmware only shows it by changed results.
bool SelfCalibrationHasEnded(const SelfCalRun& run);

// What a status panel tells: nothing (off), a fault, a good or positive
// state, a notice ("no correction necessary"), or that a run is done.
enum class SelfCalSignal { Off, Fault, Positive, Notice, Done };

// The status panels of the Self-Calibration tab.
enum SelfCalPanel {
    PanelParamOutOfRange,
    PanelFinished,
    PanelOutOfRange,
    PanelTimeout,
    PanelSuccessful,
    PanelNoCorrection,
    PanelUserErrMap,
    PanelEncoderError,
    PanelNumericalErr,
    PanelRadialDisp,
    PanelWriteErr,
    SelfCalPanelCount
};

// The three results of encoders with an extended air gap; a value that
// could not be read (logged) is empty.
struct SelfCalExtraResults {
    std::optional<qint32> avgH;
    std::optional<qint32> eccShift;
    std::optional<qint32> eccPhase;
};

struct SelfCalReport {
    bool read = false;    // false: the failure was logged, nothing else changes
    quint32 status = 0;   // the status register
    int statusDigits = 8; // its size in bits
    QString results;      // the encoder's result lines, ending in LF but the last
    std::optional<SelfCalExtraResults> extra;
    // What each panel tells; an empty one keeps what it told.
    std::array<std::optional<SelfCalSignal>, SelfCalPanelCount> panels;
    bool successful = false; // a run finished, the encoder reports no error, status good
    bool finished = false;   // a run has finished since the start
};

// "Status: " and the status bits, then the results and the extra results,
// lines ending in LF.
QString SelfCalReportText(const SelfCalReport& report);

// Reads the status and results (and the three extra results of encoders
// whose 12th part-number character is S, T, U, V, W or Z).
SelfCalReport ReadSelfCalibrationStatus(quint8 counterAtStart, FrontEnd& frontEnd);
