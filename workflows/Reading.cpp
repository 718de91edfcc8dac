#include "Reading.h"

#include "AdapterWorkflows.h"
#include "DebugRecording.h"
#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Ulvax_konstante.h"

namespace {

bool linkBroken() {
    return EncoderPosition.ErrComm < 0;
}

void logFlags(FrontEnd& frontEnd) {
    if (EncoderPosition.ErrBit)
        frontEnd.Log(QStringLiteral("Error!"));
    if (EncoderPosition.WarnBit)
        frontEnd.Log(QStringLiteral("Warning!"));
    if (EncoderPosition.ErrCRC)
        frontEnd.Log(QStringLiteral("CRC!"));
    if (EncoderStatus.DetailedStatus != 0)
        frontEnd.Log(QStringLiteral("Status: ") + DetailedStatusBits());
}

// One counter; a failed read leaves RegData zeroed, so the value is then 0.
template <typename Value>
void readCounter(std::optional<qint64>& counter, quint32 address, qint32 size, Value (*value)(),
                 FrontEnd& frontEnd) {
    if (linkBroken())
        return;
    if (!Dravonel_ReadRegister(address, size))
        frontEnd.Log(LastError);
    counter = value();
}

DiagnosticsCounters readCounters(FrontEnd& frontEnd) {
    DiagnosticsCounters c;
    c.runtimeLogPresent = Present_U4_RUNTIME_LOG;
    if (c.runtimeLogPresent) {
        readCounter(c.powerCycles, REG_ADDR_DRAVONEL_U4_RUNTIME_LOG, 4, RegDataValue, frontEnd);
        readCounter(c.operatingMinutes, REG_ADDR_DRAVONEL_OPERATING_MINUTES, 4, RegDataValue,
                    frontEnd);
        readCounter(c.temperatureMin, REG_ADDR_DRAVONEL_TEMPERATURE_LOWEST, 1, RegDataSigned8,
                    frontEnd);
        readCounter(c.temperatureMax, REG_ADDR_DRAVONEL_TEMPERATURE_HIGHEST, 2, RegDataSigned16,
                    frontEnd);
    }
    readCounter(c.safetyMarginRt, REG_ADDR_DRAVONEL_SAFE_MARGIN_RT, 2, RegDataSigned16, frontEnd);
    readCounter(c.safetyMarginPer, REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER, 2, RegDataSigned16,
                frontEnd);
    return c;
}

// The position, after channel 1 of a two-ring encoder; false ends the
// reading.
bool readPosition(const ReadingOptions& options, Reading& reading, FrontEnd& frontEnd) {
    reading.twoChannels = IsTwoRingEncoder(EncoderType);
    if (reading.twoChannels) {
        LastError.clear();
        if (!Dravonel_ReadTwoChannelPosition()) {
            frontEnd.Log(LastError); // a failed channel 1 does not mean a broken link
            return false;
        }
        reading.channel1Read = true;
    }
    LastError.clear();
    quint8 trailingByte = 0; // not used by a reading
    const bool decoded = options.decodedStatus && !reading.twoChannels;
    if (decoded ? Dravonel_ReadStatusPosition() : Dravonel_ReadPosition(trailingByte))
        return true;
    frontEnd.Log(LastError);
    reading.linkBroken = linkBroken();
    return false;
}

void readOptionalValues(const ReadingOptions& options, Reading& reading, FrontEnd& frontEnd) {
    if (options.temperature) {
        reading.temperatureTaken = true;
        if (!Dravonel_ReadTemperature())
            frontEnd.Log(LastError); // the old sensor temperature stays
    }
    if (options.signalLevel && Present_SIGNAL_LEVEL && !linkBroken()) {
        reading.signalLevelRead = Dravonel_ReadSignalLevel();
        if (!reading.signalLevelRead)
            frontEnd.Log(LastError);
    }
    if (options.persistentStatus && Present_PERSISTENT_STATUS && !linkBroken() &&
        !Dravonel_ReadPersistentStatus())
        frontEnd.Log(LastError); // the frame's status stays
}

void readDebugStep(const ReadingOptions& options, Reading& reading, FrontEnd& frontEnd,
                   const ReadingHooks& hooks) {
    if (options.debugRecord && !linkBroken()) {
        reading.debugRecordTaken = true;
        reading.debugRecordRead =
            ReadDebugRecord(options.debugLatch, options.unlockRefusedDebugRecord, frontEnd);
        if (hooks.afterDebugReadout)
            hooks.afterDebugReadout();
    }
    if (options.supplyState && !linkBroken()) {
        reading.supplyStateRead = true;
        reading.supplyState = ReadSupplyState().state;
    }
}

} // namespace

QString DetailedStatusBits() {
    return QString::fromLatin1(
        IntToBin(8 * REG_SIZE_DRAVONEL_PERSISTENT_STATUS, EncoderStatus.DetailedStatus));
}

Reading TakeReading(const ReadingOptions& options, FrontEnd& frontEnd, const ReadingHooks& hooks) {
    Reading reading;
    if (!readPosition(options, reading, frontEnd))
        return reading;
    reading.positionRead = true;
    reading.frameMT = EncoderPosition.MT_value;
    reading.frameST = EncoderPosition.ST_value;
    reading.frameMTST = EncoderPosition.MTST_value;
    if (options.logFlags)
        logFlags(frontEnd);
    readOptionalValues(options, reading, frontEnd);
    reading.statusTexts =
        DetailedStatusTexts(EncoderStatus.DetailedStatus, REG_SIZE_DRAVONEL_PERSISTENT_STATUS);
    if (options.diagnostics) {
        reading.countersTaken = true;
        reading.counters = readCounters(frontEnd);
    }
    if (hooks.beforeDebugStep)
        hooks.beforeDebugStep();
    readDebugStep(options, reading, frontEnd, hooks);
    return reading;
}
