#include "UpdateCheckSandbox.h"

#include "SoftwareUpdateCheck.h"
#include "UpdateNetwork.h"
#include "UpdateSettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>

namespace {

// Nobody listens on the discard port of loopback: a check that runs anyway
// finds "no internet" without leaving the machine.
const QByteArray LoopbackManifest = "https://127.0.0.1:9/software-manifest.csv";
const QByteArray LoopbackProbes = "127.0.0.1:9,127.0.0.1:9";

QTemporaryDir& processSettingsFolder() {
    static QTemporaryDir folder;
    return folder;
}

void useSettingsFolder(const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

} // namespace

UpdateCheckSandbox::UpdateCheckSandbox() {
    useSettingsFolder(processSettingsFolder().path());
    OpenUpdateSettings()->clear();
    setVariable(ManifestUrlVariable, LoopbackManifest);
    setVariable(ProbesVariable, LoopbackProbes);
    setVariable(TrustedCaFileVariable, QByteArray());
    ResetSoftwareUpdateCheckState();
}

UpdateCheckSandbox::~UpdateCheckSandbox() {
    ResetSoftwareUpdateCheckState();
    useSettingsFolder(processSettingsFolder().path());
    OpenUpdateSettings()->clear();
    for (const auto& saved : savedVariables)
        qputenv(saved.first.constData(), saved.second);
    for (const QByteArray& name : unsetVariables)
        qunsetenv(name.constData());
}

void UpdateCheckSandbox::setVariable(const char* name, const QByteArray& value) {
    const QByteArray key(name);
    const bool known = unsetVariables.contains(key) ||
                       std::any_of(savedVariables.begin(), savedVariables.end(),
                                   [&](const auto& saved) { return saved.first == key; });
    if (!known) {
        if (qEnvironmentVariableIsSet(name))
            savedVariables << qMakePair(key, qgetenv(name));
        else
            unsetVariables << key;
    }
    qputenv(name, value);
}

void UpdateCheckSandbox::PointAt(const QUrl& manifest, const QString& probes,
                                 const QString& trustedCaFile) {
    setVariable(ManifestUrlVariable, manifest.toEncoded());
    SetProbes(probes);
    SetTrustedCaFile(trustedCaFile);
}

void UpdateCheckSandbox::SetProbes(const QString& probes) {
    setVariable(ProbesVariable, probes.toUtf8());
}

void UpdateCheckSandbox::SetTrustedCaFile(const QString& file) {
    setVariable(TrustedCaFileVariable, file.toLocal8Bit());
}

QVariant UpdateCheckSandbox::Stored(const QString& valueName) const {
    return OpenUpdateSettings()->value(valueName);
}

void UpdateCheckSandbox::Store(const QString& valueName, const QVariant& value) {
    OpenUpdateSettings()->setValue(valueName, value);
}

void UpdateCheckSandbox::MakeSettingsUnwritable() {
    const QString blocker = processSettingsFolder().filePath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    file.open(QIODevice::WriteOnly);
    useSettingsFolder(blocker + QStringLiteral("/settings"));
}
