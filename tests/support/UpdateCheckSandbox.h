#pragma once
// Keeps the update check on loopback and away from the user's settings:
// settings in a folder of the test process (emptied for each sandbox), the
// environment overrides pointed at a loopback port, and the update unit's
// state put back to its start values. Every fixture that makes a main window
// holds one from before the window exists, so its start-up timer can never
// reach beyond loopback.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QVariant>

class UpdateCheckSandbox {
public:
    UpdateCheckSandbox();
    ~UpdateCheckSandbox();
    UpdateCheckSandbox(const UpdateCheckSandbox&) = delete;
    UpdateCheckSandbox& operator=(const UpdateCheckSandbox&) = delete;

    // Points the check at these addresses (loopback only in tests).
    void PointAt(const QUrl& manifest, const QString& probes, const QString& trustedCaFile);
    void SetProbes(const QString& probes);
    void SetTrustedCaFile(const QString& file);

    // The stored value of `valueName` (invalid when there is none).
    QVariant Stored(const QString& valueName) const;
    void Store(const QString& valueName, const QVariant& value);
    // From now on the settings cannot be written (their folder is a file).
    void MakeSettingsUnwritable();

private:
    void setVariable(const char* name, const QByteArray& value);

    QList<QPair<QByteArray, QByteArray>> savedVariables; // name, value
    QList<QByteArray> unsetVariables;
};
