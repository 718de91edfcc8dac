#include "Configuration.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"

namespace {

constexpr int StoreSettleMs = 150;     // the encoder writes its NVRAM meanwhile
constexpr qint64 ZeroMarginCounts = 2; // the new zero lies this far behind the shaft

// A message with the line breaks of a message box.
QString asLines(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void alertZeroError(FrontEnd& frontEnd) {
    if (!LastError.isEmpty())
        frontEnd.Alert(asLines(
            QStringLiteral("Error writing new zero position. Errors encountered: ") + LastError));
}

} // namespace

QString SettingName(EncoderSetting setting) {
    switch (setting) {
    case EncoderSetting::PositionOffset:
        return QStringLiteral("position offset");
    case EncoderSetting::PositionFilter:
        return QStringLiteral("position filter");
    case EncoderSetting::MultiturnErrorArc:
        return QStringLiteral("multiturn error arc");
    }
    return QString();
}

EncoderSettings ReadEncoderSettings(FrontEnd& frontEnd) {
    EncoderSettings settings;
    quint32 value = 0;
    if (Dravonel_ReadPositionOffset(value))
        settings.positionOffset = value;
    else
        frontEnd.Log(LastError);
    if (Dravonel_ReadPositionFilter(value))
        settings.positionFilter = value;
    else
        frontEnd.Log(LastError);
    if (!Present_MT_ERR_TRESHOLD)
        return settings;
    quint8 arc = 0;
    if (Dravonel_ReadMultiturnErrorArc(arc))
        settings.multiturnErrorArc = arc;
    else
        frontEnd.Log(LastError);
    return settings;
}

bool WriteEncoderSetting(EncoderSetting setting, quint32 value, FrontEnd& frontEnd) {
    bool written = false;
    switch (setting) {
    case EncoderSetting::PositionOffset:
        written = Dravonel_WritePositionOffset(value);
        break;
    case EncoderSetting::PositionFilter:
        written = Dravonel_WritePositionFilter(value);
        break;
    case EncoderSetting::MultiturnErrorArc:
        written = Dravonel_WriteMultiturnErrorArc(value);
        break;
    }
    if (!written)
        frontEnd.Log(LastError);
    return written;
}

bool PresetMultiturn(quint16 turns, FrontEnd& frontEnd) {
    const bool preset = Dravonel_PresetMultiturnCounter(turns);
    if (!preset)
        frontEnd.Log(LastError);
    return preset;
}

bool StoreSettings(StoreCommand command, FrontEnd& frontEnd, const std::function<void()>& refresh) {
    const bool save = command == StoreCommand::SaveToNvram;
    const bool stored = save ? Dravonel_SaveToFlash() : Dravonel_FactoryReset();
    const QString failure = LastError;
    frontEnd.Pause(StoreSettleMs);
    if (refresh)
        refresh();
    if (stored) {
        frontEnd.Inform(save ? QStringLiteral("Save data done!")
                             : QStringLiteral("Factory reset done!"));
    } else {
        frontEnd.Log(failure);
        frontEnd.Alert(asLines(
            (save ? QStringLiteral("Save data failed!") : QStringLiteral("Factory reset failed!")) +
            QLatin1Char('\n') + failure));
    }
    return stored;
}

QString ReadingErrorsText(bool positionRead) {
    const TEncoderPosition& p = EncoderPosition;
    QString errors;
    if (p.ErrTimeout)
        errors += QStringLiteral("Timeout, ");
    if (p.ErrBit)
        errors += QStringLiteral("Error bit, ");
    if (p.ErrCRC)
        errors += QStringLiteral("CRC, ");
    if (p.ErrComm != 0)
        errors += QStringLiteral("Comm, ");
    // A reply the read could not use (a "d" reply of the wrong length) raises
    // no flag; its position is an old one.
    if (!positionRead)
        errors += QStringLiteral("Read, ");
    return errors;
}

// 64-bit, so no sum of two 32-bit values overflows.
qint64 ZeroOffsetAt(qint64 offset, qint64 singleturn, qint64 countsPerTurn) {
    const qint64 zero = offset + singleturn - ZeroMarginCounts;
    if (countsPerTurn <= 0)
        return zero;
    return ((zero % countsPerTurn) + countsPerTurn) % countsPerTurn;
}

SetZeroResult SetZeroHere(FrontEnd& frontEnd, const SetZeroHooks& hooks) {
    SetZeroResult result;
    const ZeroReference reference = hooks.refreshSettings();
    const QString errors = ReadingErrorsText(hooks.takeReading());
    if (!errors.isEmpty() || !reference.offset) {
        frontEnd.Alert(errors.isEmpty()
                           ? reference.problem
                           : QStringLiteral("Unable to set zero position. Errors encountered: ") +
                                 errors);
        return result;
    }
    if (hooks.presetSetToZero)
        hooks.presetSetToZero();
    LastError.clear();
    if (MTbits > 0)
        PresetMultiturn(0, frontEnd);

    result.previousOffset = *reference.offset;
    result.singleturn = EncoderPosition.ST_value;
    const QString before = QStringLiteral("Current zero pos: %1\nEncoder pos: %2\n")
                               .arg(result.previousOffset)
                               .arg(result.singleturn);
    if (hooks.status)
        hooks.status(before);
    result.newOffset = ZeroOffsetAt(result.previousOffset, result.singleturn, STcounts);
    if (hooks.newOffset)
        hooks.newOffset(result.newOffset);
    WriteEncoderSetting(EncoderSetting::PositionOffset, static_cast<quint32>(result.newOffset),
                        frontEnd);
    alertZeroError(frontEnd);

    if (hooks.store)
        hooks.store();
    else
        StoreSettings(StoreCommand::SaveToNvram, frontEnd);
    if (hooks.status)
        hooks.status(before +
                     QStringLiteral("New zero pos: %1\nMultiturn preset: 0").arg(result.newOffset));
    if (MTbits > 0)
        PresetMultiturn(0, frontEnd);
    alertZeroError(frontEnd);
    result.done = true;
    return result;
}
