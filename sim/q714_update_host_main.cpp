// q714-update-host: a stand-in for the maker's web host, so that the tool's
// start-up update check can be tried and its faults reproduced on loopback.
#include "Orodja.h"
#include "ProgramOptions.h"
#include "SimulatedUpdateHost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

namespace {

const char* Description =
    R"(Stand-in for the maker's web host for the tool's start-up update check.

Serves the version file at https://127.0.0.1:<port>/software-manifest.csv
with a certificate for 127.0.0.1 made by a test authority that nobody trusts
by default. It writes that authority's certificate to a file and prints the
three environment variables that point the tool's update check here; start
the tool with them set:

  Q714_UPDATE_MANIFEST_URL=https://127.0.0.1:<port>/software-manifest.csv
  Q714_UPDATE_PROBES=127.0.0.1:<port>,127.0.0.1:<port>
  Q714_UPDATE_CA_FILE=<the authority's certificate>

The internet probes only need a TCP connection, which this port accepts. The
version file lists the tool ("Tamberlow_for_Q714-7R_Ulvax") with the version
of --published, or is the file given with --manifest. Serves until Ctrl+C.)";

const ProgramOption Options[] = {
    {"port", "Port on 127.0.0.1 to listen on; 0 picks a free one.", "port", "0"},
    {"published",
     "Version the version file publishes for the tool, four numbers "
     "(a higher one than the tool's makes the tool offer a download).",
     "a.b.c.d", Q714_OWN_VERSION},
    {"link", "Download link the version file gives for the tool.", "url",
     "https://www.norvane.example/downloads/Tamberlow_for_Q714-7R_Ulvax.zip"},
    {"manifest", "Serve this file as the version file instead (--published and --link unused).",
     "file", nullptr},
    {"status", "Answer the version file with this HTTP status and no body (e.g. 404 or 500).",
     "code", nullptr},
    {"silent", "Accept the request for the version file but never answer (the tool times out).",
     nullptr, nullptr},
    {"redirect", "Answer the version file with a redirect (302) to this address.", "url", nullptr},
    {"ca-file",
     "Where to write the test authority's certificate "
     "(default: update-host-ca.pem in the runtime folder of the simulators).",
     "file", nullptr},
    {"env-file", "Also write the three variables as shell export lines to this file.", "file",
     nullptr},
    {"verbose", "Print every request.", nullptr, nullptr},
};

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

bool manifestReply(const QCommandLineParser& parser, UpdateHostReply& reply) {
    if (parser.isSet("status")) {
        bool ok = false;
        reply.status = parser.value("status").toInt(&ok);
        if (!ok || reply.status < 100 || reply.status > 999) {
            PrintLine(QStringLiteral("q714-update-host: --status needs an HTTP status code"));
            return false;
        }
        reply.reason = reasonPhrase(reply.status);
    } else if (parser.isSet("redirect")) {
        reply.status = 302;
        reply.reason = "Found";
        reply.location = parser.value("redirect").toUtf8();
    } else if (parser.isSet("manifest")) {
        QFile file(parser.value("manifest"));
        if (!file.open(QIODevice::ReadOnly)) {
            PrintLine(QStringLiteral("q714-update-host: %1").arg(file.errorString()));
            return false;
        }
        reply.body = file.readAll();
    } else {
        reply.body = "Tamberlow_for_Q714-7R_Ulvax;" + parser.value("published").toUtf8() + ';' +
                     parser.value("link").toUtf8() + "\r\n";
    }
    reply.silent = parser.isSet("silent");
    return true;
}

QStringList environmentLines(const SimulatedUpdateHost& host, const QString& caFile) {
    const QString probe = QStringLiteral("127.0.0.1:%1").arg(host.Port());
    return {QStringLiteral("export Q714_UPDATE_MANIFEST_URL=") + host.Url().toString(),
            QStringLiteral("export Q714_UPDATE_PROBES=%1,%1").arg(probe),
            QStringLiteral("export Q714_UPDATE_CA_FILE=") + caFile};
}

bool writeLines(const QString& path, const QStringList& lines) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit()) >= 0 &&
           file.commit();
}

QString caFilePath(const QCommandLineParser& parser) {
    if (parser.isSet("ca-file"))
        return parser.value("ca-file");
    QDir().mkpath(SimulatedAdapterFolder());
    return SimulatedAdapterFolder() + QStringLiteral("/update-host-ca.pem");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q714-update-host"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q714_OWN_VERSION));
    QCommandLineParser parser;
    AddProgramOptions(parser, Description, Options);
    parser.process(app);
    UpdateHostReply reply;
    if (!manifestReply(parser, reply))
        return 2;
    SimulatedUpdateHost host;
    host.SetReply(SimulatedUpdateHost::ManifestPath, reply);
    if (parser.isSet("verbose"))
        host.OnRequest([](const QString& path) { PrintLine(QStringLiteral("GET ") + path); });
    if (!host.Listen(static_cast<quint16>(parser.value("port").toUInt()))) {
        PrintLine(QStringLiteral("q714-update-host: %1").arg(host.ErrorText()));
        return 1;
    }
    const QString caFile = caFilePath(parser);
    if (!SimulatedUpdateHost::WriteCaCertificate(caFile)) {
        PrintLine(QStringLiteral("q714-update-host: cannot write %1").arg(caFile));
        return 1;
    }
    const QStringList lines = environmentLines(host, caFile);
    if (parser.isSet("env-file") && !writeLines(parser.value("env-file"), lines)) {
        PrintLine(
            QStringLiteral("q714-update-host: cannot write %1").arg(parser.value("env-file")));
        return 1;
    }
    PrintLine(QStringLiteral("q714-update-host: serving %1").arg(host.Url().toString()));
    for (const QString& line : lines)
        PrintLine(QStringLiteral("  ") + line);
    PrintLine(QStringLiteral("Serving until Ctrl+C."));
    return QCoreApplication::exec();
}
