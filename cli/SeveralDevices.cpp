#include "SeveralDevices.h"

#include "AdapterWorkflows.h"
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "ExitStatus.h"
#include "Output.h"
#include "OutputWriter.h"
#include "Serial_driver.h"
#include "Session.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr int InterruptCheckMs = 50;

// The command line for one device: the same, but for one port, and its
// output as text for text, else as JSON lines to gather.
QStringList childArguments(const QStringList& arguments, const QString& port, OutputFormat format) {
    const QString childFormat =
        format == OutputFormat::Text ? QStringLiteral("text") : QStringLiteral("jsonl");
    // In front of the user's own arguments, which may hold a "--".
    QStringList child{QStringLiteral("--port"), port, QStringLiteral("--format"), childFormat,
                      QStringLiteral("--child")};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--port") || a == QLatin1String("--format")) {
            ++i;
            continue;
        }
        if (a.startsWith(QLatin1String("--port=")) || a.startsWith(QLatin1String("--format=")) ||
            a == QLatin1String("--all"))
            continue;
        child << a;
    }
    return child;
}

struct Child {
    QString port;
    std::unique_ptr<QProcess> process;
    QByteArray pendingOut;
    QByteArray pendingErr;
    QList<QJsonObject> items;
    QJsonObject result;
    int exit = ExitLink; // until it ends normally
};

// The result of a device whose process gave none (it died): its port and
// how it ended.
QJsonObject missingResult(const CliRequest& request, const Child& child) {
    return Output::WithOutcome(
        Output::Tagged(
            QStringLiteral("result"),
            {{"command", QString::fromLatin1(request.command->name)},
             {"port", child.port},
             {"message", QStringLiteral("the device's process ended without a result")}}),
        child.exit);
}

void writeOut(const QByteArray& line) {
    WriteStandardOutput(line + '\n');
}

// The header line of a device's text block.
QByteArray headerLine(const Child& child) {
    return QStringLiteral("== %1 ==").arg(child.port).toUtf8();
}

class Gatherer {
public:
    explicit Gatherer(const CliRequest& request) : request(request), format(request.format) {}

    void Line(Child& child, const QByteArray& line) {
        if (format == OutputFormat::Text) {
            textLine(child, line);
            return;
        }
        QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.isEmpty())
            return;
        object.insert(QStringLiteral("port"), child.port);
        const QString type = object.value(QLatin1String("type")).toString();
        if (format == OutputFormat::JsonLines)
            writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact));
        if (type == QLatin1String("result"))
            child.result = object;
        else if (type != QLatin1String("progress"))
            child.items << object;
    }

    void Finish(const QList<std::shared_ptr<Child>>& children) {
        if (format == OutputFormat::JsonLines) {
            for (const auto& child : children)
                if (child->result.isEmpty())
                    writeOut(QJsonDocument(missingResult(request, *child))
                                 .toJson(QJsonDocument::Compact));
            return;
        }
        if (format == OutputFormat::Text)
            return; // written as the lines came
        QList<QJsonObject> documents;
        QList<QJsonObject> items;
        for (const auto& child : children) {
            QJsonObject document = child->result;
            if (document.isEmpty())
                document = missingResult(request, *child);
            if (!child->items.isEmpty()) {
                QJsonArray array;
                for (const QJsonObject& item : child->items)
                    array.append(item);
                document.insert(QStringLiteral("items"), array);
            }
            documents << document;
            items << child->items;
        }
        if (format == OutputFormat::Csv && !items.isEmpty()) {
            WriteStandardOutput(Output::CsvOf(items));
            return;
        }
        Output::WriteDocuments(format, documents);
    }

private:
    // A device's lines as it prints them on its own, under a header naming
    // its port; the header comes again when another device's lines came in
    // between.
    void textLine(const Child& child, const QByteArray& line) {
        if (textFrom != &child) {
            writeOut(headerLine(child));
            textFrom = &child;
        }
        writeOut(line);
    }

    const CliRequest& request;
    OutputFormat format;
    const Child* textFrom = nullptr; // whose lines came last
};

void takeLines(QByteArray& pending, const QByteArray& bytes,
               const std::function<void(const QByteArray&)>& line) {
    pending += bytes;
    qsizetype end;
    while ((end = pending.indexOf('\n')) >= 0) {
        line(pending.left(end));
        pending.remove(0, end + 1);
    }
}

QStringList portsOf(const CliRequest& request) {
    if (!request.allAdapters)
        return request.ports;
    // A port another program holds is one of every adapter all the same: its
    // device reports it in use rather than being left out unseen.
    QList<BusyPort> busy;
    QStringList ports;
    for (const AdapterIdentity& adapter : ScanAdapters(&busy))
        ports << adapter.location;
    for (const BusyPort& port : busy)
        ports << port.candidate.location;
    return ports;
}

int runOnOne(const CliRequest& request) {
    ConsoleFrontEnd front(request.quiet, request.logComms);
    const int status = RunOnDevice(request, front);
    CloseCOMPort();
    return status;
}

} // namespace

int RunOnSeveralDevices(const CliRequest& request, const QStringList& arguments) {
    if (const int status = CheckBeforeDevices(request))
        return EndBeforeDevices(request, status);
    CliRequest resolved = request;
    if (const int status = ResolvePorts(resolved.ports))
        return EndBeforeDevices(request, status);
    if (!request.allAdapters && resolved.ports.size() == 1) // one port, named twice
        return runOnOne(resolved);
    const QStringList ports = portsOf(resolved);
    if (ports.isEmpty())
        return EndBeforeDevices(request, Fail(ExitLink, QStringLiteral("no adapter found")));
    Gatherer gatherer(request);
    QList<std::shared_ptr<Child>> children;
    int running = 0;
    int status = ExitDone;
    for (const QString& port : ports) {
        auto child = std::make_shared<Child>();
        child->port = port;
        child->process = std::make_unique<QProcess>();
        QProcess* process = child->process.get();
        // The connections belong to the child's own process, so they hold it
        // by a plain pointer: a shared one would keep the child alive forever.
        Child* const c = child.get();
        QObject::connect(process, &QProcess::readyReadStandardOutput, [&gatherer, c] {
            takeLines(c->pendingOut, c->process->readAllStandardOutput(),
                      [&](const QByteArray& line) { gatherer.Line(*c, line); });
        });
        QObject::connect(process, &QProcess::readyReadStandardError, [c] {
            takeLines(c->pendingErr, c->process->readAllStandardError(),
                      [&](const QByteArray& line) {
                          std::fprintf(stderr, "[%s] %s\n", qPrintable(c->port), line.constData());
                          std::fflush(stderr);
                      });
        });
        QObject::connect(process, &QProcess::finished,
                         [&running, &status, c](int code, QProcess::ExitStatus exit) {
                             c->exit = exit == QProcess::NormalExit ? code : ExitLink;
                             status = WorseExit(status, c->exit);
                             if (--running == 0)
                                 QCoreApplication::quit();
                         });
        process->setChildProcessModifier(HoldInterruptsUntilCaught);
        process->start(QCoreApplication::applicationFilePath(),
                       childArguments(arguments, port, request.format));
        if (!process->waitForStarted()) {
            status =
                WorseExit(status, Fail(ExitLink, QStringLiteral("cannot start for %1").arg(port)));
            continue;
        }
        ++running;
        children << child;
    }
    // A stop asked of this process alone (SIGTERM) reaches the children too,
    // and so does each further one, which hurries them; one that reached
    // them already (Ctrl+C to the process group) counts once there.
    QTimer watch;
    int forwarded = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (StopCount() > forwarded) {
            forwarded = StopCount();
            for (const auto& child : children)
                child->process->terminate();
        }
    });
    watch.start(InterruptCheckMs);
    if (running > 0)
        QCoreApplication::exec();
    for (const auto& child : children) {
        child->process->waitForFinished();
        takeLines(child->pendingOut, child->process->readAllStandardOutput(),
                  [&](const QByteArray& line) { gatherer.Line(*child, line); });
        if (!child->pendingOut.isEmpty()) // a last line without its end
            gatherer.Line(*child, std::exchange(child->pendingOut, {}));
    }
    gatherer.Finish(children);
    if (StandardOutputFailed())
        return ExitFile;
    return Interrupted() ? WorseExit(status, ExitInterrupted) : status;
}
