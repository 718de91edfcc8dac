#include "UpdateNetwork.h"

#include "Orodja.h"
#include "UpdateManifest.h"
#include "UpdateSettings.h"

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QTimer>

const QString DefaultManifestUrl =
    QStringLiteral("https://www.norvane.example/software-manifest.csv");
const QString DefaultProbeAddresses = QStringLiteral("1.1.1.1:53,8.8.8.8:53");

const char* const ManifestUrlVariable = "Q714_UPDATE_MANIFEST_URL";
const char* const ProbesVariable = "Q714_UPDATE_PROBES";
const char* const TrustedCaFileVariable = "Q714_UPDATE_CA_FILE";

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

bool isLoopback(const QString& host) {
    const QHostAddress address(host);
    return host == QLatin1String("localhost") || (!address.isNull() && address.isLoopback());
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

// Runs the event loop until `loop` is quit, excluding user input: the window
// repaints its status texts, but no click starts another workflow meanwhile.
void waitIn(QEventLoop& loop) {
    if (!ApplicationTerminating())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

bool InternetReachable(const ProbeAddress& address, QString& error) {
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy); // the probe asks for a direct route
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(UpdateNetworkTimeouts.probeMs);
    socket.connectToHost(address.host, address.port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.error() == QAbstractSocket::UnknownSocketError)
        waitIn(loop);
    const bool connected = socket.state() == QAbstractSocket::ConnectedState;
    if (!connected)
        error = socket.error() != QAbstractSocket::UnknownSocketError
                    ? socket.errorString()
                    : QStringLiteral("Connection to %1 port %2 timed out")
                          .arg(address.host)
                          .arg(address.port);
    socket.abort();
    return connected;
}

namespace {

// One manifest request: follows https redirects only, caps the body, and
// enforces the connection and response time-outs.
class ManifestRequest : public QObject {
public:
    ManifestRequest(const QUrl& address, const QSslConfiguration& tls);
    // The body, or false with the error message.
    bool Run(QByteArray& body, QString& error);

private:
    void onRedirected(const QUrl& target);
    void onMetaData();
    void onEncrypted();
    void fail(const QString& message);

    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    QEventLoop loop;
    QTimer connectionDeadline;
    QTimer responseDeadline;
    QString failure;
};

ManifestRequest::ManifestRequest(const QUrl& address, const QSslConfiguration& tls) {
    if (isLoopback(address.host()))
        manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(address);
    request.setSslConfiguration(tls);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    reply = manager.get(request); // owned by the manager
    connect(reply, &QNetworkReply::redirected, this, &ManifestRequest::onRedirected);
    connect(reply, &QNetworkReply::metaDataChanged, this, &ManifestRequest::onMetaData);
    connect(reply, &QNetworkReply::encrypted, this, &ManifestRequest::onEncrypted);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > MaxManifestBytes)
            fail(ManifestTooLargeText());
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connectionDeadline.setSingleShot(true);
    responseDeadline.setSingleShot(true);
    connect(&connectionDeadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("Connection to the server timed out")); });
    connect(&responseDeadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("The server did not answer in time")); });
    connectionDeadline.start(UpdateNetworkTimeouts.connectionMs);
}

void ManifestRequest::onRedirected(const QUrl& target) {
    if (target.scheme() == QLatin1String("https") && !target.host().isEmpty())
        emit reply->redirectAllowed();
    else
        fail(QStringLiteral("Redirect to a non-https address refused: ") +
             PrintableText(target.toString()));
}

void ManifestRequest::onMetaData() {
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > MaxManifestBytes)
        fail(ManifestTooLargeText());
}

// The TLS handshake is done: the connection stands, the response time starts.
void ManifestRequest::onEncrypted() {
    if (!connectionDeadline.isActive())
        return;
    connectionDeadline.stop();
    responseDeadline.start(UpdateNetworkTimeouts.responseMs);
}

void ManifestRequest::fail(const QString& message) {
    if (failure.isEmpty())
        failure = message;
    connectionDeadline.stop();
    responseDeadline.stop();
    if (reply->isRunning())
        reply->abort(); // emits finished, which ends the wait
}

bool ManifestRequest::Run(QByteArray& body, QString& error) {
    if (reply->isRunning())
        waitIn(loop);
    if (reply->isRunning())
        fail(QStringLiteral("The program is closing"));
    if (!failure.isEmpty()) {
        error = failure;
        return false;
    }
    // Connection, time-out, TLS and proxy errors come without an HTTP status.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool networkError = reply->error() != QNetworkReply::NoError &&
                              reply->error() < QNetworkReply::ContentAccessDenied;
    if (networkError || !status.isValid()) {
        error = reply->errorString();
        return false;
    }
    if (status.toInt() != 200) {
        const QString reason = QString::fromLatin1(
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
        error = QStringLiteral("Error %1: %2").arg(status.toInt()).arg(PrintableText(reason));
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        error = reply->errorString();
        return false;
    }
    body = reply->readAll();
    return true;
}

bool trustedConfiguration(const QString& caFile, QSslConfiguration& tls, QString& error) {
    tls = QSslConfiguration::defaultConfiguration();
    if (caFile.isEmpty())
        return true;
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromPath(caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (certificates.isEmpty()) {
        error = QStringLiteral("No certificates in %1 (%2)")
                    .arg(PrintableText(caFile), QLatin1String(TrustedCaFileVariable));
        return false;
    }
    // Setting the list replaces the system's, so they are named first.
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + certificates);
    return true;
}

} // namespace

bool DownloadManifest(const QUrl& address, const QString& trustedCaFile, QStringList& lines,
                      QString& error) {
    lines.clear();
    if (!QSslSocket::supportsSsl()) {
        error = QStringLiteral("No TLS support: ") + QSslSocket::activeBackend();
        return false;
    }
    QSslConfiguration tls;
    if (!trustedConfiguration(trustedCaFile, tls, error))
        return false;
    ManifestRequest request(address, tls);
    QByteArray body;
    return request.Run(body, error) && ManifestLines(body, lines, error);
}
