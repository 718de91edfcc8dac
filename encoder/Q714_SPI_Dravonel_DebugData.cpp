// The encoder's debug record: latching a fresh copy and reading it, either as
// the 132-byte block of firmware x.9 and later or as the protocol-4 register
// set; and the debug unlock.

#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

namespace {

constexpr quint32 Protocol4Major = 4;
constexpr quint32 FirstMinorWithLatchRegister = 9;
const QByteArray AdapterLatchCommand = "?07:021"; // SPI transfer that latches first

// The block: 33 words of 4 bytes, multi-byte values big-endian.
constexpr int BlockWords = 33;
constexpr int BlockSamples = 53;
constexpr char BlockHeader = 'D';
constexpr int OffsetSamples = 1;
constexpr int OffsetAbsPos = 107;
constexpr int OffsetDecodSelect = 113;
constexpr int OffsetCodeA = 114;
constexpr int OffsetCodeB = 116;
constexpr int OffsetMcuTemp = 120;
constexpr int OffsetCycleTime = 122;
constexpr int OffsetStatus = 124;
constexpr int OffsetVdda = 126;
constexpr int OffsetResetCnt = 128;

// The protocol-4 set, offsets from REG_ADDR_DRAVONEL_DEBUG_P4.
constexpr int Protocol4SampleWords = 28; // two samples per word
constexpr quint32 P4CodeA = 0x84;
constexpr quint32 P4CodeB = 0x86;
constexpr quint32 P4DcdTrs = 0x88;
constexpr quint32 P4DcdWrn = 0x89;
constexpr quint32 P4DecodSelect = 0x8A;
constexpr quint32 P4Status = 0x8E;
constexpr quint32 P4Multiturn = 0x8C;
constexpr quint32 P4Singleturn = 0x90;
// The decoder's 1-byte values travel in the first data byte, unlike every
// other 1-byte register.
constexpr quint16 DecoderLevelScale = 16;

// Read when the readout does not reach them.
constexpr quint8 NotReadByte = 255;

quint32 bigEndian(const QByteArray& block, int offset, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<quint8>(block[offset + i]);
    return value;
}

bool readP4(quint32 offset, qint32 size) {
    return Dravonel_ReadRegister(REG_ADDR_DRAVONEL_DEBUG_P4 + offset, size);
}

// The adapter latches by an SPI transfer; its reply carries nothing used, and
// a problem with it is only noted.
void latchByAdapterCommand() {
    QByteArray reply;
    const qint32 status = SerialTransaction(COMPortHandle, AdapterLatchCommand, 0, reply);
    const QString sent = QString::fromLatin1(AdapterLatchCommand) + QStringLiteral(" -> ") +
                         QString::fromLatin1(KeepPrintable(reply));
    if (status != 0)
        LastError = QStringLiteral("Problem 1 pri latch debug podatkov: ") + sent;
    if (reply.toUpper().contains("ERROR"))
        LastError = QStringLiteral("Problem 2 pri latch debug podatkov: ") + sent;
}

bool latchDebugRecord(bool latch) {
    const TEncoderSignature& s = EncoderSignature;
    if (s.FWverMajor == Protocol4Major)
        return !latch ||
               Dravonel_WriteRegister(REG_ADDR_DRAVONEL_COMMAND, 1, DRAVONEL_CMD_DEBUG_LATCH);
    if (s.FWverMinor >= FirstMinorWithLatchRegister)
        return Dravonel_WriteRegister(REG_ADDR_DRAVONEL_DEBUG_LATCH, 1, 1);
    latchByAdapterCommand();
    return true;
}

bool readProtocol4Samples() {
    for (int i = 0; i < Protocol4SampleWords; ++i) {
        if (!readP4(4 * i, 4))
            return false;
        DebugData.Samples[2 * i] = static_cast<qint16>((RegData[0] << 8) | RegData[1]);
        DebugData.Samples[2 * i + 1] = static_cast<qint16>((RegData[2] << 8) | RegData[3]);
    }
    DebugData.SampleCount = Protocol4SampleWords * 2;
    return true;
}

bool readProtocol4Decoder() {
    TDebugData& d = DebugData;
    if (!readP4(P4CodeA, 2))
        return false;
    d.CodeA = RegDataLowWord();
    if (!readP4(P4CodeB, 2))
        return false;
    d.CodeB = RegDataLowWord();
    if (!readP4(P4DcdTrs, 1))
        return false;
    d.DcdTrs = static_cast<quint16>(RegData[0] * DecoderLevelScale);
    if (!readP4(P4DcdWrn, 1))
        return false;
    d.DcdWrn = static_cast<quint16>(RegData[0] * DecoderLevelScale);
    if (!readP4(P4DecodSelect, 1))
        return false;
    d.DecodSelect = RegData[0];
    return true;
}

// The record's position overwrites the reading's, so that what is recorded
// with it shows the decoder's view.
bool readProtocol4Position() {
    TEncoderPosition& p = EncoderPosition;
    if (!readP4(P4Multiturn, 2))
        return false;
    p.MT_value = RegDataLowWord(); // 0..65535, not sign-extended
    if (!readP4(P4Singleturn, 4))
        return false;
    p.ST_value = RegDataValue();
    p.MTST_value = static_cast<qint64>(p.MT_value) * (static_cast<qint64>(STmask) + 1) +
                   static_cast<qint64>(p.ST_value);
    return true;
}

bool readProtocol4Set() {
    if (!readProtocol4Samples() || !readProtocol4Decoder())
        return false;
    // Firmware without the status register ends the readout here, and the
    // position stays that of the frame.
    if (!readP4(P4Status, 2))
        return true;
    DebugData.Status = RegDataLowWord();
    return readProtocol4Position();
}

bool readBlock(QByteArray& block) {
    block.fill('\0', BlockWords * 4);
    for (int i = 0; i < BlockWords; ++i) {
        if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_DEBUG_BLOCK + 4 * i, 4))
            return false;
        for (int b = 0; b < 4; ++b)
            block[4 * i + b] = static_cast<char>(RegData[b]);
    }
    return true;
}

void takeBlock(const QByteArray& block) {
    TDebugData& d = DebugData;
    if (block[0] != BlockHeader)
        LastError += QStringLiteral("\r\nDebug data header mismatch!");
    d.SampleCount = BlockSamples;
    for (int i = 0; i < BlockSamples; ++i)
        d.Samples[i] = static_cast<qint16>(bigEndian(block, OffsetSamples + 2 * i, 2));
    d.AbsPos = bigEndian(block, OffsetAbsPos, 4);
    d.DecodSelect = static_cast<quint8>(bigEndian(block, OffsetDecodSelect, 1));
    d.CodeA = static_cast<quint16>(bigEndian(block, OffsetCodeA, 2));
    d.CodeB = static_cast<quint16>(bigEndian(block, OffsetCodeB, 2));
    d.McuTemp = static_cast<quint16>(bigEndian(block, OffsetMcuTemp, 2));
    d.CycleTime = static_cast<quint16>(bigEndian(block, OffsetCycleTime, 2));
    d.Status = static_cast<quint16>(bigEndian(block, OffsetStatus, 2));
    d.Vdda = static_cast<quint16>(bigEndian(block, OffsetVdda, 2));
    d.ResetCnt = static_cast<quint8>(bigEndian(block, OffsetResetCnt, 1));
}

} // namespace

TDebugData DebugData;

bool Dravonel_ReadDebugData(bool latch) {
    CommLogMarker("Dravonel_ReadDebugData");
    if (!latchDebugRecord(latch))
        return false;
    DebugData.DecodSelect = NotReadByte;
    DebugData.DcdTrs = NotReadByte;
    DebugData.DcdWrn = NotReadByte;
    if (EncoderSignature.FWverMajor == Protocol4Major)
        return readProtocol4Set();
    QByteArray block;
    if (!readBlock(block))
        return false;
    // Older firmware has the block, but its layout is not known.
    if (EncoderSignature.FWverMinor >= FirstMinorWithLatchRegister)
        takeBlock(block);
    return true;
}

bool Dravonel_UnlockDebug() {
    CommLogMarker("REG_ADDR_DRAVONEL_U2_COMMAND");
    return Dravonel_WriteRegister(REG_ADDR_DRAVONEL_U2_COMMAND, 1, DRAVONEL_CMD_DEBUG_LATCH);
}
