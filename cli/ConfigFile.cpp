#include "ConfigFile.h"

#include "Enkoderji_splosno.h"
#include "Output.h"
#include "SystemIdentity.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>
#include <limits>

namespace {

const QString FileType = QStringLiteral("config");

bool parseSettings(const QJsonObject& section, bool (*known)(const QString&),
                   const QString& sectionName, QMap<QString, qint64>& settings, QString& problem) {
    for (auto it = section.begin(); it != section.end(); ++it) {
        const QString key = it.key();
        if (!known(key)) {
            problem = QStringLiteral("\"%1\" is no %2 setting").arg(key, sectionName);
            return false;
        }
        const double value = it.value().toDouble(-1);
        if (!it.value().isDouble() || value < 0 || value > double(SettingMaximum(key)) ||
            std::floor(value) != value) {
            problem = QStringLiteral("%1.%2 must be a whole number from 0 to %3")
                          .arg(sectionName, key)
                          .arg(SettingMaximum(key));
            return false;
        }
        settings.insert(key, qint64(value));
    }
    return true;
}

QJsonObject section(const QMap<QString, qint64>& settings, bool (*belongs)(const QString&)) {
    QJsonObject object;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        if (belongs(it.key()))
            object.insert(it.key(), double(it.value()));
    return object;
}

} // namespace

bool IsTransferableSetting(const QString& key) {
    return key == QLatin1String("position_filter") || key == QLatin1String("multiturn_error_arc");
}

bool IsUnitSetting(const QString& key) {
    return key == QLatin1String("position_offset");
}

qint64 SettingMaximum(const QString& key) {
    if (key == QLatin1String("multiturn_error_arc"))
        return 255;
    return std::numeric_limits<qint32>::max();
}

QJsonObject ConfigDocument(const QMap<QString, qint64>& settings) {
    const TEncoderSignature& s = EncoderSignature;
    return Output::Tagged(FileType,
                          {{"tool", "q714"},
                           {"tool_version", OwnVersionText()},
                           {"created_utc", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                           {"encoder", QJsonObject{{"serial", QString::fromLatin1(s.SerialNumber)},
                                                   {"part", QString::fromLatin1(s.PartNumber)},
                                                   {"firmware", s.FWverStr}}},
                           {"transferable", section(settings, IsTransferableSetting)},
                           {"unit", section(settings, IsUnitSetting)}});
}

bool ParseConfigFile(const QByteArray& text, ConfigFile& file, QString& problem) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        problem = error.error != QJsonParseError::NoError
                      ? QStringLiteral("not JSON (%1 at offset %2)")
                            .arg(error.errorString())
                            .arg(error.offset)
                      : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject root = document.object();
    if (root.value(QLatin1String("schema_version")).toInt(-1) != SchemaVersion ||
        root.value(QLatin1String("type")).toString() != FileType) {
        problem =
            QStringLiteral("not a q714 settings file of schema version %1").arg(SchemaVersion);
        return false;
    }
    for (const char* name : {"transferable", "unit"}) {
        if (root.contains(QLatin1String(name)) && !root.value(QLatin1String(name)).isObject()) {
            problem = QStringLiteral("\"%1\" must be an object").arg(QLatin1String(name));
            return false;
        }
    }
    const QJsonObject encoder = root.value(QLatin1String("encoder")).toObject();
    file.encoderSerial = encoder.value(QLatin1String("serial")).toString();
    file.encoderPart = encoder.value(QLatin1String("part")).toString();
    file.encoderFirmware = encoder.value(QLatin1String("firmware")).toString();
    return parseSettings(root.value(QLatin1String("transferable")).toObject(),
                         IsTransferableSetting, QStringLiteral("transferable"), file.transferable,
                         problem) &&
           parseSettings(root.value(QLatin1String("unit")).toObject(), IsUnitSetting,
                         QStringLiteral("unit"), file.unit, problem);
}
