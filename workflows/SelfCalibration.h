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

// A start field as the user left it.
struct SelfCalField {
    bool enabled = true;
    QString text;
};

struct SelfCalPlan {
    quint16 arc = 0;              // 0: the encoder's own
    quint8 timeout = 0;           // 0: the encoder's own
    int ticks = 24;               // of 500 ms the run is given
    bool timeoutReplaced = false; // 0 or above 40 s became 40 s
};

// The arc (360 for text that is not a number) and time-out (10) of a start,
// or nothing after a message when one lies outside its range (0 to 65535,
// 0 to 255).
std::optional<SelfCalPlan> PlanSelfCalibration(const SelfCalField& arc, const SelfCalField& timeout,
                                               FrontEnd& frontEnd);

// What a run compares its end with.
struct SelfCalRun {
    QByteArray resultsAtStart;
    quint8 counterAtStart = 0; // bits 0 and 1 of the status count finished runs
};

// Reads the results and the run counter, then starts the run (a refused
// start is logged, the run goes on all the same). False, after a log line,
// when the results cannot be read: nothing is started then.
bool StartSelfCalibration(const SelfCalPlan& plan, SelfCalRun& run, FrontEnd& frontEnd);
// "Status: " and the status register's lowest byte as binary digits.
QString SelfCalStartStatusText();
// The end test of a tick: firmware after revision 9356 answers again once
// the run is over; older firmware only shows it by changed results.
bool SelfCalibrationHasEnded(const SelfCalRun& run);

enum class PanelColour { Gray, Red, BrightGreen, Orange, Green };

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

struct SelfCalReport {
    bool read = false; // false: the failure was logged, nothing else changes
    QString text;      // status bits and results, lines ending in LF
    // The panels' colours; an empty one keeps its colour.
    std::array<std::optional<PanelColour>, SelfCalPanelCount> panels;
    bool successful = false; // a run finished, the encoder reports no error, status good
    bool finished = false;   // a run has finished since the start
};

// Reads the status and results (and the three extra results of encoders
// whose 12th part-number character is S, T, U, V, W or Z).
SelfCalReport ReadSelfCalibrationStatus(quint8 counterAtStart, FrontEnd& frontEnd);
