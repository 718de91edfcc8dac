// Module state of the Dravonel protocol: every global with its start value,
// and the reset that puts them back.

#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"

namespace {
constexpr TRegisterMap Map = UlvaxRegisterMap;
constexpr TRegisterMapColumn StartColumn = TRegisterMapColumn::U2;
} // namespace

QString LastError;
std::array<quint8, 4> RegData = {0, 0, 0, 0};

quint8 EncoderType = 0;
QByteArray UnknownResolutionCode;
quint8 DravonelVersion = 0;
qint32 STbits = 0;
qint32 STcounts = 0;
qint32 STmask = 0;
qint32 MTbits = 0;

quint32 REG_ADDR_DRAVONEL_POS_OFFSET = Map.POS_OFFSET.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FILTER_POS_VAL = Map.FILTER_POS_VAL.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_MT_PRESET = Map.MT_PRESET.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD = Map.MT_ERR_TRESHOLD.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_PERSISTENT_STATUS = Map.PERSISTENT_STATUS.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_SIGNAL_LEVEL = Map.SIGNAL_LEVEL.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_TEMPERATURE = Map.TEMPERATURE.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_COMMAND = Map.COMMAND.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_STATUS = Map.CAL_STATUS.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_ANGLE = Map.CAL_ANGLE.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_TIMEOUT = Map.CAL_TIMEOUT.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_ECCENTRICITY = Map.CAL_ECCENTRICITY.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_ECC_PHASE = Map.CAL_ECC_PHASE.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_CAL_RADIAL_SHIFT = Map.CAL_RADIAL_SHIFT.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FW_MAJOR = Map.FW_MAJOR.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FW_MINOR = Map.FW_MINOR.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FW_COMM = Map.FW_COMM.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FW_SVN = Map.FW_SVN.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_FW_HASH = Map.FW_HASH.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_SERIAL_NUMBER = Map.SERIAL_NUMBER.In(StartColumn);
quint32 REG_ADDR_DRAVONEL_ERROR_MAP = Map.ERROR_MAP.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_PERSISTENT_STATUS = Map.SIZE_PERSISTENT_STATUS.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_SIGNAL_LEVEL = Map.SIZE_SIGNAL_LEVEL.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_CAL_STATUS = Map.SIZE_CAL_STATUS.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_FW_VERSION = Map.SIZE_FW_VERSION.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_FW_SVN = Map.SIZE_FW_SVN.In(StartColumn);
qint32 REG_SIZE_DRAVONEL_FW_HASH = Map.SIZE_FW_HASH.In(StartColumn);
qint32 REG_WORDS_DRAVONEL_SERIAL_NUMBER = Map.WORDS_SERIAL_NUMBER.In(StartColumn);

bool Present_MT_ERR_TRESHOLD = false;
bool Present_PERSISTENT_STATUS = false;
bool Present_SIGNAL_LEVEL = false;
bool Present_SELF_CAL_TIMEOUT = false;
bool Present_FIRMWARE_REVISION = false;
bool Present_U4_RUNTIME_LOG = false;

TEncoderStatus EncoderStatus;

quint32 SelfCalStatus = 0;
QString SelfCalResultsText;
bool RefuseMalformedFrames = false;

void InstallRegisterMap(TRegisterMapColumn column) {
    REG_ADDR_DRAVONEL_POS_OFFSET = Map.POS_OFFSET.In(column);
    REG_ADDR_DRAVONEL_FILTER_POS_VAL = Map.FILTER_POS_VAL.In(column);
    REG_ADDR_DRAVONEL_MT_PRESET = Map.MT_PRESET.In(column);
    REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD = Map.MT_ERR_TRESHOLD.In(column);
    REG_ADDR_DRAVONEL_PERSISTENT_STATUS = Map.PERSISTENT_STATUS.In(column);
    REG_ADDR_DRAVONEL_SIGNAL_LEVEL = Map.SIGNAL_LEVEL.In(column);
    REG_ADDR_DRAVONEL_TEMPERATURE = Map.TEMPERATURE.In(column);
    REG_ADDR_DRAVONEL_COMMAND = Map.COMMAND.In(column);
    REG_ADDR_DRAVONEL_CAL_STATUS = Map.CAL_STATUS.In(column);
    REG_ADDR_DRAVONEL_CAL_ANGLE = Map.CAL_ANGLE.In(column);
    REG_ADDR_DRAVONEL_CAL_TIMEOUT = Map.CAL_TIMEOUT.In(column);
    REG_ADDR_DRAVONEL_CAL_ECCENTRICITY = Map.CAL_ECCENTRICITY.In(column);
    REG_ADDR_DRAVONEL_CAL_ECC_PHASE = Map.CAL_ECC_PHASE.In(column);
    REG_ADDR_DRAVONEL_CAL_RADIAL_SHIFT = Map.CAL_RADIAL_SHIFT.In(column);
    REG_ADDR_DRAVONEL_FW_MAJOR = Map.FW_MAJOR.In(column);
    REG_ADDR_DRAVONEL_FW_MINOR = Map.FW_MINOR.In(column);
    REG_ADDR_DRAVONEL_FW_COMM = Map.FW_COMM.In(column);
    REG_ADDR_DRAVONEL_FW_SVN = Map.FW_SVN.In(column);
    REG_ADDR_DRAVONEL_FW_HASH = Map.FW_HASH.In(column);
    REG_ADDR_DRAVONEL_SERIAL_NUMBER = Map.SERIAL_NUMBER.In(column);
    REG_ADDR_DRAVONEL_ERROR_MAP = Map.ERROR_MAP.In(column);
    REG_SIZE_DRAVONEL_PERSISTENT_STATUS = Map.SIZE_PERSISTENT_STATUS.In(column);
    REG_SIZE_DRAVONEL_SIGNAL_LEVEL = Map.SIZE_SIGNAL_LEVEL.In(column);
    REG_SIZE_DRAVONEL_CAL_STATUS = Map.SIZE_CAL_STATUS.In(column);
    REG_SIZE_DRAVONEL_FW_VERSION = Map.SIZE_FW_VERSION.In(column);
    REG_SIZE_DRAVONEL_FW_SVN = Map.SIZE_FW_SVN.In(column);
    REG_SIZE_DRAVONEL_FW_HASH = Map.SIZE_FW_HASH.In(column);
    REG_WORDS_DRAVONEL_SERIAL_NUMBER = Map.WORDS_SERIAL_NUMBER.In(column);
}

namespace {

void resetPresenceFlags() {
    Present_MT_ERR_TRESHOLD = false;
    Present_PERSISTENT_STATUS = false;
    Present_SIGNAL_LEVEL = false;
    Present_SELF_CAL_TIMEOUT = false;
    Present_FIRMWARE_REVISION = false;
    Present_U4_RUNTIME_LOG = false;
}

void resetEncoderKind() {
    EncoderType = 0;
    DravonelVersion = 0;
    STbits = 0;
    STcounts = 0;
    STmask = 0;
    MTbits = 0;
    UnknownResolutionCode.clear();
}

} // namespace

void ResetEncoderProtocolState() {
    LastError.clear();
    RegData.fill(0);
    resetEncoderKind();
    InstallRegisterMap(StartColumn);
    resetPresenceFlags();
    EncoderStatus = TEncoderStatus();
    SelfCalStatus = 0;
    SelfCalResultsText.clear();
    DebugData = TDebugData();
    RefuseMalformedFrames = false;
    ResetEncoderRecords();
}
