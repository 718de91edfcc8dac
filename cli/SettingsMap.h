#pragma once
// The encoder's settings by their q714 names (position_offset,
// position_filter, multiturn_error_arc), as `config` and test plans use
// them.

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

class FrontEnd;
enum class EncoderSetting;

using SettingsMap = QMap<QString, qint64>;

std::optional<EncoderSetting> SettingOf(const QString& key);
// Whether the connected encoder has the setting (the multi-turn error arc
// needs its register).
bool EncoderHasSetting(const QString& key);
// The keys of `values` the connected encoder has no register for.
QStringList SettingsTheEncoderLacks(const SettingsMap& values);

// Every setting the encoder has; false when one could not be read.
bool ReadSettingsMap(FrontEnd& front, SettingsMap& settings);
// Writes the settings in turn: none when the encoder lacks one (false,
// `problem` names them); stops at the first the encoder refuses (false,
// `problem` says which) and when the front end is stopping (false, `problem`
// empty). `written` names those written.
bool WriteSettingsMap(FrontEnd& front, const SettingsMap& values, QStringList& written,
                      QString& problem);
// Every expected value the encoder does not hold, named with both values.
QStringList SettingDifferences(const SettingsMap& expected, const SettingsMap& actual);
