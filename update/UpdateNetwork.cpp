#include "UpdateNetwork.h"

#include "Orodja.h"
#include "UpdateManifest.h"
#include "UpdateSettings.h"
#include "UpdateTransfer.h"

#include <QCoreApplication>
#include <QLibrary>

const QString DefaultManifestUrl =
    QStringLiteral("https://www.norvane.example/software-manifest.csv");
const QString DefaultProbeAddresses = QStringLiteral("1.1.1.1:53,8.8.8.8:53");

UpdateTimeouts UpdateNetworkTimeouts;

void ResetUpdateNetworkState() {
    UpdateNetworkTimeouts = UpdateTimeouts();
}

namespace {

// The environment variable's value when it is set, else the setting's, else
// the default.
QString configured(const char* variable, const QString& settingName, const QString& fallback) {
    if (qEnvironmentVariableIsSet(variable))
        return qEnvironmentVariable(variable);
    return OpenUpdateSettings()->value(settingName, fallback).toString();
}

QString describedProblem(const char* variable, const QString& problem) {
    return QStringLiteral("%1 (setting or %2)").arg(problem, QLatin1String(variable));
}

} // namespace

bool ParseManifestUrl(const QString& text, QUrl& url, QString& problem) {
    url = QUrl(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        problem =
            QStringLiteral("The manifest address is not an https address: ") + PrintableText(text);
        url = QUrl();
        return false;
    }
    return true;
}

bool ParseProbeAddresses(const QString& text, QList<ProbeAddress>& probes, QString& problem) {
    probes.clear();
    for (const QString& entry : text.split(QLatin1Char(','))) {
        const int colon = entry.lastIndexOf(QLatin1Char(':'));
        bool portOk = false;
        const uint port = colon > 0 ? entry.mid(colon + 1).trimmed().toUInt(&portOk) : 0;
        const QString host = entry.left(colon).trimmed();
        if (!portOk || port == 0 || port > 65535 || host.isEmpty()) {
            problem = QStringLiteral("The probe addresses are not host:port,host:port: ") +
                      PrintableText(text);
            probes.clear();
            return false;
        }
        probes << ProbeAddress{host, static_cast<quint16>(port)};
    }
    return true;
}

UpdateAddresses ReadUpdateAddresses() {
    UpdateAddresses addresses;
    QString problem;
    if (!ParseManifestUrl(configured(ManifestUrlVariable, QStringLiteral("UpdateCheck/ManifestUrl"),
                                     DefaultManifestUrl),
                          addresses.manifest, problem))
        addresses.manifestProblem = describedProblem(ManifestUrlVariable, problem);
    if (!ParseProbeAddresses(
            configured(ProbesVariable, QStringLiteral("UpdateCheck/Probes"), DefaultProbeAddresses),
            addresses.probes, problem))
        addresses.probesProblem = describedProblem(ProbesVariable, problem);
    addresses.trustedCaFile =
        configured(TrustedCaFileVariable, QStringLiteral("UpdateCheck/CaFile"), QString());
    return addresses;
}

namespace {

QString transferModulePath;
const UpdateTransfer* loadedTransfer = nullptr;

bool applicationTerminating() {
    return ApplicationTerminating();
}

UpdateTransferContext transferContext() {
    return {UpdateNetworkTimeouts, &applicationTerminating};
}

// Loads the module on the first check of the run; a module that cannot be
// loaded fails the check's step with the loader's reason.
const UpdateTransfer* updateTransfer(QString& error) {
    if (loadedTransfer)
        return loadedTransfer;
    QLibrary module(UpdateTransferModulePath());
    using Entry = const UpdateTransfer* (*)();
    const auto entry = reinterpret_cast<Entry>(module.resolve(UpdateTransferEntryName));
    const UpdateTransfer* transfer = entry ? entry() : nullptr;
    if (!transfer || transfer->interfaceVersion != UpdateTransferInterfaceVersion) {
        const QString reason =
            entry ? module.fileName() + QStringLiteral(" belongs to another version")
                  : module.errorString();
        error = QStringLiteral("The update check's network module cannot be used: ") +
                PrintableText(reason);
        return nullptr;
    }
    loadedTransfer = transfer; // the module stays loaded until the program ends
    return loadedTransfer;
}

} // namespace

QString UpdateTransferModulePath() {
    if (!transferModulePath.isEmpty())
        return transferModulePath;
    return QCoreApplication::applicationDirPath() + QLatin1String("/../") +
           QLatin1String(UpdateTransferModuleFolder) + QLatin1Char('/') +
           QLatin1String(UpdateTransferModuleFile);
}

void OverrideUpdateTransferModulePath(const QString& path) {
    transferModulePath = path;
    loadedTransfer = nullptr;
}

bool InternetReachable(const ProbeAddress& address, QString& error) {
    const UpdateTransfer* transfer = updateTransfer(error);
    return transfer && transfer->internetReachable(address, transferContext(), error);
}

bool DownloadManifest(const QUrl& address, const QString& trustedCaFile, QStringList& lines,
                      QString& error) {
    lines.clear();
    const UpdateTransfer* transfer = updateTransfer(error);
    QByteArray body;
    return transfer &&
           transfer->downloadManifest(address, trustedCaFile, transferContext(), body, error) &&
           ManifestLines(body, lines, error);
}
