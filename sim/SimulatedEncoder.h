#pragma once
// One simulated encoder behind the adapter: identification, register
// protocol, position frames, status, temperatures, signal level, runtime log,
// commands, self-calibration, error map and debug record. Not thread-safe:
// SimulatedAdapter guards it with its lock.

#include "EncoderProfile.h"
#include "NonVolatileStore.h"
#include "PowerOnJump.h"
#include "RegisterFile.h"
#include "RegisterMap.h"
#include "RegisterReadFaults.h"
#include "Shaft.h"
#include "SimulatedSelfCalibration.h"

#include <QByteArray>
#include <QHash>
#include <chrono>

// One position reading as the encoder's decoder sees it.
struct PositionReading {
    qint32 multiturn = 0; // signed 16-bit turn count; 0 on single-turn encoders
    quint32 singleturn = 0;
    quint32 status = 0; // status bits in the encoder's layout
    bool error = false;
    bool warning = false;
};

class SimulatedEncoder {
public:
    explicit SimulatedEncoder(const EncoderProfile& profile = DefaultEncoderProfile());

    const EncoderProfile& Profile() const { return profile; }
    const RegisterMapLayout& Layout() const { return layout; }

    // Supply, switched by the adapter. Power-on reloads the saved settings
    // (a new position filter takes effect then) and counts a power cycle;
    // power-off aborts a self-calibration.
    void PowerOn();
    void PowerOff();
    bool Powered() const { return powered; }

    // ---- What the adapter relays (replies without the CR) ----
    QByteArray Identification() const { return profile.identification; }
    // crcMatches: the adapter's CRC mode fits the encoder's register protocol.
    QByteArray ReadRegister(int size, quint32 address, bool crcMatches);
    QByteArray WriteRegister(int size, quint32 address, quint32 value, bool crcMatches);
    void ResetProtocol(); // restarts the channel-1 stream of two-ring encoders
    // Clocks byteCount bytes out of the encoder for the SPI command code
    // (0: position frame, 21: latch the debug record first).
    QByteArray SpiTransfer(int byteCount, int spiCommand);
    PositionReading ReadPosition();
    // The bytes of one position frame: data, CRC and trailing byte.
    QByteArray PositionFrame();

    // ---- Shaft ----
    void SetSpeedRpm(double rpm) { shaft.SetSpeedRpm(rpm); }
    void SetSpeedCountsPerSecond(double countsPerSecond);
    // Noise of the unfiltered reading; a position filter above the factory
    // setting calms it.
    void SetNoiseCounts(int counts);
    // Sets the position the encoder reports now (offset and preset included).
    void SetPosition(qint32 multiturn, quint32 singleturn);
    void SetPositionCounts(qint64 counts);
    qint64 CountsPerTurn() const { return shaft.CountsPerTurn(); }
    // Where channel 1 (inner ring) stands relative to channel 0, in counts.
    void SetChannel1Offset(qint64 counts) { channel1Offset = counts; }

    // ---- Status and measured values ----
    void SetErrorActive(bool active) { forcedError = active; }
    void SetWarningActive(bool active) { forcedWarning = active; }
    // Status bits in the encoder's layout (16 bits on U2, 32 on U4).
    void SetStatusBits(quint32 bits);
    quint32 LiveStatus() const;
    quint32 PersistentStatus() const { return persistentStatus; }
    void SetAmbientTemperature(double celsius) { ambientCelsius = celsius; }
    int SensorTemperature() const;
    // 11-bit reading of the external thermistor (about 1312 at 25 °C).
    quint16 ThermistorReading() const;
    void SetSignalLevelBase(int level) { signalLevelBase = level; }
    quint32 SignalLevelAt(quint32 singleturn) const;

    // ---- Faults and settings of the register protocol ----
    void SetRegisterFault(quint32 address, RegisterFault fault);
    void SetGlobalRegisterFault(RegisterFault fault) { globalFault = fault; }
    void ClearRegisterFaults();
    void SetSelfCalDurationMs(int milliseconds) { selfCal.SetDurationMs(milliseconds); }
    bool SelfCalRunning() { return selfCal.Busy(); }
    void SetSelfCalOutcome(SelfCalOutcome outcome) { selfCal.ForceOutcome(outcome); }
    // Read faults at an address or after a number of reads (cleared by
    // ClearRegisterFaults too).
    RegisterReadFaults& ReadFaults() { return readFaults; }
    // Command code that latches the debug record (default
    // EncoderCommand::DebugLatch); -1: every code that is not one of the
    // five other commands.
    void SetDebugLatchCode(int code) { debugLatchCode = code; }
    int DebugLatches() const { return debugLatches; }
    // With the lock on, the debug record answers its reads with "0xe6:" from
    // every power-on until the debug unlock code is written to register 0x49.
    void SetDebugLock(bool on) { debugLockOn = on; }
    bool DebugUnlocked() const { return !debugLockOn || debugUnlocked; }
    // Every n-th power-on the position comes back moved by `counts`.
    void SetPowerOnJump(int every, qint64 counts) { powerOnJump.Set(every, counts); }
    int PowerOnJumps() const { return powerOnJump.Injected(); }

    // ---- Direct register access (no checks, no side effects) ----
    bool HasRegister(quint32 address) const { return registers.Has(address); }
    quint32 RegisterValue(quint32 address);
    void SetRegisterValue(quint32 address, quint32 value) { registers.Set(address, value); }
    quint32 PowerCycles() const { return powerCycles; }
    const NonVolatileStore& Nvram() const { return nvram; }
    // The NVRAM stops keeping the setting register at `address`.
    void NvramForgets(quint32 address) { nvram.Forget(address); }

private:
    using Clock = std::chrono::steady_clock;

    void defineRegisters();
    void defineConfigurationRegisters();
    void defineMeasuredRegisters();
    void defineFirmwareAndSerialRegisters();
    void defineFixedRegisters();
    void applyPositionFilter();

    RegisterOutcome faultOutcome(quint32 address, bool isWrite) const;
    void refreshMeasuredRegisters();
    void refreshRuntimeLog();
    void afterWrite(quint32 address, quint32 value, QByteArray& reply);
    void executeCommand(quint32 code, QByteArray& reply);
    void noteWriteOutcome(RegisterOutcome outcome);
    void presetMultiturn();
    void latchDebugRecord();
    void storeDebugRecord();
    bool refusesDebugRead(quint32 address) const;

    quint32 positionField(quint32 singleturn, bool error, bool warning) const;
    quint16 statusWord(const PositionReading& reading) const;
    quint8 trailingByte();
    QByteArray channel1Reading();

    EncoderProfile profile;
    const RegisterMapLayout& layout;
    RegisterFile registers;
    NonVolatileStore nvram;
    Shaft shaft;
    SelfCalibration selfCal;

    bool powered = false;
    qint64 multiturnShift = 0; // preset: added to the counted turns
    quint32 statusBits = 0;
    bool forcedError = false;
    bool forcedWarning = false;
    quint32 persistentStatus = 0;
    double ambientCelsius = 25.0;
    int signalLevelBase;
    quint8 writeStatus = 0;
    qint16 marginPerLowest = 32000;

    quint32 powerCycles = 1287;
    qint64 poweredMsBefore = 0;
    Clock::time_point powerOnTime = Clock::now();
    qint8 lowestTemperature = 4;
    qint16 highestTemperature = 57;

    QHash<quint32, RegisterFault> faults;
    RegisterFault globalFault = RegisterFault::None;
    RegisterReadFaults readFaults;
    int noiseCounts = 0;
    quint32 filterInEffect; // the position filter since the last power-on
    int debugLatchCode = EncoderCommand::DebugLatch;
    int debugLatches = 0;
    bool errorLatched = false; // firmware 4 latches by itself when an error begins
    bool debugLockOn = false;
    bool debugUnlocked = false; // since the last power-on
    PowerOnJump powerOnJump;

    qint64 channel1Offset;
    QByteArray channel1Stream;
    int channel1Index = 0;
};
