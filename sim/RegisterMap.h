#pragma once
// Register addresses of the two encoder generations (U2, U4) and the
// registers that sit at the same address on every encoder.

#include "EncoderProfile.h"

#include <QtGlobal>

struct RegisterMapLayout {
    quint32 posOffset, filterPosVal, mtPreset, mtErrThreshold, persistentStatus, signalLevel,
        temperature, command, calStatus, calAngle, calTimeout, calEccentricity, calEccPhase,
        calRadialShift, fwMajor, fwMinor, fwComm, fwSvn, fwHash, serialNumber, errorMap;
    int persistentStatusSize, signalLevelSize, calStatusSize;
};

const RegisterMapLayout& LayoutOf(RegisterMapKind map);

namespace FixedRegister {
constexpr quint32 WriteStatus = 0x0E;
constexpr quint32 SafetyMarginRt = 0x10;
constexpr quint32 SafetyMarginPer = 0x12;
constexpr quint32 RuntimePowerCycles = 0x34;
constexpr quint32 RuntimeMinutes = 0x38;
constexpr quint32 RuntimeTempMin = 0x3C;
constexpr quint32 RuntimeTempMax = 0x3E;
constexpr quint32 DebugLatch = 0x48;   // firmware 2.9 and later: write 1 to latch
constexpr quint32 U2Command = 0x49;    // also takes the debug unlock code on U4
constexpr quint32 CalAvgHeight = 0xCE; // extra self-calibration results
constexpr quint32 CalEccShift = 0xD0;
constexpr quint32 CalEccPhase = 0xD2;
constexpr quint32 DebugBlock = 0x200; // 33 words of the firmware 2.x debug block
constexpr quint32 DebugProtocol4 = 0x20000;
} // namespace FixedRegister

// Codes written to the command register.
namespace EncoderCommand {
constexpr quint8 StartSelfCal = 0x41;
constexpr quint8 ClearPersistentStatus = 0x62;
constexpr quint8 SaveToNvram = 0x63;
constexpr quint8 PresetMultiturn = 0x6D;
constexpr quint8 FactoryReset = 0x72;
// Latches the debug record (firmware 4); written to 0x49 it is the debug unlock.
constexpr quint8 DebugLatch = 0x44;
} // namespace EncoderCommand
