#include "SimulatedUpdateHost.h"

#include <QFile>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>

const QString SimulatedUpdateHost::ManifestPath = QStringLiteral("/software-manifest.csv");

namespace {

// A request head longer than this is not a request of the update check.
constexpr int MaxRequestHead = 16 * 1024;

QByteArray resource(const QString& name) {
    QFile file(QStringLiteral(":/update-host/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSslConfiguration serverConfiguration() {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(resource(QStringLiteral("host.pem"))));
    tls.setPrivateKey(QSslKey(resource(QStringLiteral("host-key.pem")), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
    return tls;
}

QByteArray response(const UpdateHostReply& reply) {
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason +
        "\r\nContent-Type: text/csv\r\nContent-Length: " + QByteArray::number(reply.body.size()) +
        "\r\nConnection: close\r\n";
    if (!reply.location.isEmpty())
        head += "Location: " + reply.location + "\r\n";
    return head + "\r\n" + reply.body;
}

} // namespace

SimulatedUpdateHost::SimulatedUpdateHost(QObject* parent)
    : QObject(parent), server(new QSslServer(this)) {
    server->setSslConfiguration(serverConfiguration());
    connect(server, &QSslServer::pendingConnectionAvailable, this, &SimulatedUpdateHost::accept);
}

SimulatedUpdateHost::~SimulatedUpdateHost() = default;

bool SimulatedUpdateHost::Listen(quint16 port) {
    if (!QSslSocket::supportsSsl()) {
        errorText = QStringLiteral("Qt has no TLS backend here");
        return false;
    }
    if (server->listen(QHostAddress::LocalHost, port))
        return true;
    errorText = server->errorString();
    return false;
}

quint16 SimulatedUpdateHost::Port() const {
    return server->serverPort();
}

QUrl SimulatedUpdateHost::Url(const QString& path) const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(Port()).arg(path));
}

void SimulatedUpdateHost::SetReply(const QString& path, const UpdateHostReply& reply) {
    replies.insert(path, reply);
}

void SimulatedUpdateHost::SetManifest(const QByteArray& body) {
    UpdateHostReply reply;
    reply.body = body;
    SetReply(ManifestPath, reply);
}

QByteArray SimulatedUpdateHost::CaCertificatePem() {
    return resource(QStringLiteral("ca.pem"));
}

bool SimulatedUpdateHost::WriteCaCertificate(const QString& path) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(CaCertificatePem()) >= 0 && file.commit();
}

void SimulatedUpdateHost::accept() {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        if (socket->bytesAvailable() > 0)
            serve(socket);
    }
}

// Answers once the request head is complete; the body of the reply follows
// the head at once and the connection closes.
void SimulatedUpdateHost::serve(QTcpSocket* socket) {
    if (socket->property("answered").toBool())
        return void(socket->readAll());
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (head.size() > MaxRequestHead)
        return socket->abort();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
    requested << path;
    if (onRequest)
        onRequest(path);
    UpdateHostReply reply;
    if (replies.contains(path)) {
        reply = replies.value(path);
    } else {
        reply.status = 404;
        reply.reason = "Not Found";
    }
    if (reply.silent)
        return;
    socket->write(response(reply));
    socket->disconnectFromHost(); // after the written bytes have gone out
}
