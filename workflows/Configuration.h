#pragma once
// The encoder's stored settings: reading and writing the position offset,
// the position filter and the multi-turn error arc, the multi-turn preset,
// storing to NVRAM, the factory reset, and "Set zero here".

#include <QString>
#include <functional>
#include <optional>

class FrontEnd;

enum class EncoderSetting { PositionOffset, PositionFilter, MultiturnErrorArc };

// "position offset", "position filter", "multiturn error arc".
QString SettingName(EncoderSetting setting);

struct EncoderSettings {
    std::optional<quint32> positionOffset;
    std::optional<quint32> positionFilter;
    std::optional<quint8> multiturnErrorArc; // read only where the encoder has it
};

// Reads the settings the encoder has; a failed read is logged and leaves its
// value empty.
EncoderSettings ReadEncoderSettings(FrontEnd& frontEnd);

// Writes the setting (the encoder itself refuses an arc above its limit);
// a failure is logged.
bool WriteEncoderSetting(EncoderSetting setting, quint32 value, FrontEnd& frontEnd);

// Presets the turn count; a failure is logged.
bool PresetMultiturn(quint16 turns, FrontEnd& frontEnd);

enum class StoreCommand { SaveToNvram, FactoryReset };
// The command, a pause while the encoder writes its NVRAM, `refresh` (the
// window reads the settings back into its fields), and the outcome: told
// ("Save data done!" or "Factory reset done!"), or the failure alerted.
bool StoreSettings(StoreCommand command, FrontEnd& frontEnd,
                   const std::function<void()>& refresh = {});

// What keeps the last reading from being a zero reference ("Timeout, CRC, "),
// empty when it is good; `positionRead` tells whether the reading got a
// position at all.
QString ReadingErrorsText(bool positionRead);
// offset + single-turn count - 2, wrapped into one revolution.
qint64 ZeroOffsetAt(qint64 offset, qint64 singleturn, qint64 countsPerTurn);

// The position offset a zero moves from, or why there is none.
struct ZeroReference {
    std::optional<qint64> offset;
    QString problem; // shown when the offset is empty and the reading was good
};

// The steps of "Set zero here" that a front-end takes itself.
struct SetZeroHooks {
    // Reads the settings and gives the offset the zero is to move from (the
    // window: its refresh, then its offset field as the user may have typed
    // it).
    std::function<ZeroReference()> refreshSettings;
    // One reading; true when it got a position.
    std::function<bool()> takeReading;
    // Stores the settings (default: StoreSettings without a refresh).
    std::function<void()> store;
    std::function<void(const QString&)> status; // progress text
    std::function<void(qint64)> newOffset;      // the offset about to be written
    std::function<void()> presetSetToZero;      // the preset field becomes "0"
};

struct SetZeroResult {
    bool done = false; // false: refused before anything was written
    qint64 previousOffset = 0;
    quint32 singleturn = 0;
    qint64 newOffset = 0;
};

// Makes the current position the zero (two counts behind it), stores it and
// presets the turn count to 0 before and after the store.
SetZeroResult SetZeroHere(FrontEnd& frontEnd, const SetZeroHooks& hooks);
