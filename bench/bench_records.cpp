// Test plans and the record store, measured as a line uses them:
//   R1: an end-of-line plan (identify, configure, store, power-cycle-verify,
//       100 readings with limits, noise of 5000 readings) run by q714 against
//       a simulator at --baud 115200: the whole process's time against the
//       wire time of the exchanges it made plus the pauses the encoder
//       prescribes (150 ms after a store, 200 ms after switching on, the
//       plan's 300 ms off) (target <= 1.1).
//   R2: records stored into a fresh SQLite store one by one, as runs store
//       them (target >= 1000 a second), then listing one serial's records
//       among 100,000 (target < 200 ms).
//   S4: four stations at once (each its simulator at 115200 baud and a loop
//       of runs) against one PostgreSQL server started for the benchmark, as
//       runs per second against one station alone (target >= 3.5 times).
//   F:  the store's worst wait under each fault a line meets (refused, shut
//       down while connected, stalled before and after signing in, a wrong
//       password): Open and Store of one record, as a run keeps its record;
//       then a whole q714 run against a stalled store (target: it ends
//       within 15 s).
//
//   build/bench/bench_records [r1|r2|s4|f|all] [runs per station | rounds]
#include "RecordStore.h"
#include "SimProcess.h"
#include "TestRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Baud = 115200;
constexpr int PrescribedPausesMs = 150 + 200 + 300;

const char* const EndOfLinePlan = R"(
name = "R1 end of line"
version = "1"
[[steps]]
kind = "identify"
expect_part = "RX712*"
[[steps]]
kind = "config"
position_filter = 6
multiturn_error_arc = 30
[[steps]]
kind = "store"
[[steps]]
kind = "power-cycle-verify"
off_ms = 300
[[steps]]
kind = "read"
count = 100
limits.crc_error_count = { high = 0 }
limits.position_spread_deg = { high = 5 }
[[steps]]
kind = "noise"
samples = 5000
limits.six_sigma_counts = { high = 2000 }
)";

const char* const StationPlan = R"(
name = "station"
version = "1"
[[steps]]
kind = "identify"
[[steps]]
kind = "read"
count = 200
)";

QString writeText(const QString& path, const char* text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

// q714 with `arguments`; its seconds from start to exit, -1 when it failed.
double runQ714(const QStringList& arguments, const QProcessEnvironment& environment,
               QByteArray* errors = nullptr) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(Q714_CLI_PATH), arguments);
    const bool finished = process.waitForFinished(600000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const QByteArray err = process.readAllStandardError();
    if (errors)
        *errors = err;
    if (!finished || process.exitCode() != 0) {
        std::printf("q714 %s failed: %s\n", qPrintable(arguments.join(' ')), err.constData());
        return -1;
    }
    return seconds;
}

QProcessEnvironment environmentWithData(const QString& data) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data);
    environment.remove("Q714_DB");
    return environment;
}

// Bytes on the wire of the exchanges in a --log-comms log.
qint64 wireBytes(const QByteArray& log) {
    qint64 bytes = 0;
    for (QByteArray line : log.split('\n'))
        if (line.startsWith("TX:") || line.startsWith("RX:"))
            bytes += line.mid(3).replace("\\r", "\r").size();
    return bytes;
}

int r1(int rounds) {
    SimProcess sim;
    const QString device =
        sim.Start(QStringLiteral("bench-r1"), {"--baud", QString::number(Baud), "--speed", "0"});
    QTemporaryDir data;
    const QProcessEnvironment environment = environmentWithData(data.path());
    if (device.isEmpty() || runQ714({"--port", device, "--quiet", "power", "on"}, environment) < 0)
        return std::printf("R1: the simulator did not start\n"), 1;
    const QString plan = writeText(data.filePath("eol.toml"), EndOfLinePlan);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        QByteArray log;
        const double seconds =
            runQ714({"run", plan, "--port", device, "--quiet", "--log-comms", "--format", "json"},
                    environment, &log);
        if (seconds < 0)
            return 1;
        const double wire = wireBytes(log) * 10.0 / Baud + PrescribedPausesMs / 1000.0;
        ratios.push_back(seconds / wire);
        std::printf("R1 round %d: %.2f s, wire and prescribed pauses %.2f s, ratio %.3f\n",
                    round + 1, seconds, wire, seconds / wire);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("R1 end-of-line plan at %d baud: median ratio %.3f (target <= 1.1)\n", Baud,
                ratios[ratios.size() / 2]);
    return 0;
}

RunRecord typicalRecord(int index) {
    RunRecord r;
    r.runId = NewRunId();
    r.station = QStringLiteral("station-%1").arg(index % 4);
    r.operatorName = QStringLiteral("bench");
    r.planName = QStringLiteral("end of line");
    r.planVersion = QStringLiteral("1");
    r.planSha256 = QString(64, QLatin1Char('a'));
    r.toolVersion = QStringLiteral("1.0.0.1");
    r.adapterSerial = QStringLiteral("Q7R00417");
    r.encoderType = 2;
    r.encoderSerial = QStringLiteral("UX%1").arg(index / 10, 6, 10, QLatin1Char('0'));
    r.encoderPart = QStringLiteral("RX712KAN17MDG000");
    r.started = QDateTime::currentDateTimeUtc().addSecs(index);
    r.ended = r.started.addSecs(12);
    for (int s = 1; s <= 8; ++s) {
        StepRecord step;
        step.index = s;
        step.name = step.kind = QStringLiteral("read");
        step.started = r.started;
        step.ended = r.ended;
        for (int m = 0; m < (s <= 4 ? 3 : 2); ++m) {
            Measurement measurement;
            measurement.name = QStringLiteral("value_%1").arg(m);
            measurement.value = index + m;
            measurement.limits.high = 1e9;
            measurement.time = r.started;
            step.measurements << measurement;
        }
        r.steps << step;
    }
    return r;
}

int r2() {
    constexpr int total = 100000;
    QTemporaryDir folder;
    RecordStore store;
    QString problem;
    if (!store.Open(QStringLiteral("sqlite:") + folder.filePath("records.sqlite"), problem))
        return std::printf("R2: %s\n", qPrintable(problem)), 1;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < total; ++i)
        if (store.Store(typicalRecord(i), problem) != RecordStore::Stored::New)
            return std::printf("R2: record %d: %s\n", i, qPrintable(problem)), 1;
    const double storeSeconds = clock.nsecsElapsed() / 1e9;
    std::vector<double> lists;
    RecordFilter filter;
    for (int i = 0; i < 21; ++i) {
        filter.serial = QStringLiteral("UX%1").arg(i * 431, 6, 10, QLatin1Char('0'));
        clock.restart();
        const auto found = store.List(filter, problem);
        lists.push_back(clock.nsecsElapsed() / 1e6);
        if (!found || found->size() != 10)
            return std::printf("R2: listing %s found %lld\n", qPrintable(filter.serial),
                               found ? qint64(found->size()) : -1LL),
                   1;
    }
    std::sort(lists.begin(), lists.end());
    std::printf("R2 SQLite: %d records of 8 steps and 20 measurements stored one by one at %.0f "
                "a second (target >= 1000); one serial's 10 among them listed in %.2f ms "
                "(median of 21, slowest %.2f; target < 200)\n",
                total, total / storeSeconds, lists[lists.size() / 2], lists.back());
    return 0;
}

// A private PostgreSQL server for S4, through the test suite's script.
class PostgresServer {
public:
    bool Start() {
        started = QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT),
                                    {"start", folder.path() + "/pg"}) == 0;
        QFile file(folder.path() + "/pg/url");
        if (started && file.open(QIODevice::ReadOnly))
            url = QString::fromUtf8(file.readAll()).trimmed();
        return !url.isEmpty();
    }
    ~PostgresServer() {
        if (started)
            QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT),
                              {"stop", folder.path() + "/pg"});
    }
    // pause, resume, stall or unstall (tests/postgres-server).
    bool Do(const char* action) {
        return QProcess::execute(QStringLiteral(Q714_POSTGRES_SCRIPT),
                                 {action, folder.path() + "/pg"}) == 0;
    }
    QString url;

private:
    QTemporaryDir folder;
    bool started = false;
};

// Runs `runs` plan runs on each station at once; runs per second overall.
double stationsAtOnce(const std::vector<QString>& devices, const QString& plan, const QString& db,
                      int runs, const QProcessEnvironment& environment) {
    std::vector<std::unique_ptr<QProcess>> stations;
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < devices.size(); ++i) {
        auto station = std::make_unique<QProcess>();
        station->setProcessEnvironment(environment);
        station->start("/bin/sh",
                       {"-c", QStringLiteral("for i in $(seq %1); do %2 run %3 --port %4 "
                                             "--db %5 --station s%6 --quiet "
                                             ">/dev/null || exit 1; done")
                                  .arg(runs)
                                  .arg(Q714_CLI_PATH, plan, devices[i], db)
                                  .arg(i)});
        stations.push_back(std::move(station));
    }
    for (auto& station : stations)
        if (!station->waitForFinished(1800000) || station->exitCode() != 0)
            return -1;
    return double(runs) * double(devices.size()) / (clock.nsecsElapsed() / 1e9);
}

int s4(int runs) {
    PostgresServer server;
    if (!server.Start())
        return std::printf("S4: no PostgreSQL server could be started\n"), 1;
    QTemporaryDir data;
    const QProcessEnvironment environment = environmentWithData(data.path());
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<QString> devices;
    for (int i = 0; i < 4; ++i) {
        sims.push_back(std::make_unique<SimProcess>());
        devices.push_back(sims.back()->Start(QStringLiteral("bench-s%1").arg(i),
                                             {"--baud", QString::number(Baud), "--speed", "0"}));
        if (devices.back().isEmpty() ||
            runQ714({"--port", devices.back(), "--quiet", "power", "on"}, environment) < 0)
            return std::printf("S4: a simulator did not start\n"), 1;
    }
    const QString plan = writeText(data.filePath("station.toml"), StationPlan);
    const double one = stationsAtOnce({devices[0]}, plan, server.url, runs, environment);
    const double four = stationsAtOnce(devices, plan, server.url, runs, environment);
    if (one <= 0 || four <= 0)
        return std::printf("S4: a station failed\n"), 1;
    std::printf("S4 PostgreSQL, %d runs a station at %d baud: one station %.2f runs/s, four "
                "%.2f runs/s, %.2f times (target >= 3.5)\n",
                runs, Baud, one, four, four / one);
    return 0;
}

// Runs `sql` on the server as its superuser.
bool asSuperuser(const QString& url, const QString& sql) {
    bool done = false;
    {
        const QUrl server(url);
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench-admin");
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setUserName(server.userName());
        db.setDatabaseName(server.path().mid(1));
        done = db.open() && QSqlQuery(db).exec(sql);
    }
    QSqlDatabase::removeDatabase("bench-admin");
    return done;
}

const char* faultName(RecordStore::Fault fault) {
    return fault == RecordStore::Fault::Outage     ? "outage"
           : fault == RecordStore::Fault::Unusable ? "unusable"
                                                   : "none";
}

// The worst of `rounds` waits of a store under a fault: `cause` brings it
// about (after the store is opened when `openFirst`), `repair` ends it.
void worstWait(const char* name, const QString& url, bool openFirst, int rounds,
               const std::function<void()>& cause, const std::function<void()>& repair) {
    double worst = 0;
    RecordStore::Fault fault = RecordStore::Fault::None;
    for (int round = 0; round < rounds; ++round) {
        RecordStore store;
        QString problem;
        if (openFirst && !store.Open(url, problem)) {
            std::printf("F %s: the store did not open: %s\n", name, qPrintable(problem));
            return;
        }
        cause();
        QElapsedTimer clock;
        clock.start();
        const bool stored = (openFirst || store.Open(url, problem)) &&
                            store.Store(typicalRecord(round), problem) == RecordStore::Stored::New;
        worst = std::max(worst, clock.nsecsElapsed() / 1e9);
        fault = store.LastFault();
        repair();
        if (stored)
            return void(std::printf("F %s: stored all the same\n", name));
    }
    std::printf("F %-40s worst wait %5.2f s of %d (%s)\n", name, worst, rounds, faultName(fault));
}

int faults(int rounds) {
    PostgresServer server;
    if (!server.Start())
        return std::printf("F: no PostgreSQL server could be started\n"), 1;
    if (!asSuperuser(server.url, "CREATE ROLE bench_password LOGIN PASSWORD 'right'"
                                 " IN ROLE q714_password_login"))
        return std::printf("F: the password role could not be made\n"), 1;
    QUrl wrongPassword(server.url);
    wrongPassword.setUserName(QStringLiteral("bench_password"));
    wrongPassword.setPassword(QStringLiteral("wrong"));
    const auto nothing = [] {};
    const auto pause = [&] { server.Do("pause"); };
    const auto resume = [&] { server.Do("resume"); };
    const auto stall = [&] { server.Do("stall"); };
    const auto unstall = [&] { server.Do("unstall"); };
    worstWait("connection refused (server stopped)", server.url, false, rounds, pause, resume);
    worstWait("server shut down while connected", server.url, true, rounds, pause, resume);
    worstWait("server stalled, then connecting", server.url, false, rounds, stall, unstall);
    worstWait("server stalled while connected", server.url, true, rounds, stall, unstall);
    worstWait("wrong password", wrongPassword.toString(), false, rounds, nothing, nothing);

    SimProcess sim;
    const QString device =
        sim.Start(QStringLiteral("bench-f"), {"--baud", QString::number(Baud), "--speed", "0"});
    QTemporaryDir data;
    const QProcessEnvironment environment = environmentWithData(data.path());
    if (device.isEmpty() || runQ714({"--port", device, "--quiet", "power", "on"}, environment) < 0)
        return std::printf("F: the simulator did not start\n"), 1;
    const QString plan = writeText(data.filePath("station.toml"), StationPlan);
    const QStringList run{"run", plan, "--port", device, "--db", server.url, "--quiet"};
    double healthy = 0, stalled = 0;
    for (int round = 0; round < rounds; ++round) {
        healthy = std::max(healthy, runQ714(run, environment));
        server.Do("stall");
        stalled = std::max(stalled, runQ714(run, environment));
        server.Do("unstall");
    }
    std::printf("F a whole run (identify, 200 readings): %.2f s with the store answering, "
                "%.2f s with it stalled (worst of %d; target: ends within 15 s)\n",
                healthy, stalled, rounds);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString which = app.arguments().value(1, QStringLiteral("all"));
    const int runs = qMax(1, app.arguments().value(2, QStringLiteral("20")).toInt());
    int failures = 0;
    if (which == QLatin1String("all") || which == QLatin1String("r1"))
        failures += r1(3);
    if (which == QLatin1String("all") || which == QLatin1String("r2"))
        failures += r2();
    if (which == QLatin1String("all") || which == QLatin1String("s4"))
        failures += s4(runs);
    if (which == QLatin1String("all") || which == QLatin1String("f"))
        failures += faults(app.arguments().size() > 2 ? runs : 3);
    return failures;
}
