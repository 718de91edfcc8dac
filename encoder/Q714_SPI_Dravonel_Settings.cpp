// Register accesses of the configuration, self-calibration, diagnostics and
// error-map workflows: the encoder's settings, the self-calibration
// parameters, the decoding safety reset and the error-map points.

#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

namespace {

constexpr qint32 SettingSize = 4; // position offset and filter
constexpr qint32 ByteSize = 1;
constexpr qint32 WordSize = 2;
constexpr quint32 FirmwareWithSwappedErrorMap = 2;

bool readMarked(const char* marker, quint32 address, qint32 size) {
    CommLogMarker(marker);
    return Dravonel_ReadRegister(address, size);
}

bool writeMarked(const char* marker, quint32 address, qint32 size, quint32 value) {
    CommLogMarker(marker);
    return Dravonel_WriteRegister(address, size, value);
}

} // namespace

bool Dravonel_ReadPositionOffset(quint32& offset) {
    if (!readMarked("REG_ADDR_DRAVONEL_POS_OFFSET", REG_ADDR_DRAVONEL_POS_OFFSET, SettingSize))
        return false;
    offset = RegDataValue();
    return true;
}

bool Dravonel_WritePositionOffset(quint32 offset) {
    return writeMarked("REG_ADDR_DRAVONEL_POS_OFFSET", REG_ADDR_DRAVONEL_POS_OFFSET, SettingSize,
                       offset);
}

bool Dravonel_ReadPositionFilter(quint32& filter) {
    if (!readMarked("REG_ADDR_DRAVONEL_FILTER_POS_VAL", REG_ADDR_DRAVONEL_FILTER_POS_VAL,
                    SettingSize))
        return false;
    filter = RegDataValue();
    return true;
}

bool Dravonel_WritePositionFilter(quint32 filter) {
    return writeMarked("REG_ADDR_DRAVONEL_FILTER_POS_VAL", REG_ADDR_DRAVONEL_FILTER_POS_VAL,
                       SettingSize, filter);
}

bool Dravonel_ReadMultiturnErrorArc(quint8& degrees) {
    if (!readMarked("REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD", REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD,
                    ByteSize))
        return false;
    degrees = RegData[3];
    return true;
}

bool Dravonel_WriteMultiturnErrorArc(quint32 degrees) {
    return writeMarked("REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD", REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD,
                       ByteSize, degrees);
}

bool Dravonel_ReadSelfCalArc(quint16& degrees) {
    if (!readMarked("REG_ADDR_DRAVONEL_CAL_ANGLE", REG_ADDR_DRAVONEL_CAL_ANGLE, WordSize))
        return false;
    degrees = RegDataLowWord();
    return true;
}

bool Dravonel_ReadSelfCalTimeout(quint8& seconds) {
    if (!readMarked("REG_ADDR_DRAVONEL_CAL_TIMEOUT", REG_ADDR_DRAVONEL_CAL_TIMEOUT, ByteSize))
        return false;
    seconds = RegData[3];
    return true;
}

bool Dravonel_WriteSelfCalArc(quint16 degrees) {
    return writeMarked("REG_ADDR_DRAVONEL_CAL_ANGLE", REG_ADDR_DRAVONEL_CAL_ANGLE, WordSize,
                       degrees);
}

bool Dravonel_WriteSelfCalTimeout(quint8 seconds) {
    return writeMarked("REG_ADDR_DRAVONEL_CAL_TIMEOUT", REG_ADDR_DRAVONEL_CAL_TIMEOUT, ByteSize,
                       seconds);
}

bool Dravonel_ReadWord(quint32 address, quint16& word) {
    if (!Dravonel_ReadRegister(address, WordSize))
        return false;
    word = RegDataLowWord();
    return true;
}

bool Dravonel_ResetDecodingSafetyMargin() {
    return writeMarked("REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER", REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER,
                       WordSize, SafeMarginResetValue);
}

bool Dravonel_ReadErrorMapPoint(int point, qint16& correction) {
    const quint32 address = REG_ADDR_DRAVONEL_ERROR_MAP + 2 * static_cast<quint32>(point);
    if (!Dravonel_ReadRegister(address, WordSize))
        return false;
    const bool swapped = EncoderSignature.FWverMajor == FirmwareWithSwappedErrorMap;
    const quint8 high = swapped ? RegData[3] : RegData[2];
    const quint8 low = swapped ? RegData[2] : RegData[3];
    correction = static_cast<qint16>((high << 8) | low);
    return true;
}
