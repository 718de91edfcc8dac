#pragma once
// A stand-in for the maker's web host: serves the update check's version file
// over HTTPS on loopback, with a certificate made for it (127.0.0.1, ::1 and
// localhost) by a test authority that nobody trusts by default. The tool
// trusts it only when told to (Q714_UPDATE_CA_FILE). Each path can answer
// with any status, a redirect, or not at all, to reproduce what a real host
// does wrong.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <functional>

class QSslServer;
class QTcpSocket;

struct UpdateHostReply {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray body;
    QByteArray location; // Location header, for redirects
    bool silent = false; // read the request, never answer
};

class SimulatedUpdateHost : public QObject {
public:
    static const QString ManifestPath; // "/software-manifest.csv"

    explicit SimulatedUpdateHost(QObject* parent = nullptr);
    ~SimulatedUpdateHost() override;

    // Listens on 127.0.0.1 (port 0: any free port).
    bool Listen(quint16 port = 0);
    QString ErrorText() const { return errorText; }
    quint16 Port() const;
    QUrl Url(const QString& path = ManifestPath) const;

    // What a path answers; paths without a reply answer 404 "Not Found".
    void SetReply(const QString& path, const UpdateHostReply& reply);
    void SetManifest(const QByteArray& body);
    // Paths requested so far, in order.
    QStringList RequestedPaths() const { return requested; }
    // Called for each request with its path (for logging).
    void OnRequest(std::function<void(const QString&)> callback) { onRequest = callback; }

    // The test authority's certificate, to be trusted by whoever talks to
    // this host.
    static QByteArray CaCertificatePem();
    static bool WriteCaCertificate(const QString& path);

private:
    void accept();
    void serve(QTcpSocket* socket);

    QSslServer* server;
    QHash<QString, UpdateHostReply> replies;
    QStringList requested;
    QString errorText;
    std::function<void(const QString&)> onRequest;
};
