#include "Commands.h"

#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "ExitStatus.h"
#include "Session.h"

#include <QTextStream>
#include <cstdio>

namespace {

using Runner = int (*)(CommandContext&);
using Checker = int (*)(const CliRequest&);

struct Dispatch {
    const char* name;
    Runner run;
    Checker check = nullptr; // what the tables cannot say, before any device
};

const Dispatch Runners[] = {
    {"info", RunInfo},
    {"power", RunPower},
    {"spi", RunSpi, CheckSpi},
    {"read", RunRead, CheckRead},
    {"noise", RunNoise},
    {"record", RunDebugRecording, CheckDebugRecording},
    {"config", RunConfig, CheckConfig},
    {"zero", RunZero},
    {"preset-mt", RunPresetMultiturn},
    {"store", RunStore},
    {"factory-reset", RunFactoryReset},
    {"calibrate", RunCalibrate},
    {"diag", RunDiag},
    {"errormap", RunErrorMap},
    {"power-cycle", RunPowerCycle, CheckPowerCycle},
    {"run", RunTestRun, CheckRunPlan},
};

using DevicelessRunner = int (*)(const CliRequest&, Output&);

struct DevicelessDispatch {
    const char* name;
    DevicelessRunner run;
};

const DevicelessDispatch DevicelessRunners[] = {
    {"scan", RunScan},
    {"plan", RunPlanCommand},
    {"records", RunRecordsCommand},
};

const Dispatch* dispatchOf(const QString& name) {
    for (const Dispatch& d : Runners)
        if (name == QLatin1String(d.name))
            return &d;
    return nullptr;
}

DevicelessRunner devicelessRunnerOf(const QString& name) {
    for (const DevicelessDispatch& d : DevicelessRunners)
        if (name == QLatin1String(d.name))
            return d.run;
    return nullptr;
}

int runCommand(const CliRequest& request, ConsoleFrontEnd& front, Output& out, Session& session) {
    const QString name = QString::fromLatin1(request.command->name);
    if (!request.command->usesAdapter)
        return devicelessRunnerOf(name)(request, out);
    if (const int status = CheckBeforeDevices(request))
        return status;
    if (const int status = session.OpenAdapter())
        return status;
    if (request.command->connectsEncoder)
        if (const int status = session.ConnectEncoder())
            return status;
    front.FlushCommLog();
    CommandContext context{request, front, out, session};
    return dispatchOf(name)->run(context);
}

// The result of a command that failed before it gave one: the command and,
// as far as they are known, the port and the devices.
QJsonObject fallbackResult(const CliRequest& request, const Session* session = nullptr) {
    QJsonObject fields;
    if (session && !session->Adapter().location.isEmpty())
        fields = session->DeviceFields();
    else if (request.ports.size() == 1)
        fields.insert(QStringLiteral("port"), request.ports.first());
    fields.insert(QStringLiteral("command"), QString::fromLatin1(request.command->name));
    return Output::Tagged(QStringLiteral("result"), fields);
}

} // namespace

int EndBeforeDevices(const CliRequest& request, int status) {
    const bool several = request.command->usesAdapter && !request.child &&
                         (request.ports.size() > 1 || request.allAdapters);
    if (!several) {
        Output out(request.format, QString::fromLatin1(request.command->itemsKey));
        return out.Close(status, fallbackResult(request));
    }
    if (request.format != OutputFormat::Text)
        Output::WriteDocuments(request.format,
                               {Output::WithOutcome(fallbackResult(request), status)});
    return status;
}

int CheckBeforeDevices(const CliRequest& request) {
    const Dispatch* dispatch = dispatchOf(QLatin1String(request.command->name));
    return dispatch && dispatch->check ? dispatch->check(request) : ExitDone;
}

int RunOnDevice(const CliRequest& request, ConsoleFrontEnd& front) {
    Output out(request.format, QString::fromLatin1(request.command->itemsKey));
    Session session(request, front);
    const int status = runCommand(request, front, out, session);
    front.FlushCommLog();
    return out.Close(status, fallbackResult(request, &session));
}

QJsonObject ResultOf(CommandContext& c, const QJsonObject& fields) {
    QJsonObject result = c.session.DeviceFields();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        result.insert(it.key(), it.value());
    result.insert(QStringLiteral("command"), QString::fromLatin1(c.request.command->name));
    return Output::Tagged(QStringLiteral("result"), result);
}

bool Confirm(CommandContext& c, const QString& question) {
    if (c.request.yes)
        return true;
    if (!StdinIsTerminal()) {
        Fail(ExitUsage, QStringLiteral("%1: standard input is not a terminal; --yes does it "
                                       "without asking")
                            .arg(question));
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

bool NumberOption(const CommandContext& c, const char* option, qint64 fallback, qint64& value) {
    value = fallback;
    if (!c.request.IsSet(option))
        return true;
    const NumberRange& range = *OptionRange(QLatin1String(option));
    if (ParseWholeNumber(c.request.Value(option), range, value))
        return true;
    Fail(ExitUsage, QStringLiteral("--%1 takes a whole number from %2 to %3")
                        .arg(QLatin1String(option))
                        .arg(range.lowest)
                        .arg(range.highest));
    return false;
}

ProgressReport::ProgressReport(CommandContext& c, const QString& operation, qint64 total)
    : c(c), operation(operation), total(qMax<qint64>(1, total)),
      bar(StderrIsTerminal() && !c.request.quiet && c.request.format != OutputFormat::JsonLines) {}

ProgressReport::~ProgressReport() {
    if (bar && shownPercent >= 0) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
}

void ProgressReport::Step(qint64 done) {
    c.out.Progress(operation, done, total);
    if (!bar)
        return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    const int filled = percent * 30 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", qPrintable(operation),
                 QByteArray(filled, '#').constData(), QByteArray(30 - filled, '-').constData(),
                 percent);
    std::fflush(stderr);
}
