#pragma once
// The workflows that the window paces with its timers, run to their end in
// one call, for the commands and the test plans of q714.

#include "Configuration.h"
#include "PositionNoise.h"
#include "SelfCalibration.h"

#include <QString>
#include <functional>
#include <optional>

class FrontEnd;
class QFile;

struct CalibrationRun {
    bool applied = false;     // false: the arc or time-out could not be set (alerted)
    SelfCalSettings inEffect; // the arc and time-out the run used, as read back
    bool started = false;     // false: the results could not be read before it
    bool stopped = false;     // the front end stopped waiting; the encoder goes on
    SelfCalReport report;     // read once the run has ended
};

// Sets the arc and time-out of `options` and reads them back, starts the
// self-calibration with them and waits for its end in steps of 500 ms
// (1.2 times the time-out in effect), calling `tick` after each, then
// reads its status.
CalibrationRun CalibrateAndWait(FrontEnd& front, const SelfCalOptions& options,
                                const std::function<void(int tick, int ticks)>& tick);

struct NoiseRun {
    PositionNoiseResult result;
    bool readingFailed = false; // a reading failed and ended the measurement
};

// The position noise over `samples` readings, `progress` told the readings
// done after each.
NoiseRun MeasureNoise(FrontEnd& front, int samples, const std::function<void(qint64)>& progress);

struct DebugRecordingRun {
    qint64 rows = 0;
    qint64 failedReadouts = 0; // rows without their debug record
    bool readingFailed = false;
    bool linkBroken = false;
    QString fileProblem; // a row could not be written
};

// Writes the recording's header, then one row per reading while `more(rows)`
// holds and the front end is not stopping; `progress` is told the rows.
DebugRecordingRun RecordDebugRows(FrontEnd& front, QFile& file,
                                  const std::function<bool(qint64 rows)>& more,
                                  const std::function<void(qint64 rows)>& progress);

struct ZeroRun {
    SetZeroResult zero;
    bool verified = false; // the encoder reads back the new offset
};

// Set zero here, the settings and the position read through the encoder
// rather than the window, then the offset read back.
ZeroRun SetZeroAndVerify(FrontEnd& front);
