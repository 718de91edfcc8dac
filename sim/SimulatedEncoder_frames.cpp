// The encoder's position: the reading with offset and multi-turn preset, the
// raw SPI frames with their CRC, the status word of types 3 to 5 and the
// channel-1 stream that two-ring encoders send in the trailing bytes.
#include "SimulatedEncoder.h"

#include "SimCrc8.h"

namespace {

// Status bits that mean an error or a warning, by status layout.
constexpr quint32 U2ErrorBits = 0xDE2C;   // bits 15 14 12 11 10 9 5 3 2
constexpr quint32 U2WarningBits = 0x21D0; // bits 13 8 7 6 4
constexpr quint32 U4ErrorBits = 0x03FF;   // bits 9 to 0
constexpr quint32 U4WarningBits = 0xFC00; // bits 15 to 10

// Bits that the --error / --warning switches show: "Error System" and
// "Warning Temperature" of each layout.
constexpr quint32 U2ForcedError = 1u << 2, U2ForcedWarning = 1u << 4;
constexpr quint32 U4ForcedError = 1u << 4, U4ForcedWarning = 1u << 14;

// The multi-turn sensor lags the single-turn one by up to this angle; a
// multi-turn error arc below it makes the encoder report "Error Multiturn".
constexpr quint32 MultiturnSensorLagDegrees = 12;
constexpr quint32 U2MultiturnError = 1u << 15, U4MultiturnError = 1u << 9;

qint64 floorDivide(qint64 value, qint64 divisor) {
    qint64 quotient = value / divisor;
    if (value % divisor != 0 && value < 0)
        --quotient;
    return quotient;
}

void appendBigEndian(QByteArray& bytes, quint64 value, int size) {
    for (int i = size - 1; i >= 0; --i)
        bytes.append(static_cast<char>(value >> (8 * i)));
}

bool bitSet(quint32 word, int bit) {
    return (word >> bit) & 1u;
}

// Warning bits 15 to 11 of the status word of types 4 and 5.
quint16 warningField(quint32 status, bool u4Layout) {
    bool warnings[5];
    if (u4Layout) {
        for (int i = 0; i < 5; ++i)
            warnings[i] = bitSet(status, 14 - i);
    } else {
        const bool warningClass = bitSet(status, 8);
        warnings[0] = bitSet(status, 4);
        warnings[1] = bitSet(status, 6);
        warnings[2] = bitSet(status, 7);
        warnings[3] = warningClass && bitSet(status, 1);
        warnings[4] = warningClass && bitSet(status, 0);
    }
    quint16 field = 0;
    for (int i = 0; i < 5; ++i)
        if (warnings[i])
            field |= static_cast<quint16>(1u << (15 - i));
    return field;
}

} // namespace

quint32 SimulatedEncoder::LiveStatus() const {
    const bool u4 = profile.map == RegisterMapKind::U4;
    quint32 status = u4 ? statusBits : statusBits & 0xFFFF;
    if (forcedError)
        status |= u4 ? U4ForcedError : U2ForcedError;
    if (forcedWarning)
        status |= u4 ? U4ForcedWarning : U2ForcedWarning;
    const bool arcTooNarrow = registers.Has(layout.mtErrThreshold) &&
                              registers.Value(layout.mtErrThreshold) < MultiturnSensorLagDegrees;
    if (profile.multiturn && arcTooNarrow)
        status |= u4 ? U4MultiturnError : U2MultiturnError;
    return status;
}

PositionReading SimulatedEncoder::ReadPosition() {
    const qint64 countsPerTurn = shaft.CountsPerTurn();
    const qint64 position =
        shaft.Reading() - static_cast<qint64>(registers.Value(layout.posOffset));
    const qint64 turns = floorDivide(position, countsPerTurn);
    PositionReading reading;
    reading.singleturn = static_cast<quint32>(position - turns * countsPerTurn);
    if (profile.multiturn)
        reading.multiturn = static_cast<qint16>(static_cast<quint16>(turns + multiturnShift));
    reading.status = LiveStatus();
    const bool u4 = profile.map == RegisterMapKind::U4;
    reading.error = reading.status & (u4 ? U4ErrorBits : U2ErrorBits);
    reading.warning = reading.status & (u4 ? U4WarningBits : U2WarningBits);
    persistentStatus |= reading.status;
    return reading;
}

void SimulatedEncoder::SetPositionCounts(qint64 counts) {
    multiturnShift = 0;
    shaft.SetPosition(counts + static_cast<qint64>(registers.Value(layout.posOffset)));
}

void SimulatedEncoder::SetPosition(qint32 multiturn, quint32 singleturn) {
    SetPositionCounts(static_cast<qint64>(multiturn) * shaft.CountsPerTurn() + singleturn);
}

void SimulatedEncoder::SetSpeedCountsPerSecond(double countsPerSecond) {
    shaft.SetSpeedCountsPerSecond(countsPerSecond);
}

// The counter shows the preset from now on.
void SimulatedEncoder::presetMultiturn() {
    const qint16 preset = static_cast<qint16>(registers.Value(layout.mtPreset) & 0xFFFF);
    const qint64 position =
        shaft.TruePosition() - static_cast<qint64>(registers.Value(layout.posOffset));
    multiturnShift = preset - floorDivide(position, shaft.CountsPerTurn());
}

// Single-turn position in the top stBits bits; error bit 1 and warning bit 0
// are active low.
quint32 SimulatedEncoder::positionField(quint32 singleturn, bool error, bool warning) const {
    quint32 field = singleturn << (24 - profile.stBits);
    if (!error)
        field |= 2;
    if (!warning)
        field |= 1;
    return field & 0xFFFFFF;
}

quint16 SimulatedEncoder::statusWord(const PositionReading& reading) const {
    const quint16 status = static_cast<quint16>(reading.status);
    if (profile.type == 3)
        return reading.error || reading.warning ? status : ThermistorReading();
    if (reading.error)
        return status;
    return static_cast<quint16>((ThermistorReading() & 0x7FF) |
                                warningField(reading.status, profile.map == RegisterMapKind::U4));
}

QByteArray SimulatedEncoder::PositionFrame() {
    const PositionReading reading = ReadPosition();
    if (profile.fwMajor == 4 && reading.error && !errorLatched)
        storeDebugRecord(); // the record of the moment the error began
    errorLatched = reading.error;
    const quint32 field = positionField(reading.singleturn, reading.error, reading.warning);
    QByteArray frame;
    if (SendsStatusWord(profile.type))
        appendBigEndian(frame, statusWord(reading), 2);
    else if (profile.multiturn)
        appendBigEndian(frame, static_cast<quint16>(reading.multiturn), 2);
    appendBigEndian(frame, field, 3);
    quint8 crc = BitwiseCrc8(frame);
    if (SendsInvertedFrameCrc(profile.type))
        crc = static_cast<quint8>(~crc);
    frame.append(static_cast<char>(crc));
    frame.append(static_cast<char>(trailingByte()));
    return frame;
}

QByteArray SimulatedEncoder::SpiTransfer(int byteCount, int spiCommand) {
    if (spiCommand == 21)
        latchDebugRecord();
    QByteArray bytes = PositionFrame().left(byteCount);
    bytes.append(QByteArray(byteCount - bytes.size(), '\0')); // nothing more to shift out
    return bytes;
}

void SimulatedEncoder::ResetProtocol() {
    channel1Stream.clear();
    channel1Index = 0;
}

// Two-ring encoders send channel 1's reading one byte per frame, starting
// with the first frame after a protocol reset; then the next reading.
quint8 SimulatedEncoder::trailingByte() {
    if (!profile.twoChannels)
        return 0;
    if (channel1Index >= channel1Stream.size()) {
        channel1Stream = channel1Reading();
        channel1Index = 0;
    }
    return static_cast<quint8>(channel1Stream[channel1Index++]);
}

// Channel 1: position bytes (5 or 3), status word, CRC-8 of those bytes, 0.
QByteArray SimulatedEncoder::channel1Reading() {
    const qint64 countsPerTurn = shaft.CountsPerTurn();
    const qint64 position = shaft.Reading() + channel1Offset;
    const qint64 turns = floorDivide(position, countsPerTurn);
    const quint32 status = LiveStatus();
    const bool u4 = profile.map == RegisterMapKind::U4;
    const bool error = status & (u4 ? U4ErrorBits : U2ErrorBits);
    const bool warning = status & (u4 ? U4WarningBits : U2WarningBits);
    QByteArray stream;
    if (profile.multiturn)
        appendBigEndian(stream, static_cast<quint16>(turns), 2);
    appendBigEndian(stream,
                    positionField(quint32(position - turns * countsPerTurn), error, warning), 3);
    appendBigEndian(stream, static_cast<quint16>(status), 2);
    stream.append(static_cast<char>(BitwiseCrc8(stream)));
    stream.append('\0');
    return stream;
}
