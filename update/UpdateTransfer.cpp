// The update check's network side, built as a module of its own that the
// program loads when the check runs: Qt Network and the libraries it brings
// (Kerberos, proxy support) then cost the window's start nothing.
#include "UpdateTransfer.h"

#include "Orodja.h"
#include "UpdateManifest.h"

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

namespace {

// Runs the event loop until `loop` is quit, excluding user input: the window
// repaints its status texts, but no click starts another workflow meanwhile.
void waitIn(QEventLoop& loop, const UpdateTransferContext& context) {
    if (!context.terminating())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool isLoopback(const QString& host) {
    const QHostAddress address(host);
    return host == QLatin1String("localhost") || (!address.isNull() && address.isLoopback());
}

bool internetReachable(const ProbeAddress& address, const UpdateTransferContext& context,
                       QString& error) {
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy); // the probe asks for a direct route
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(context.timeouts.probeMs);
    socket.connectToHost(address.host, address.port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.error() == QAbstractSocket::UnknownSocketError)
        waitIn(loop, context);
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

// One manifest request: follows https redirects only, caps the body, and
// enforces the connection and response time-outs.
class ManifestRequest : public QObject {
public:
    ManifestRequest(const QUrl& address, const QSslConfiguration& tls,
                    const UpdateTransferContext& context);
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
    const UpdateTransferContext& context;
};

ManifestRequest::ManifestRequest(const QUrl& address, const QSslConfiguration& tls,
                                 const UpdateTransferContext& context)
    : context(context) {
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
    connectionDeadline.start(context.timeouts.connectionMs);
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
    responseDeadline.start(context.timeouts.responseMs);
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
        waitIn(loop, context);
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

bool downloadManifest(const QUrl& address, const QString& trustedCaFile,
                      const UpdateTransferContext& context, QByteArray& body, QString& error) {
    if (!QSslSocket::supportsSsl()) {
        error = QStringLiteral("No TLS support: ") + QSslSocket::activeBackend();
        return false;
    }
    QSslConfiguration tls;
    if (!trustedConfiguration(trustedCaFile, tls, error))
        return false;
    ManifestRequest request(address, tls, context);
    return request.Run(body, error);
}

const UpdateTransfer transfer{UpdateTransferInterfaceVersion, &internetReachable,
                              &downloadManifest};

} // namespace

extern "C" Q_DECL_EXPORT const UpdateTransfer* q714_update_transfer() {
    return &transfer;
}
