#pragma once
// The settings file of "config dump", "config restore" and "config verify":
// a JSON document with a header and the settings, split into those that
// may go to any encoder ("transferable": position filter, multi-turn error
// arc) and those bound to one encoder ("unit": position offset).

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

struct ConfigFile {
    QString encoderSerial;
    QString encoderPart;
    QString encoderFirmware;
    QMap<QString, qint64> transferable; // by key: position_filter, multiturn_error_arc
    QMap<QString, qint64> unit;         // position_offset
};

// The document of the connected encoder's settings (keys as above; a setting
// the encoder lacks is left out).
QJsonObject ConfigDocument(const QMap<QString, qint64>& settings);

// Reads and checks the whole document: schema version, type, known keys
// only, whole numbers in each setting's range. False with the first problem
// in `problem`; nothing is to be sent then.
bool ParseConfigFile(const QByteArray& text, ConfigFile& file, QString& problem);

// The settings' keys and their ranges.
bool IsTransferableSetting(const QString& key);
bool IsUnitSetting(const QString& key);
qint64 SettingMaximum(const QString& key);
