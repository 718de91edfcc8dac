// Position and status frames: the raw SPI frame with its CRC-8, the adapter's
// decoded status reply ("d") and the second channel of two-channel encoders.

#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

#include <algorithm>
#include <cctype>

namespace {

// Where the fields of a raw frame lie in the reply text (1-based character
// positions; 0 = the frame has no such field).
struct TFrameLayout {
    int DataDigits;     // digits 1..DataDigits are the CRC input
    int MultiTurnFirst; // 4 digits, signed 16-bit turn count
    int StatusFirst;    // 4 digits, status word
    int PositionFirst;  // 6 digits, the 24-bit position field
    int CrcFirst;       // 2 digits
    int TrailingFirst;  // 2 digits
};
constexpr TFrameLayout MultiTurnFrame = {10, 1, 0, 5, 11, 13};
constexpr TFrameLayout SingleTurnFrame = {6, 0, 0, 1, 7, 9};
constexpr TFrameLayout StatusWordFrame = {10, 0, 1, 5, 11, 0};

constexpr char LongFrameCommand[] = "?07:000";
constexpr char ShortFrameCommand[] = "?05:000";
constexpr int LongFrameDigits = 14; // two hexadecimal digits per byte
constexpr int ShortFrameDigits = 10;
constexpr char StatusPositionCommand[] = "d";

constexpr quint32 ErrorBitMask = 0x2;   // active low
constexpr quint32 WarningBitMask = 0x1; // active low
constexpr int PositionFieldBits = 24;

constexpr std::array<quint8, 256> makeCrcTable() {
    std::array<quint8, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint8 crc = static_cast<quint8>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint8>((crc & 0x80) ? (crc << 1) ^ CRC8_POLYNOMIAL : crc << 1);
        table[i] = crc;
    }
    return table;
}
constexpr std::array<quint8, 256> CrcTable = makeCrcTable();

// Characters first..first+count-1 (1-based) read as hexadecimal; 0 when
// missing or not hexadecimal.
// The characters from `first` (0-based) on, at most `count`, as far as the
// text reaches; read in place.
QByteArrayView part(QByteArrayView text, qsizetype first, qsizetype count) {
    if (first < 0 || first >= text.size() || count <= 0)
        return {};
    return text.sliced(first, std::min(count, text.size() - first));
}

quint64 hexField(const QByteArray& text, int first, int count) {
    return HexOrZero(part(text, first - 1, count));
}

bool hasStatusWord(quint8 type) {
    return type >= 3 && type <= 5;
}
bool sendsInvertedCrc(quint8 type) {
    return type == 1 || type == 6 || type == 7;
}

qint64 countsPerTurn() {
    return qint64(STmask) + 1;
}

quint32 singleTurnOf(quint32 positionField) {
    const int shift = qBound(0, PositionFieldBits - STbits, PositionFieldBits);
    return (positionField >> shift) & quint32(STmask);
}

// The layout of the frame the encoder sends, or null for the multi-turn frame
// of types 3 to 5, whose layout is not known.
const TFrameLayout* frameLayout() {
    if (hasStatusWord(EncoderType))
        return MTbits > 0 ? nullptr : &StatusWordFrame;
    return MTbits > 0 ? &MultiTurnFrame : &SingleTurnFrame;
}

bool longFrame() {
    return hasStatusWord(EncoderType) || MTbits > 0;
}

const char* frameCommand() {
    return longFrame() ? LongFrameCommand : ShortFrameCommand;
}

bool allHex(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// False, with LastError naming the reply, for a frame that must be whole
// and is not.
bool acceptFrame(const QByteArray& text, bool whole) {
    if (!RefuseMalformedFrames || whole)
        return true;
    LastError = QStringLiteral("Not a position frame: \"%1\"").arg(QString::fromLatin1(text));
    return false;
}

// A frame that cannot be decoded keeps the previous position and reports
// error and warning.
void markUndecodedFrame() {
    EncoderPosition.ErrBit = true;
    EncoderPosition.WarnBit = true;
    EncoderPosition.ErrCRC = false;
}

void decodePosition(const TFrameLayout& layout, const QByteArray& text) {
    TEncoderPosition& p = EncoderPosition;
    const auto field = static_cast<quint32>(hexField(text, layout.PositionFirst, 6));
    p.ST_value = singleTurnOf(field);
    if (layout.MultiTurnFirst > 0) {
        p.MT_value = static_cast<qint16>(hexField(text, layout.MultiTurnFirst, 4));
        p.MTST_value = p.MT_value * countsPerTurn() + p.ST_value;
    } else {
        if (!hasStatusWord(EncoderType))
            p.MT_value = 0;
        p.MTST_value = p.ST_value;
    }
    p.ErrBit = (field & ErrorBitMask) == 0;
    p.WarnBit = (field & WarningBitMask) == 0;
}

void checkCrc(const TFrameLayout& layout, const QByteArray& text) {
    auto received = static_cast<quint8>(hexField(text, layout.CrcFirst, 2));
    if (sendsInvertedCrc(EncoderType))
        received = static_cast<quint8>(~received);
    EncoderPosition.ErrCRC = received != CRC8OfHexText(text.left(layout.DataDigits));
}

quint32 type45WarningStatus(quint16 word) {
    quint32 status = 0;
    for (const TStatusWordRow& row : StatusWordTable) {
        if (word & row.WordBit)
            status |= EncoderType == 4 ? row.Type4Status : row.Type5Status;
    }
    return status;
}

// Type 3 sends the thermistor reading or, with error or warning, the status.
// Types 4 and 5 send warnings in bits 15..11 and the thermistor in 10..0
// unless the error bit is set.
void decodeStatusWord(quint16 word) {
    TEncoderStatus& s = EncoderStatus;
    const bool error = EncoderPosition.ErrBit;
    const bool statusOnly = EncoderType == 3 ? error || EncoderPosition.WarnBit : error;
    if (statusOnly) {
        s.TemperatureEXT = 0;
        s.DetailedStatus = word;
    } else if (EncoderType == 3) {
        s.TemperatureEXT = static_cast<qint16>(word); // 0x8000 and up show negative
        s.DetailedStatus = 0;
    } else {
        s.TemperatureEXT = static_cast<qint16>(word & StatusWordTemperatureMask);
        s.DetailedStatus = type45WarningStatus(word);
    }
}

void decodeFrame(const TFrameLayout& layout, const QByteArray& text, quint8& trailingByte) {
    decodePosition(layout, text);
    checkCrc(layout, text);
    if (layout.StatusFirst > 0) {
        decodeStatusWord(static_cast<quint16>(hexField(text, layout.StatusFirst, 4)));
        return;
    }
    trailingByte = static_cast<quint8>(hexField(text, layout.TrailingFirst, 2));
    EncoderStatus.TemperatureEXT = 0;
    EncoderStatus.DetailedStatus = 0;
}

qint64 turnsToCounts(qint32 turns) {
    const int bits = qBound(0, int(STbits), 32);
    return qint64(turns) * (qint64(1) << bits);
}

// The hexadecimal fields of a "d" reply of a known length are whole (a
// reply of another length is refused for its length).
bool statusPositionFieldsAreHex(const QByteArray& text) {
    switch (text.size()) {
    case 15:
        return allHex(part(text, 2, 4)) && allHex(part(text, 9, 6));
    case 22:
        return allHex(part(text, 2, 4)) && allHex(part(text, 9, 4)) && allHex(part(text, 16, 6));
    case 17:
        return allHex(part(text, 9, 8));
    default:
        return true;
    }
}

// Fields of the "d" reply by its length; false for an unknown length.
bool decodeStatusPositionFields(const QByteArray& text, QByteArray& statusText) {
    TEncoderPosition& p = EncoderPosition;
    switch (text.size()) {
    case 15:
        statusText = text.mid(2, 4);
        p.MTST_value = static_cast<qint64>(hexField(text, 10, 6));
        p.ST_value = static_cast<quint32>(p.MTST_value) & quint32(STmask);
        return true;
    case 22:
        statusText = text.mid(2, 4);
        p.MT_value = static_cast<qint16>(hexField(text, 10, 4));
        p.ST_value = static_cast<quint32>(hexField(text, 17, 6));
        p.MTST_value = turnsToCounts(p.MT_value) + p.ST_value;
        return true;
    case 17:
        statusText.clear();
        p.MT_value = static_cast<qint16>(hexField(text, 10, 8) & 0xFFFF);
        p.ST_value = 0;
        p.MTST_value = turnsToCounts(p.MT_value);
        return true;
    default:
        return false;
    }
}

// Channel 1's stream: position bytes (5 multi-turn, 3 otherwise), status word,
// two bytes that are not interpreted.
void decodeSecondChannel(const std::array<quint8, 9>& bytes, bool multiturn) {
    TEncoderPosition& p = EncoderPosition;
    const int positionBytes = multiturn ? 5 : 3;
    quint64 value = 0;
    for (int i = 0; i < positionBytes; ++i)
        value = (value << 8) | bytes[i];
    const auto field = static_cast<quint32>(value & 0xFFFFFF);
    p.CH1_ST_value = singleTurnOf(field);
    p.CH1_MT_value = multiturn ? static_cast<qint16>((value >> 24) & 0xFFFF) : 0;
    p.CH1_MTST_value = p.CH1_MT_value * countsPerTurn() + p.CH1_ST_value;
    p.CH1_ErrBit = (field & ErrorBitMask) == 0;
    p.CH1_WarnBit = (field & WarningBitMask) == 0;
    p.CH1_DetailedStatus =
        static_cast<quint16>((bytes[positionBytes] << 8) | bytes[positionBytes + 1]);
}

} // namespace

quint8 CRC8(const QByteArray& bytes) {
    quint8 crc = 0;
    for (char byte : bytes)
        crc = CrcTable[crc ^ static_cast<quint8>(byte)];
    return crc;
}

// Reads the digits in place, pair by pair; an odd count is taken as if a "0"
// stood in front (a single digit is worth the same as "0" and the digit).
quint8 CRC8OfHexText(const QByteArray& hexText) {
    const QByteArrayView digits(hexText);
    quint8 crc = 0;
    for (qsizetype i = digits.size() % 2 ? -1 : 0; i < digits.size(); i += 2) {
        const QByteArrayView pair = i < 0 ? digits.first(1) : part(digits, i, 2);
        crc = CrcTable[crc ^ static_cast<quint8>(HexOrZero(pair))];
    }
    return crc;
}

QString DetailedStatusTexts(quint32 status, qint32 registerSize) {
    QString text;
    if (registerSize != 2 && registerSize != 4)
        return text;
    const auto& table = registerSize == 2 ? TwoByteStatusTexts : FourByteStatusTexts;
    for (const TStatusTextRow& row : table) {
        if ((status & row.Bits) == row.Bits)
            text += QLatin1String(row.Text) + QLatin1String("\r\n");
    }
    return text;
}

QByteArray IntToBin(qint32 digits, quint64 value) {
    if (digits <= 0)
        return {};
    QByteArray text(digits, '0');
    for (qint32 i = digits - 1; i >= 0 && value != 0; --i, value >>= 1) {
        if (value & 1)
            text[i] = '1';
    }
    return text;
}

bool Dravonel_ReadPosition(quint8& TrailingByte) {
    CommLogMarker("Dravonel_ReadPosition");
    QByteArray& text = EncoderPosition.RxData;
    if (!DravonelExchange(frameCommand(), text))
        return false;
    text = KeepPrintable(text);
    const int digits = longFrame() ? LongFrameDigits : ShortFrameDigits;
    if (!acceptFrame(text, text.size() == digits && allHex(text)))
        return false;
    if (const TFrameLayout* layout = frameLayout())
        decodeFrame(*layout, text, TrailingByte);
    else
        markUndecodedFrame();
    return true;
}

bool Dravonel_ReadStatusPosition() {
    CommLogMarker("Dravonel_ReadStatusPosition");
    QByteArray& text = EncoderPosition.RxData;
    if (!DravonelExchange(StatusPositionCommand, text))
        return false;
    text = KeepPrintable(text);
    if (!acceptFrame(text, statusPositionFieldsAreHex(text)))
        return false;
    QByteArray statusText;
    if (!decodeStatusPositionFields(text, statusText)) {
        LastError =
            "Incorrect response length on the command \"d\" (" + QString::fromLatin1(text) + ")!";
        return false;
    }
    const auto status = static_cast<quint16>(HexOrZero(statusText));
    EncoderStatus.DetailedStatus = status;
    EncoderStatus.TemperatureEXT = 0;
    EncoderPosition.ErrBit = status != 0;
    EncoderPosition.WarnBit = status != 0;
    EncoderPosition.ErrCRC = false;
    return true;
}

bool Dravonel_ReadTwoChannelPosition() {
    const bool multiturn = EncoderSignature.Multiturn;
    const int frames = multiturn ? 9 : 7;
    std::array<quint8, 9> bytes{};
    if (!Dravonel_ResetProtocol())
        return false;
    for (int i = 0; i < frames; ++i) {
        quint8 trailing = 0;
        if (!Dravonel_ReadPosition(trailing))
            return false;
        bytes[i] = trailing;
    }
    decodeSecondChannel(bytes, multiturn);
    return true;
}
