#include "SettingsMap.h"

#include "Configuration.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"

namespace {

struct SettingKey {
    const char* key;
    EncoderSetting setting;
};
const SettingKey SettingKeys[] = {
    {"position_offset", EncoderSetting::PositionOffset},
    {"position_filter", EncoderSetting::PositionFilter},
    {"multiturn_error_arc", EncoderSetting::MultiturnErrorArc},
};

} // namespace

std::optional<EncoderSetting> SettingOf(const QString& key) {
    for (const SettingKey& k : SettingKeys)
        if (key == QLatin1String(k.key))
            return k.setting;
    return std::nullopt;
}

bool EncoderHasSetting(const QString& key) {
    return key != QLatin1String("multiturn_error_arc") || Present_MT_ERR_TRESHOLD;
}

QStringList SettingsTheEncoderLacks(const SettingsMap& values) {
    QStringList missing;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        if (!SettingOf(it.key()) || !EncoderHasSetting(it.key()))
            missing << it.key();
    return missing;
}

bool ReadSettingsMap(FrontEnd& front, SettingsMap& settings) {
    const EncoderSettings read = ReadEncoderSettings(front);
    if (read.positionOffset)
        settings.insert(QStringLiteral("position_offset"), *read.positionOffset);
    if (read.positionFilter)
        settings.insert(QStringLiteral("position_filter"), *read.positionFilter);
    if (read.multiturnErrorArc)
        settings.insert(QStringLiteral("multiturn_error_arc"), *read.multiturnErrorArc);
    return read.positionOffset && read.positionFilter &&
           (read.multiturnErrorArc || !Present_MT_ERR_TRESHOLD);
}

bool WriteSettingsMap(FrontEnd& front, const SettingsMap& values, QStringList& written,
                      QString& problem) {
    const QStringList missing = SettingsTheEncoderLacks(values);
    if (!missing.isEmpty()) {
        problem = QStringLiteral("this encoder has no %1").arg(missing.join(QStringLiteral(", ")));
        return false;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (front.Stopping())
            return false;
        if (!WriteEncoderSetting(*SettingOf(it.key()), quint32(it.value()), front)) {
            problem = QStringLiteral("the encoder refused %1 = %2").arg(it.key()).arg(it.value());
            return false;
        }
        written << it.key();
    }
    return true;
}

QStringList SettingDifferences(const SettingsMap& expected, const SettingsMap& actual) {
    QStringList lines;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            lines << QStringLiteral("%1: expected %2, not readable").arg(it.key()).arg(it.value());
        else if (actual.value(it.key()) != it.value())
            lines << QStringLiteral("%1: expected %2, encoder has %3")
                         .arg(it.key())
                         .arg(it.value())
                         .arg(actual.value(it.key()));
    }
    return lines;
}
