#pragma once
// One reading of the encoder: the position (raw frame, the adapter's decoded
// status, or both channels of a two-ring encoder) with its flags and status
// texts, and the optional reads that go with it: temperature, signal level,
// persistent status, the diagnostics counters, the debug record and the
// supply state. The values land in EncoderPosition, EncoderStatus and
// DebugData; the result says what was read.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class FrontEnd;

struct ReadingOptions {
    bool decodedStatus = false;    // the adapter's decoded reply ("d"); not for two rings
    bool logFlags = false;         // "Error!", "Warning!", "CRC!", "Status: ..." lines
    bool temperature = false;      // the sensor temperature register
    bool signalLevel = false;      // where the encoder has the register
    bool persistentStatus = false; // where the encoder has the register
    bool diagnostics = false;      // runtime log and decoding safety margins
    bool debugRecord = false;      // latch and read the debug record
    bool debugLatch = true;        // protocol 4: latch it (false: read what the encoder latched)
    bool unlockRefusedDebugRecord = false; // send the debug unlock again on a refusal
    bool supplyState = false;              // the supply state ("e")
};

// Hooks of the window, which moves the communication log into its memo
// before the debug step and leaves the readout's traffic out of it.
struct ReadingHooks {
    std::function<void()> beforeDebugStep;
    std::function<void()> afterDebugReadout;
};

// The diagnostics counters; each is empty when it was left out because the
// link broke earlier in the reading, else its value (0 after a failed read).
struct DiagnosticsCounters {
    bool runtimeLogPresent = false; // without it the first four are not read
    std::optional<qint64> powerCycles;
    std::optional<qint64> operatingMinutes;
    std::optional<qint64> temperatureMin;
    std::optional<qint64> temperatureMax;
    std::optional<qint64> safetyMarginRt;
    std::optional<qint64> safetyMarginPer;
};

struct Reading {
    bool positionRead = false;     // the position (and channel 1) was read
    bool linkBroken = false;       // the position read failed with a negative result
    bool twoChannels = false;      // a two-ring encoder: channel 1 is read first
    bool channel1Read = false;     // (its values stay when the position read fails)
    bool temperatureTaken = false; // its read was made (it may have failed)
    bool signalLevelRead = false;
    QString statusTexts; // texts of the set status bits, each ending in CR LF
    bool countersTaken = false;
    DiagnosticsCounters counters;
    // The position as read, before a protocol-4 debug readout replaced it in
    // EncoderPosition with the record's.
    qint32 frameMT = 0;
    quint32 frameST = 0;
    qint64 frameMTST = 0;
    bool debugRecordTaken = false;
    bool debugRecordRead = false;
    bool supplyStateRead = false;
    QByteArray supplyState;
};

// Takes one reading. Failures are logged (LastError); a failed position read
// ends the reading. Once an exchange finds the link broken (a negative
// result), the remaining optional reads are left out: each would only wait
// out another time-out.
Reading TakeReading(const ReadingOptions& options, FrontEnd& frontEnd,
                    const ReadingHooks& hooks = {});

// The detailed status as binary digits: 16 for a 2-byte status register, 32
// for a 4-byte one.
QString DetailedStatusBits();
