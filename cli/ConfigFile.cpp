#include "ConfigFile.h"

#include "Enkoderji_splosno.h"
#include "Output.h"
#include "Q714_SPI_Dravonel.h"
#include "SystemIdentity.h"
#include "Ulvax_konstante.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QList>
#include <QSet>
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

// The encoder's type and register map, both or neither.
bool parseEncoderKind(const QJsonObject& encoder, ConfigFile& file, QString& problem) {
    const QJsonValue type = encoder.value(QLatin1String("type"));
    const QJsonValue map = encoder.value(QLatin1String("register_map"));
    if (type.isUndefined() && map.isUndefined())
        return true;
    const double number = type.toDouble(-1);
    file.registerMap = map.toString();
    if (!type.isDouble() || number < 1 || number > 7 || std::floor(number) != number ||
        file.registerMap != RegisterMapName(int(number))) {
        problem = QStringLiteral("encoder.type must be an encoder type (1 to 7) and "
                                 "encoder.register_map its register map (U2 for 1 to 4, U4 "
                                 "for 5 to 7)");
        return false;
    }
    file.encoderType = int(number);
    return true;
}

// The text of the string token at `start` (its opening quote), decoded by
// Qt, and where the token ends (its closing quote).
QString stringToken(const QByteArray& json, qsizetype start, qsizetype& end) {
    end = start + 1;
    while (end < json.size() && json[end] != '"')
        end += json[end] == '\\' ? 2 : 1;
    const QByteArray array = '[' + json.mid(start, end - start + 1) + ']';
    return QJsonDocument::fromJson(array).array().first().toString();
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

QString RegisterMapName(int encoderType) {
    return UsesRegisterMapU4(quint8(encoderType)) ? QStringLiteral("U4") : QStringLiteral("U2");
}

QString DuplicateKey(const QByteArray& json) {
    struct Container {
        bool object;
        bool expectingKey;
        QSet<QString> keys;
    };
    QList<Container> open;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            qsizetype end = i;
            const QString text = stringToken(json, i, end);
            if (!open.isEmpty() && open.last().expectingKey) {
                if (open.last().keys.contains(text))
                    return text;
                open.last().keys.insert(text);
                open.last().expectingKey = false;
            }
            i = end;
        } else if (c == '{' || c == '[') {
            open.append({c == '{', c == '{', {}});
        } else if ((c == '}' || c == ']') && !open.isEmpty()) {
            open.removeLast();
        } else if (c == ',' && !open.isEmpty() && open.last().object) {
            open.last().expectingKey = true;
        }
    }
    return QString();
}

QJsonObject ConfigDocument(const QMap<QString, qint64>& settings) {
    const TEncoderSignature& s = EncoderSignature;
    return Output::Tagged(FileType,
                          {{"tool", "q714"},
                           {"tool_version", OwnVersionText()},
                           {"created_utc", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                           {"encoder", QJsonObject{{"type", EncoderType},
                                                   {"register_map", RegisterMapName(EncoderType)},
                                                   {"serial", QString::fromLatin1(s.SerialNumber)},
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
    const QString twice = DuplicateKey(text);
    if (!twice.isEmpty()) {
        problem = QStringLiteral("an object names \"%1\" twice").arg(twice);
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
    if (root.contains(QLatin1String("encoder")) &&
        !root.value(QLatin1String("encoder")).isObject()) {
        problem = QStringLiteral("\"encoder\" must be an object");
        return false;
    }
    const QJsonObject encoder = root.value(QLatin1String("encoder")).toObject();
    if (!parseEncoderKind(encoder, file, problem))
        return false;
    file.encoderSerial = encoder.value(QLatin1String("serial")).toString();
    file.encoderPart = encoder.value(QLatin1String("part")).toString();
    file.encoderFirmware = encoder.value(QLatin1String("firmware")).toString();
    return parseSettings(root.value(QLatin1String("transferable")).toObject(),
                         IsTransferableSetting, QStringLiteral("transferable"), file.transferable,
                         problem) &&
           parseSettings(root.value(QLatin1String("unit")).toObject(), IsUnitSetting,
                         QStringLiteral("unit"), file.unit, problem);
}
