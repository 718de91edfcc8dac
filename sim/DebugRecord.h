#pragma once
// The encoder's debug record: raw sensor samples, decoded code words and
// housekeeping values, frozen ("latched") on request and read back through
// registers. Firmware 4.x lays it out as a register set at 0x20000, older
// firmware as a 132-byte block at 0x200.
//
// The samples show what the sensor sees of the ring's code track: one period
// of a sine per code bit (6 to 10 samples, by code length), a 1 with the
// higher peak, moving along as the shaft turns. The decoder samples every
// bit at its peak (decodSelect, 1-based, marks the first such sample) and
// reads the code word there (codeA, first bit highest); codeB is the word one
// bit further on.

#include "RegisterFile.h"

#include <array>

struct DebugRecordInputs {
    quint32 singleturn = 0;
    qint32 multiturn = 0;
    int stBits = 17;
    int codeLength = 8; // bits of the code word, 5 to 9
    quint16 status = 0;
    int sensorTemperature = 31;
    quint32 powerCycles = 0;
};

struct DebugRecord {
    std::array<qint16, 56> samples{};
    quint32 absPos = 0;
    quint8 decodSelect = 1;
    quint16 codeA = 0, codeB = 0, mcuTemp = 0, cycleTime = 0, status = 0, vdda = 0;
    quint8 resetCnt = 0, dcdTrs = 0x0C, dcdWrn = 0x08;
    quint16 multiturn = 0;
    quint32 singleturn = 0;
};

DebugRecord LatchDebugRecord(const DebugRecordInputs& inputs);

// Defines the registers of the layout (zero until the first latch).
void DefineDebugRegisters(RegisterFile& registers, bool protocol4);
void StoreDebugRecord(RegisterFile& registers, const DebugRecord& record, bool protocol4);
