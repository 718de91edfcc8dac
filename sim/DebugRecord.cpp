#include "DebugRecord.h"

#include "RegisterMap.h"

#include <QByteArray>
#include <cmath>

namespace {

constexpr int BlockWords = 33;
constexpr int BlockSamples = 53;
constexpr double Pi = 3.14159265358979323846;

void fillSamples(DebugRecord& record, const DebugRecordInputs& in) {
    const double turnFraction = static_cast<double>(in.singleturn) / double(1u << in.stBits);
    const double phase = 2 * Pi * std::fmod(turnFraction * in.codeLength, 1.0);
    const int count = static_cast<int>(record.samples.size());
    for (int k = 0; k < count; ++k) {
        const double main = 850 * std::sin(2 * Pi * in.codeLength * k / count + phase);
        const double side = 60 * std::sin(2 * Pi * (in.codeLength + 1) * k / count);
        record.samples[k] = static_cast<qint16>(std::lround(main + side));
    }
}

void putBigEndian(QByteArray& block, int offset, quint32 value, int size) {
    for (int i = 0; i < size; ++i)
        block[offset + i] = static_cast<char>(value >> (8 * (size - 1 - i)));
}

QByteArray blockOf(const DebugRecord& r) {
    QByteArray block(BlockWords * 4, '\0');
    block[0] = 'D';
    for (int i = 0; i < BlockSamples; ++i)
        putBigEndian(block, 1 + 2 * i, static_cast<quint16>(r.samples[i]), 2);
    putBigEndian(block, 107, r.absPos, 4);
    putBigEndian(block, 113, r.decodSelect, 1);
    putBigEndian(block, 114, r.codeA, 2);
    putBigEndian(block, 116, r.codeB, 2);
    putBigEndian(block, 120, r.mcuTemp, 2);
    putBigEndian(block, 122, r.cycleTime, 2);
    putBigEndian(block, 124, r.status, 2);
    putBigEndian(block, 126, r.vdda, 2);
    putBigEndian(block, 128, r.resetCnt, 1);
    return block;
}

quint32 wordAt(const QByteArray& block, int offset) {
    quint32 word = 0;
    for (int i = 0; i < 4; ++i)
        word = (word << 8) | static_cast<quint8>(block[offset + i]);
    return word;
}

RegisterCell readOnly(int size, bool valueInFirstByte = false) {
    RegisterCell cell;
    cell.size = size;
    cell.valueInFirstByte = valueInFirstByte;
    return cell;
}

} // namespace

DebugRecord LatchDebugRecord(const DebugRecordInputs& in) {
    DebugRecord record;
    fillSamples(record, in);
    const quint32 codeMask = (1u << in.codeLength) - 1;
    record.absPos = in.singleturn;
    record.decodSelect = static_cast<quint8>(1 + in.singleturn % 8);
    record.codeA = static_cast<quint16>((in.singleturn >> (in.stBits - in.codeLength)) & codeMask);
    record.codeB = static_cast<quint16>(record.codeA ^ (record.codeA >> 1)); // Gray code
    record.mcuTemp = static_cast<quint16>(1700 + 5 * in.sensorTemperature);
    record.cycleTime = 4800;
    record.status = in.status;
    record.vdda = 3312;
    record.resetCnt = static_cast<quint8>(in.powerCycles);
    record.multiturn = static_cast<quint16>(in.multiturn);
    record.singleturn = in.singleturn;
    return record;
}

void DefineDebugRegisters(RegisterFile& registers, bool protocol4) {
    using namespace FixedRegister;
    if (!protocol4) {
        for (int i = 0; i < BlockWords; ++i)
            registers.Define(DebugBlock + 4 * i, readOnly(4));
        return;
    }
    for (int i = 0; i < 28; ++i)
        registers.Define(DebugProtocol4 + 4 * i, readOnly(4));
    for (quint32 offset : {0x84u, 0x86u, 0x8Cu, 0x8Eu})
        registers.Define(DebugProtocol4 + offset, readOnly(2));
    for (quint32 offset : {0x88u, 0x89u, 0x8Au})
        registers.Define(DebugProtocol4 + offset, readOnly(1, true));
    registers.Define(DebugProtocol4 + 0x90, readOnly(4));
}

void StoreDebugRecord(RegisterFile& registers, const DebugRecord& r, bool protocol4) {
    using namespace FixedRegister;
    if (!protocol4) {
        const QByteArray block = blockOf(r);
        for (int i = 0; i < BlockWords; ++i)
            registers.Set(DebugBlock + 4 * i, wordAt(block, 4 * i));
        return;
    }
    for (int i = 0; i < 28; ++i) {
        const quint32 high = static_cast<quint16>(r.samples[2 * i]);
        const quint32 low = static_cast<quint16>(r.samples[2 * i + 1]);
        registers.Set(DebugProtocol4 + 4 * i, (high << 16) | low);
    }
    registers.Set(DebugProtocol4 + 0x84, r.codeA);
    registers.Set(DebugProtocol4 + 0x86, r.codeB);
    registers.Set(DebugProtocol4 + 0x88, r.dcdTrs);
    registers.Set(DebugProtocol4 + 0x89, r.dcdWrn);
    registers.Set(DebugProtocol4 + 0x8A, r.decodSelect);
    registers.Set(DebugProtocol4 + 0x8C, r.multiturn);
    registers.Set(DebugProtocol4 + 0x8E, r.status);
    registers.Set(DebugProtocol4 + 0x90, r.singleturn);
}
