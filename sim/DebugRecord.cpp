#include "DebugRecord.h"

#include "RegisterMap.h"

#include <QByteArray>
#include <cmath>

namespace {

constexpr int BlockWords = 33;
constexpr int BlockSamples = 53;
constexpr double Pi = 3.14159265358979323846;

// Peak of the sensor signal over a code bit of value 1 and of value 0.
constexpr double PeakOfOne = 520;
constexpr double PeakOfZero = 260;
constexpr int JitterCounts = 9; // electrical noise on every sample

// The ring carries a maximal-length sequence of 2^L - 1 bits: every window of
// L bits occurs once per turn, which makes the code word absolute. Galois
// feedback masks of a primitive polynomial per code length.
quint32 feedbackMask(int codeLength) {
    switch (codeLength) {
    case 5:
        return 0x12;
    case 6:
        return 0x21;
    case 7:
        return 0x41;
    case 9:
        return 0x108;
    default:
        return 0x8E;
    }
}

QByteArray ringSequence(int codeLength) {
    const int length = (1 << codeLength) - 1;
    QByteArray bits(length, '\0');
    quint32 state = 1;
    for (int i = 0; i < length; ++i) {
        bits[i] = static_cast<char>(state & 1);
        state = (state >> 1) ^ ((state & 1) ? feedbackMask(codeLength) : 0);
    }
    return bits;
}

// Bit i (0-based, cyclic) of the ring's code sequence; code lengths 5 to 9.
int ringBit(int codeLength, qint64 index) {
    static const QByteArray sequences[] = {ringSequence(5), ringSequence(6), ringSequence(7),
                                           ringSequence(8), ringSequence(9)};
    const QByteArray& bits = sequences[qBound(5, codeLength, 9) - 5];
    qint64 i = index % bits.size();
    if (i < 0)
        i += bits.size();
    return bits[static_cast<int>(i)];
}

// Samples per code bit, as the decoder's sampling runs for each code length.
int samplesPerBit(int codeLength) {
    switch (codeLength) {
    case 5:
        return 10;
    case 6:
        return 8;
    case 7:
        return 7;
    default:
        return 6;
    }
}

// Where the sample window stands on the ring: the first code bit it shows
// and how far (0..1 of a bit) the window has moved into it.
struct RingWindow {
    qint64 firstBit;
    double intoBit;
};

RingWindow windowAt(const DebugRecordInputs& in) {
    const qint64 bitsPerTurn = (qint64(1) << in.codeLength) - 1;
    const double bits = double(in.singleturn) / double(qint64(1) << in.stBits) * bitsPerTurn;
    const double first = std::floor(bits);
    return {static_cast<qint64>(first), bits - first};
}

// Small repeatable noise per position and sample.
int jitter(quint32 singleturn, int sample) {
    quint32 h = singleturn * 2654435761u ^ static_cast<quint32>(sample) * 40503u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    return static_cast<int>(h % (2 * JitterCounts + 1)) - JitterCounts;
}

// One period of a sine per code bit; a 1 gives the higher peak.
void fillSamples(DebugRecord& record, const DebugRecordInputs& in, const RingWindow& window) {
    const int step = samplesPerBit(in.codeLength);
    const int count = static_cast<int>(record.samples.size());
    for (int j = 0; j < count; ++j) {
        const double along = j + window.intoBit * step;
        const int cell = static_cast<int>(std::floor(along / step));
        const double phase = (along - cell * step) / step;
        const int bit = ringBit(in.codeLength, window.firstBit + cell);
        const double peak = bit ? PeakOfOne : PeakOfZero;
        const double value = peak * std::sin(2 * Pi * phase) + jitter(in.singleturn, j);
        record.samples[j] = static_cast<qint16>(std::lround(value));
    }
}

// The decoder samples each bit at the peak of its period; decodSelect is the
// 1-based index of the first such sample in the window.
int peakSample(const DebugRecordInputs& in, const RingWindow& window) {
    const int step = samplesPerBit(in.codeLength);
    double first = (0.25 - window.intoBit) * step;
    if (first < 0)
        first += step;
    return static_cast<int>(std::lround(first)) % step;
}

// The code word the decoder reads at its L sample points, first bit highest.
quint16 codeWordAt(const DebugRecordInputs& in, const RingWindow& window, int firstSample) {
    const int step = samplesPerBit(in.codeLength);
    quint16 word = 0;
    for (int k = 0; k < in.codeLength; ++k) {
        const double along = firstSample + k * step + window.intoBit * step;
        const int cell = static_cast<int>(std::floor(along / step));
        word = static_cast<quint16>((word << 1) | ringBit(in.codeLength, window.firstBit + cell));
    }
    return word;
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
    const RingWindow window = windowAt(in);
    fillSamples(record, in, window);
    const int firstPeak = peakSample(in, window);
    record.absPos = in.singleturn;
    record.decodSelect = static_cast<quint8>(firstPeak + 1);
    record.codeA = codeWordAt(in, window, firstPeak);
    // The second word is the one the decoder expects next: one bit further.
    record.codeB = codeWordAt(in, window, firstPeak + samplesPerBit(in.codeLength));
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
