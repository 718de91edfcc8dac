#pragma once
// The update check's network side: where it looks (settings, overridden by
// the environment for a run), the internet probe and the manifest download.
// Qt Network does the work, in a module loaded when the check runs; TLS is
// verified as Qt does by default.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Defaults: the maker's host, and two public DNS resolvers on port 53.
extern const QString DefaultManifestUrl;
extern const QString DefaultProbeAddresses;

// Settings (in the preference store) and the environment variables that
// override them for a run, so that tests and demonstrations point the check
// at loopback.
inline constexpr const char* ManifestUrlVariable = "Q714_UPDATE_MANIFEST_URL";
inline constexpr const char* ProbesVariable = "Q714_UPDATE_PROBES";
inline constexpr const char* TrustedCaFileVariable = "Q714_UPDATE_CA_FILE";

struct ProbeAddress {
    QString host;
    quint16 port = 0;
};

// Where the check looks. An unusable setting leaves its list or address
// empty and says why in the matching problem text; the check then fails
// that step with the problem as its error message rather than falling back
// to any other address.
struct UpdateAddresses {
    QUrl manifest;
    QString manifestProblem;
    QList<ProbeAddress> probes;
    QString probesProblem;
    QString trustedCaFile; // PEM certificates trusted in addition to the system's
};

UpdateAddresses ReadUpdateAddresses();

// "https://host[:port]/path" only.
bool ParseManifestUrl(const QString& text, QUrl& url, QString& problem);
// "host:port,host:port" (one or more).
bool ParseProbeAddresses(const QString& text, QList<ProbeAddress>& probes, QString& problem);

// Time-outs of the network steps, in milliseconds.
struct UpdateTimeouts {
    int probeMs = 2000;
    int connectionMs = 10000;
    int responseMs = 10000;
};
// Tests shorten them; ResetUpdateNetworkState puts them back.
extern UpdateTimeouts UpdateNetworkTimeouts;
void ResetUpdateNetworkState();

// The network module the two steps below load on first use, and tests that
// point it elsewhere (an empty path: the module beside the program).
QString UpdateTransferModulePath();
void OverrideUpdateTransferModulePath(const QString& path);

// Whether a TCP connection to the address stands within the probe time-out
// (it is closed again at once). The reason of a failure goes to `error`.
bool InternetReachable(const ProbeAddress& address, QString& error);

// HTTPS GET of the manifest. The certificates in `trustedCaFile` (if any)
// are trusted for this request only. Fails with `error` on a time-out, a
// connection or TLS error, a redirect to anything but https, a status other
// than 200 ("Error 404: Not Found") or a body the check does not accept.
bool DownloadManifest(const QUrl& address, const QString& trustedCaFile, QStringList& lines,
                      QString& error);
