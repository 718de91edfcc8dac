// run (a test plan on a device) and plan check.
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "ExitStatus.h"
#include "PlanRunner.h"
#include "RecordExport.h"
#include "RecordFiles.h"
#include "RecordKeeping.h"
#include "RecordStore.h"
#include "Session.h"
#include "SystemIdentity.h"
#include "TestPlan.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

namespace {

// The record store as found before any device was touched (by CheckRunPlan).
std::optional<StoreCheck> storeBeforeRun;

// A plan is read from a regular file: a FIFO or a device would hold its
// reading up, or never end it. A missing file is named by the plan's reader.
int checkPlanFile(const QString& path) {
    const QFileInfo file(path);
    if (!file.exists() || file.isFile())
        return ExitDone;
    return Fail(ExitFile,
                QStringLiteral("%1 is not a regular file: a plan is read from a file").arg(path));
}

// Prints every mistake of a plan that is not good: ExitFile then.
int reportProblems(const PlanParse& parse, const QString& path) {
    for (const PlanProblem& problem : parse.problems)
        std::fprintf(stderr, "%s\n", qPrintable(problem.Text(path)));
    if (parse.Ok())
        return ExitDone;
    return Fail(ExitFile, QStringLiteral("%1 has %2 mistake(s); nothing was sent")
                              .arg(path)
                              .arg(parse.problems.size()));
}

// The plan, read and checked; an exit status after a message when it is no good.
int readPlan(const QString& path, PlanParse& parse) {
    if (const int status = checkPlanFile(path))
        return status;
    parse = ReadPlanFile(path);
    return reportProblems(parse, path);
}

QJsonObject stepJson(const StepRecord& step) {
    RunRecord one;
    one.runId = NewRunId();
    one.steps << step;
    return RecordJson(one).value(QLatin1String("steps")).toArray().first().toObject();
}

QString stepText(const StepRecord& step) {
    QString text = QStringLiteral("%1  %2.%3 %4")
                       .arg(OutcomeName(step.outcome).leftJustified(7))
                       .arg(step.index)
                       .arg(step.repetition)
                       .arg(step.name);
    if (!step.message.isEmpty())
        text += QStringLiteral("  ") + step.message;
    for (const Measurement& m : step.measurements)
        text += QStringLiteral("\n           ") + MeasurementText(m) +
                (m.marginal ? QStringLiteral(" marginal") : QString());
    return text;
}

int exitOf(const PlanRun& run, const KeptRecord& kept) {
    int status = ExitDone;
    switch (run.record.outcome) {
    case Outcome::Pass:
        status = ExitDone;
        break;
    case Outcome::Fail:
        status = ExitCheckFailed;
        break;
    case Outcome::Error:
        status = run.linkLost ? ExitLink : ExitEncoder;
        break;
    case Outcome::Aborted:
        status = ExitInterrupted;
        break;
    }
    return kept.Safe() ? status : WorseExit(status, ExitFile);
}

QStringList summaryText(const RunRecord& r, const KeptRecord& kept) {
    QStringList text{QStringLiteral("%1  %2 %3 on %4, run %5")
                         .arg(OutcomeName(r.outcome), r.planName, r.planVersion,
                              r.encoderSerial.isEmpty() ? r.port : r.encoderSerial, r.runId)};
    if (!r.message.isEmpty())
        text << r.message;
    const QString where = kept.stored   ? QStringLiteral("stored")
                          : kept.queued ? QStringLiteral("in the outbox")
                                        : QStringLiteral("NOT STORED");
    text << QStringLiteral("record %1, %2")
                .arg(kept.file.isEmpty() ? QStringLiteral("(no file)") : kept.file, where);
    return text;
}

RunParticipants participantsOf(const CliRequest& request) {
    RunParticipants who;
    who.station = request.IsSet("station") ? request.Value("station") : ComputerName();
    who.operatorName = request.IsSet("operator") ? request.Value("operator") : UserName();
    who.dutId = request.Value("dut-id");
    who.unattended = request.IsSet("unattended");
    return who;
}

QString recordsFolderOf(const CliRequest& request) {
    return request.IsSet("records") ? request.Value("records") : DefaultRecordsFolder();
}

} // namespace

int CheckRunPlan(const CliRequest& request) {
    const QString path = request.arguments.value(0);
    if (path.isEmpty())
        return Fail(ExitUsage, QStringLiteral("run needs PLAN.toml"));
    PlanParse parse;
    if (const int status = readPlan(path, parse))
        return status;
    // The store is checked by the process that runs the device: the parent
    // of several devices leaves it to its children, which check at once.
    if (!request.child && (request.allAdapters || request.ports.size() > 1))
        return ExitDone;
    StoreCheck check;
    if (const int status =
            CheckStore(StoreUrlOf(request.Value("db")), ConsoleVoice(request.quiet), check))
        return status;
    storeBeforeRun = check;
    return ExitDone;
}

int RunPlanCommand(const CliRequest& request, Output& out) {
    if (request.arguments.value(0) != QLatin1String("check") || request.arguments.size() != 2)
        return Fail(ExitUsage, QStringLiteral("plan takes check PLAN.toml"));
    const QString path = request.arguments.value(1);
    PlanParse parse;
    if (const int status = readPlan(path, parse))
        return status;
    out.Result(Output::Tagged(QStringLiteral("result"), {{"command", "plan"},
                                                         {"file", path},
                                                         {"name", parse.plan.name},
                                                         {"version", parse.plan.version},
                                                         {"sha256", parse.plan.sha256},
                                                         {"steps", int(parse.plan.steps.size())}}),
               {QStringLiteral("%1: %2 %3, %4 step(s), no mistakes")
                    .arg(path, parse.plan.name, parse.plan.version)
                    .arg(parse.plan.steps.size())});
    return ExitDone;
}

int RunTestRun(CommandContext& c) {
    const QString path = c.request.arguments.value(0);
    PlanParse parse;
    if (const int status = readPlan(path, parse))
        return status; // checked before the adapter was opened; checked again
    QTemporaryDir work;
    if (!work.isValid())
        return Fail(ExitFile, QStringLiteral("no temporary folder: ") + work.errorString());
    PlanRun run = RunTestPlan(
        c, parse.plan, participantsOf(c.request), work.path(), [&c](const StepRecord& step) {
            c.out.Item(Output::Tagged(QStringLiteral("step"), stepJson(step)), stepText(step));
        });
    const QString storeUrl = StoreUrlOf(c.request.Value("db"));
    const KeptRecord kept =
        KeepRecord(run.record, run.files, recordsFolderOf(c.request), storeUrl,
                   storeBeforeRun.value_or(StoreCheck{true, {}}), VoiceOf(c.front));
    const RunRecord& r = run.record;
    c.out.Result(ResultOf(c, {{"run_id", r.runId},
                              {"outcome", OutcomeName(r.outcome)},
                              {"message", r.message},
                              {"record_file", kept.file},
                              {"store", RecordStore::ShownUrl(storeUrl)},
                              {"stored", kept.stored},
                              {"queued", kept.queued},
                              {"store_problem", kept.storeProblem},
                              {"record", RecordJson(r)}}),
                 summaryText(r, kept));
    return exitOf(run, kept);
}
