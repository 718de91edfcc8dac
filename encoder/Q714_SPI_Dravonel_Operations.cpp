// Named encoder operations: readings for the read cycle, the encoder's
// commands, self-calibration and the write-access status.

#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

#include <limits>

namespace {

constexpr char RetriesNote[] = "retries";
constexpr quint32 FirmwareAcceptingRetries = 2;

bool sendEncoderCommand(quint8 code) {
    return Dravonel_WriteRegister(REG_ADDR_DRAVONEL_COMMAND, 1, code);
}

// Reads a 2-byte calibration result, announcing the register in the log.
bool readCalibrationWord(const char* marker, quint32 address, quint16& word) {
    CommLogMarker(marker);
    if (!Dravonel_ReadRegister(address, 2))
        return false;
    word = RegDataLowWord();
    return true;
}

QString writeStatusText(quint8 status) {
    for (const TWriteStatusRow& row : WriteStatusTable) {
        if (status & row.Mask)
            return QString::fromLatin1(row.Text);
    }
    return QString::fromLatin1(status != 0 ? WriteStatusOtherBits : WriteStatusNone);
}

} // namespace

bool Dravonel_ReadSignalLevel() {
    CommLogMarker("Dravonel_ReadSignalLevel");
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SIGNAL_LEVEL, REG_SIZE_DRAVONEL_SIGNAL_LEVEL))
        return false;
    const quint32 level = RegDataValue();
    // The field is signed: a level that does not fit it is refused, not
    // stored as a negative number.
    if (level > quint32(std::numeric_limits<qint32>::max())) {
        LastError = QStringLiteral("Signal level out of range: %1").arg(level);
        return false;
    }
    EncoderStatus.SignalLevel = static_cast<qint32>(level);
    return true;
}

bool Dravonel_ReadTemperature() {
    CommLogMarker("Dravonel_ReadTemperature");
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_TEMPERATURE, 2))
        return false;
    EncoderStatus.TemperatureSEN = static_cast<qint16>(RegDataLowWord());
    return true;
}

bool Dravonel_ReadPersistentStatus() {
    CommLogMarker("Dravonel_ReadPersistentStatus");
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_PERSISTENT_STATUS,
                               REG_SIZE_DRAVONEL_PERSISTENT_STATUS))
        return false;
    EncoderStatus.DetailedStatus = RegDataLowWord();
    return true;
}

bool Dravonel_ClearPersistentStatus() {
    CommLogMarker("Dravonel_ClearPersistentStatus");
    return sendEncoderCommand(DRAVONEL_CMD_CLEAR_PERSISTENT_STATUS);
}

bool Dravonel_SaveToFlash() {
    CommLogMarker("Dravonel_SaveToFlash");
    return sendEncoderCommand(DRAVONEL_CMD_SAVE_TO_FLASH);
}

bool Dravonel_FactoryReset() {
    CommLogMarker("Dravonel_FactoryReset");
    return sendEncoderCommand(DRAVONEL_CMD_FACTORY_RESET);
}

bool Dravonel_ReadSelfCalStatus() {
    CommLogMarker("Dravonel_ReadSelfCalStatus");
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_CAL_STATUS, REG_SIZE_DRAVONEL_CAL_STATUS))
        return false;
    SelfCalStatus = RegDataValue();
    return true;
}

// The arc and time-out writes are best effort: an encoder without those
// registers still calibrates with its own settings.
bool Dravonel_StartSefCal(quint16 arc, quint8 timeout) {
    CommLogMarker("Dravonel_StartSefCal");
    CommLogMarker("REG_ADDR_DRAVONEL_CAL_ANGLE");
    if (arc > 0)
        Dravonel_WriteRegister(REG_ADDR_DRAVONEL_CAL_ANGLE, 2, arc);
    CommLogMarker("REG_ADDR_DRAVONEL_CAL_TIMEOUT");
    if (timeout > 0)
        Dravonel_WriteRegister(REG_ADDR_DRAVONEL_CAL_TIMEOUT, 1, timeout);
    if (!Dravonel_ReadSelfCalStatus())
        return false;
    SelfCalStatus = RegData[3];
    CommLogMarker("REG_ADDR_DRAVONEL_COMMAND");
    if (sendEncoderCommand(DRAVONEL_CMD_START_SELF_CAL))
        return true;
    // Firmware 2 may refuse the start command with a message about retries
    // although the calibration starts; such a refusal counts as a start.
    return EncoderSignature.FWverMajor == FirmwareAcceptingRetries &&
           LastError.contains(QLatin1String(RetriesNote));
}

bool Dravonel_ReadSelfCalResults() {
    CommLogMarker("Dravonel_ReadSelfCalResults");
    SelfCalResultsText.clear();
    if (!Dravonel_ReadSelfCalStatus())
        return false;
    quint16 word = 0;
    if (!readCalibrationWord("REG_ADDR_DRAVONEL_CAL_ECCENTRICITY",
                             REG_ADDR_DRAVONEL_CAL_ECCENTRICITY, word))
        return false;
    SelfCalResultsText += QStringLiteral("Eccentricity: %1 um\r\n").arg(word);
    if (!readCalibrationWord("REG_ADDR_DRAVONEL_CAL_ECC_PHASE", REG_ADDR_DRAVONEL_CAL_ECC_PHASE,
                             word))
        return false;
    SelfCalResultsText += QStringLiteral("Ecc phase: %1 deg\r\n").arg(word);
    if (!readCalibrationWord("REG_ADDR_DRAVONEL_CAL_RADIAL_SHIFT",
                             REG_ADDR_DRAVONEL_CAL_RADIAL_SHIFT, word))
        return false;
    SelfCalResultsText += QStringLiteral("Radial shift: %1 um").arg(static_cast<qint16>(word));
    return true;
}

bool Dravonel_PresetMultiturnCounter(quint16 preset) {
    CommLogMarker("Dravonel_PresetMultiturnCounter");
    CommLogMarker("REG_ADDR_DRAVONEL_MT_PRESET");
    if (!Dravonel_WriteRegister(REG_ADDR_DRAVONEL_MT_PRESET, 4, preset))
        return false;
    CommLogMarker("REG_ADDR_DRAVONEL_COMMAND");
    return sendEncoderCommand(DRAVONEL_CMD_APPLY_MT_PRESET);
}

QString Dravonel_GetWriteAccesStatusRegister() {
    CommLogMarker("Dravonel_GetWriteAccesStatusRegister");
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_WRITE_STATUS, 1))
        return LastError;
    const quint8 status = RegData[3];
    const QString hex = QStringLiteral("%1").arg(status, 2, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("Write status: [0x%1] ").arg(hex) + writeStatusText(status);
}
