// Register access of the Dravonel protocol: read, write and protocol reset,
// and the classification of the adapter's replies.

#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

namespace {

// Error replies of the adapter, tested against the upper-cased reply before
// the success prefix: "0x96" (access denied) also begins with "0x9".
struct TErrorReply {
    const char* ReadPrefix;
    const char* WritePrefix;
    const char* Message;
};
constexpr std::array<TErrorReply, 8> ErrorReplies = {{
    {"ERROR", "ERROR", "Error"},
    {"0X26:", "0X26", "Invalid register address"},
    {"0X56:", "0X56", "Parameter out of range"},
    {"0X96:", "0X96", "Access denied"},
    {"0XEE:", "0XEE", "Incorrect number of bytes"},
    {"0XF6:", "0XF6", "Write access is locked"},
    {"0XF9:", "0XF9", "CRC invalid on write"},
    {"0XE6:", "0XE6", "CRC invalid on read"},
}};

constexpr char ReadSuccessPrefix[] = "0x9:";
constexpr char WriteSuccessPrefix[] = "0x9";
constexpr int ReadReplyLength = 14; // "0x9:" + 2 uninterpreted + 8 data digits
constexpr int ReadDataOffset = 6;
constexpr char ResetCommand[] = "x";
constexpr char ResetConfirmation[] = "Reset of Dravonel protocol performed";

enum class TAccess { Read, Write };

QByteArray hexDigits(quint32 value, int width) {
    return QByteArray::number(value, 16).toUpper().rightJustified(width, '0');
}

QByteArray readCommand(quint32 address, qint32 size) {
    return "R:" + hexDigits(static_cast<quint32>(size) & 0xFFFF, 4) + ":" + hexDigits(address, 8);
}

QByteArray writeCommand(quint32 address, qint32 size, quint32 value) {
    return "W:" + hexDigits(static_cast<quint32>(size) & 0xFFFF, 4) + ":" + hexDigits(address, 8) +
           ":" + hexDigits(value, 8);
}

// message + "\r\nsCmd: " + command + " RCV: " + reply
QString replyError(const char* message, const QByteArray& command, const QByteArray& reply) {
    return QString::fromLatin1(message) + QStringLiteral("\r\nsCmd: ") +
           QString::fromLatin1(command) + QStringLiteral(" RCV: ") + QString::fromLatin1(reply);
}

// The message of the first error reply that the reply begins with, or null.
const char* errorReplyMessage(const QByteArray& reply, TAccess access) {
    const QByteArray upper = reply.toUpper();
    for (const TErrorReply& error : ErrorReplies) {
        const char* prefix = access == TAccess::Read ? error.ReadPrefix : error.WritePrefix;
        if (upper.startsWith(prefix))
            return error.Message;
    }
    return nullptr;
}

// Checks a normalised read reply; on success its data bytes go to `bytes`.
bool decodeReadReply(const QByteArray& command, const QByteArray& reply,
                     std::array<quint8, 4>& bytes) {
    if (const char* message = errorReplyMessage(reply, TAccess::Read)) {
        LastError = replyError(message, command, reply);
        return false;
    }
    if (!reply.startsWith(ReadSuccessPrefix)) {
        LastError = replyError("Other Error reading register", command, reply);
        return false;
    }
    if (reply.size() != ReadReplyLength) {
        LastError = replyError("Not enough data received back", command, reply);
        return false;
    }
    quint64 value = 0;
    if (!ParseHex(reply.mid(ReadDataOffset), value)) {
        LastError = replyError("Invalid data received back", command, reply);
        return false;
    }
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<quint8>(value >> (8 * (3 - i)));
    return true;
}

bool checkWriteReply(const QByteArray& command, const QByteArray& reply) {
    if (const char* message = errorReplyMessage(reply, TAccess::Write)) {
        LastError = replyError(message, command, reply);
        return false;
    }
    if (reply.size() != 3 && reply.size() != 4) {
        LastError = replyError("Incorrect data received back", command, reply);
        return false;
    }
    if (!reply.startsWith(WriteSuccessPrefix)) {
        LastError = replyError("Other error writing register", command, reply);
        return false;
    }
    return true;
}

// Value of a hexadecimal digit, -1 for any other character.
int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool DravonelExchange(const QByteArray& command, QByteArray& reply) {
    EncoderPosition.ErrComm = SerialTransaction(COMPortHandle, command, 0, reply);
    if (EncoderPosition.ErrComm == 0)
        return true;
    LastError = QStringLiteral("USB Comm Err %1").arg(EncoderPosition.ErrComm);
    return false;
}

bool ParseHex(QByteArrayView text, quint64& value) {
    if (text.isEmpty() || text.size() > 16)
        return false;
    quint64 result = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return false;
        result = (result << 4) | static_cast<quint64>(digit);
    }
    value = result;
    return true;
}

quint64 HexOrZero(QByteArrayView text) {
    quint64 value = 0;
    return ParseHex(text, value) ? value : 0;
}

quint32 RegDataValue() {
    return (quint32(RegData[0]) << 24) | (quint32(RegData[1]) << 16) | (quint32(RegData[2]) << 8) |
           quint32(RegData[3]);
}

quint16 RegDataLowWord() {
    return static_cast<quint16>((RegData[2] << 8) | RegData[3]);
}

qint16 RegDataSigned16() {
    return static_cast<qint16>(RegDataLowWord());
}

qint8 RegDataSigned8() {
    return static_cast<qint8>(RegData[3]);
}

QByteArray NormaliseReply(const QByteArray& reply) {
    QByteArray text = TrimText(reply);
    text.replace(' ', QByteArray());
    return text;
}

bool Dravonel_ReadRegister(quint32 address, qint32 size) {
    RegData.fill(0);
    const QByteArray command = readCommand(address, size);
    QByteArray reply;
    if (!DravonelExchange(command, reply))
        return false;
    reply = NormaliseReply(reply);
    std::array<quint8, 4> bytes = {0, 0, 0, 0};
    if (!decodeReadReply(command, reply, bytes))
        return false;
    LastError.clear();
    RegData = bytes;
    return true;
}

bool Dravonel_WriteRegister(quint32 address, qint32 size, quint32 value) {
    if (!Dravonel_ResetProtocol())
        return false;
    LastError.clear();
    const QByteArray command = writeCommand(address, size, value);
    QByteArray reply;
    if (!DravonelExchange(command, reply))
        return false;
    reply = NormaliseReply(reply);
    if (!checkWriteReply(command, reply))
        return false;
    LastError.clear();
    return true;
}

bool Dravonel_ResetProtocol() {
    CommLogMarker("Dravonel_ResetProtocol");
    QByteArray reply;
    if (!DravonelExchange(ResetCommand, reply))
        return false;
    const QByteArray text = TrimText(reply);
    LastError = QString::fromLatin1(text);
    return text == ResetConfirmation;
}

bool LastErrorRefusesAccess() {
    for (const char* message : {"Access denied", "Write access is locked", "CRC invalid on read"}) {
        if (LastError.startsWith(QLatin1String(message) + QLatin1String("\r\n")))
            return true;
    }
    return false;
}
