#pragma once
// The settings file of "config dump", "config restore" and "config verify":
// a JSON document with a header (the tool, and the encoder it was dumped
// from: its type and register map among them) and the settings, split into
// those that may go to any encoder of that type and map ("transferable":
// position filter, multi-turn error arc) and those bound to one encoder
// ("unit": position offset).

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

struct ConfigFile {
    QString encoderSerial;
    QString encoderPart;
    QString encoderFirmware;
    // The type (1 to 7) and register map ("U2", "U4") of the encoder it was
    // dumped from; files written before they were kept have neither.
    int encoderType = 0;
    QString registerMap;
    QMap<QString, qint64> transferable; // by key: position_filter, multiturn_error_arc
    QMap<QString, qint64> unit;         // position_offset
};

// The document of the connected encoder's settings (keys as above; a setting
// the encoder lacks is left out).
QJsonObject ConfigDocument(const QMap<QString, qint64>& settings);

// Reads and checks the whole document: JSON whose objects name no key twice,
// schema version, type, the encoder's type and map (both or neither), known
// keys only, whole numbers in each setting's range. False with the first
// problem in `problem`; nothing is to be sent then.
bool ParseConfigFile(const QByteArray& text, ConfigFile& file, QString& problem);

// The first key that one object of valid JSON text names twice, or empty.
// QJsonDocument keeps only one of them, so the text itself is looked at.
QString DuplicateKey(const QByteArray& json);

// The register map of an encoder type: "U2" or "U4".
QString RegisterMapName(int encoderType);

// The settings' keys and their ranges.
bool IsTransferableSetting(const QString& key);
bool IsUnitSetting(const QString& key);
qint64 SettingMaximum(const QString& key);
