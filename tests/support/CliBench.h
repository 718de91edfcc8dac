#pragma once
// q714 as a script runs it, for the suites of the command line: simulated
// adapters (q714-sim processes) announced in a runtime folder of the
// bench's own, and q714 run against them with a data folder of its own (so
// records, their store and the outbox start empty). The including target
// defines Q714_CLI_PATH and Q714_SIM_PATH.

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

struct Run {
    int exit = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject Json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonArray JsonArray() const { return QJsonDocument::fromJson(out).array(); }
    // The last JSON line (the result of a jsonl run); empty when none came.
    QJsonObject LastLine() const { return Lines().isEmpty() ? QJsonObject() : Lines().last(); }
    QList<QJsonObject> Lines() const {
        QList<QJsonObject> lines;
        for (const QByteArray& line : out.split('\n'))
            if (!line.trimmed().isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }
};

// Simulated adapters announced in a runtime folder of the test's own, and
// q714 run against them.
class Bench {
public:
    Bench() {
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("XDG_DATA_HOME", data.path());
        environment.remove("Q714_DB");
    }
    ~Bench() {
        for (auto& sim : sims) {
            sim->terminate();
            sim->waitForFinished(10000);
        }
    }

    // Starts a simulator announced as `name`; its link's path, or empty.
    QString Simulator(const QString& name, const QStringList& options = {}) {
        auto sim = std::make_unique<QProcess>();
        sim->setProcessEnvironment(environment);
        sim->start(QStringLiteral(Q714_SIM_PATH),
                   QStringList{"--name", name, "--speed", "0", "--noise", "0", "--verbose"} +
                       options);
        QByteArray output;
        while (!output.contains("Serving") && sim->waitForReadyRead(30000))
            output += sim->readAllStandardOutput();
        sims.push_back(std::move(sim));
        return output.contains("Serving") ? Link(name) : QString();
    }
    QString Link(const QString& name) const {
        return runtime.path() + QStringLiteral("/q714-7r/") + name;
    }
    // The commands simulator `index` has received so far (it prints them
    // every 100 ms).
    QStringList Received(int index) {
        while (sims[index]->waitForReadyRead(300))
            received[index] += QString::fromLatin1(sims[index]->readAllStandardOutput());
        received[index] += QString::fromLatin1(sims[index]->readAllStandardOutput());
        QStringList commands;
        for (const QString& line : received[index].split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("< ")))
                commands << line.mid(2);
        return commands;
    }
    void Kill(int index) {
        sims[index]->kill();
        sims[index]->waitForFinished(10000);
    }

    // `prepare` sets the process up before it starts (its standard output
    // sent elsewhere, a process group of its own).
    Run Q714(const QStringList& arguments, const QByteArray& input = {},
             const std::function<void(QProcess&)>& prepare = {}) {
        QProcess q714;
        q714.setProcessEnvironment(environment);
        if (prepare)
            prepare(q714);
        q714.start(QStringLiteral(Q714_CLI_PATH), arguments);
        q714.waitForStarted(30000);
        q714.write(input);
        q714.closeWriteChannel();
        q714.waitForFinished(120000);
        return {q714.exitStatus() == QProcess::NormalExit ? q714.exitCode() : -1,
                q714.readAllStandardOutput(), q714.readAllStandardError()};
    }

    // Starts q714, waits until its standard output or error holds `marker`,
    // then does `action` (by default: stops it as Ctrl+C does).
    Run During(const QStringList& arguments, const QByteArray& marker,
               const std::function<void(QProcess&)>& action = {},
               const std::function<void(QProcess&)>& prepare = {}) {
        QProcess q714;
        q714.setProcessEnvironment(environment);
        if (prepare)
            prepare(q714);
        q714.start(QStringLiteral(Q714_CLI_PATH), arguments);
        q714.waitForStarted(30000);
        QByteArray out, err;
        QElapsedTimer clock;
        clock.start();
        while (!(out + err).contains(marker) && clock.elapsed() < 60000 &&
               q714.state() == QProcess::Running) {
            q714.waitForReadyRead(50);
            out += q714.readAllStandardOutput();
            err += q714.readAllStandardError();
        }
        if (action)
            action(q714);
        else
            q714.terminate(); // SIGTERM, handled as Ctrl+C
        q714.waitForFinished(60000);
        out += q714.readAllStandardOutput();
        err += q714.readAllStandardError();
        return {q714.exitStatus() == QProcess::NormalExit ? q714.exitCode() : -1, out, err};
    }

    QString File(const QString& name) const { return files.filePath(name); }
    // The data folder q714 keeps its records, record store and outbox in.
    QString DataFolder() const { return data.path() + QStringLiteral("/q714"); }
    void SetEnvironment(const QString& name, const QString& value) {
        environment.insert(name, value);
    }
    QProcessEnvironment Environment() const { return environment; }

private:
    QTemporaryDir runtime;
    QTemporaryDir data;
    QTemporaryDir files;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> sims;
    QMap<int, QString> received;
};

inline QStringList args(std::initializer_list<const char*> list) {
    QStringList result;
    for (const char* a : list)
        result << QString::fromLatin1(a);
    return result;
}
