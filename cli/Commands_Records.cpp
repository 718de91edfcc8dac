// records list, show, export, sync, outbox and migrate: the record store
// and the outbox from the command line.
#include "Commands.h"
#include "Console.h"
#include "ConsoleFrontEnd.h"
#include "ExitStatus.h"
#include "Outbox.h"
#include "RecordExport.h"
#include "RecordFiles.h"
#include "RecordKeeping.h"
#include "RecordStore.h"
#include "Session.h"

#include <QJsonArray>
#include <QTextStream>
#include <cstdio>

namespace {

bool filterOf(const CliRequest& request, RecordFilter& filter) {
    filter.serial = request.Value("serial");
    filter.station = request.Value("station");
    if (request.IsSet("outcome")) {
        Outcome outcome;
        if (!ParseOutcome(request.Value("outcome"), outcome)) {
            Fail(ExitUsage, QStringLiteral("--outcome is PASS, FAIL, ERROR or ABORTED"));
            return false;
        }
        filter.outcome = outcome;
    }
    if (request.IsSet("since")) {
        const QString since = request.Value("since");
        filter.since = QDateTime::fromString(since, Qt::ISODateWithMs);
        if (!filter.since.isValid())
            filter.since = QDateTime(QDate::fromString(since, Qt::ISODate), QTime(0, 0), Qt::UTC);
        if (!filter.since.isValid()) {
            Fail(ExitUsage, QStringLiteral("--since takes a date (2026-12-10) or a time "
                                           "(2026-12-10T08:00:00Z)"));
            return false;
        }
        filter.since = filter.since.toUTC();
    }
    if (request.IsSet("limit")) {
        bool ok = false;
        filter.limit = request.Value("limit").toInt(&ok);
        if (!ok || filter.limit < 1) {
            Fail(ExitUsage, QStringLiteral("--limit takes a number from 1"));
            return false;
        }
    }
    return true;
}

// 0 with the store open, or the exit status after a message.
int openStore(const CliRequest& request, RecordStore& store) {
    QString problem;
    if (store.Open(StoreUrlOf(request.Value("db")), problem))
        return ExitDone;
    const bool unusable = store.LastFault() == RecordStore::Fault::Unusable;
    return Fail(ExitLink, (unusable ? QStringLiteral("the record store cannot be used: ")
                                    : QStringLiteral("the record store cannot be reached: ")) +
                              problem);
}

// The filter of the options and the store open: 0, or the exit status after
// a message.
int openFiltered(const CliRequest& request, RecordFilter& filter, RecordStore& store) {
    if (!filterOf(request, filter))
        return ExitUsage;
    return openStore(request, store);
}

QJsonObject summaryJson(const RecordSummary& s) {
    return Output::Tagged(QStringLiteral("record"), {{"run_id", s.runId},
                                                     {"station", s.station},
                                                     {"encoder_serial", s.encoderSerial},
                                                     {"plan_name", s.planName},
                                                     {"plan_version", s.planVersion},
                                                     {"outcome", OutcomeName(s.outcome)},
                                                     {"started_utc", UtcText(s.started)},
                                                     {"ended_utc", UtcText(s.ended)}});
}

QString summaryText(const RecordSummary& s) {
    return QStringLiteral("%1  %2  %3  %4  %5 %6  %7")
        .arg(UtcText(s.started), OutcomeName(s.outcome).leftJustified(7), s.encoderSerial,
             s.station, s.planName, s.planVersion, s.runId);
}

int list(const CliRequest& request, Output& out) {
    RecordFilter filter;
    RecordStore store;
    if (const int status = openFiltered(request, filter, store))
        return status;
    QString problem;
    const std::optional<QList<RecordSummary>> found = store.List(filter, problem);
    if (!found)
        return Fail(ExitLink, problem);
    for (const RecordSummary& summary : *found)
        out.Item(summaryJson(summary), summaryText(summary));
    out.Result(
        Output::Tagged(QStringLiteral("result"), {{"command", "records"},
                                                  {"store", RecordStore::ShownUrl(store.Url())},
                                                  {"count", int(found->size())}}),
        {QStringLiteral("%1 record(s)").arg(found->size())});
    return ExitDone;
}

QStringList recordText(const RunRecord& r) {
    QStringList text{
        QStringLiteral("%1  run %2").arg(OutcomeName(r.outcome), r.runId),
        QStringLiteral("plan %1 %2 (sha256 %3)").arg(r.planName, r.planVersion, r.planSha256),
        QStringLiteral("encoder %1 type %2, %3, firmware %4")
            .arg(r.encoderSerial)
            .arg(r.encoderType)
            .arg(r.encoderPart, r.encoderFirmware),
        QStringLiteral("adapter %1 firmware %2 at %3")
            .arg(r.adapterSerial, r.adapterFirmware, r.port),
        QStringLiteral("station %1, operator %2%3")
            .arg(r.station, r.operatorName,
                 r.dutId.isEmpty() ? QString() : QStringLiteral(", device ") + r.dutId),
        QStringLiteral("%1 to %2").arg(UtcText(r.started), UtcText(r.ended))};
    if (!r.message.isEmpty())
        text << r.message;
    for (const StepRecord& step : r.steps) {
        text << QStringLiteral("  %1  %2.%3 %4  %5")
                    .arg(OutcomeName(step.outcome).leftJustified(7))
                    .arg(step.index)
                    .arg(step.repetition)
                    .arg(step.name, step.message);
        for (const Measurement& m : step.measurements)
            text << QStringLiteral("           %1 (%2)")
                        .arg(MeasurementText(m), OutcomeName(m.outcome));
    }
    for (const Attachment& a : r.attachments)
        text << QStringLiteral("  attached %1: %2 (sha256 %3)").arg(a.name, a.file, a.sha256);
    return text;
}

int show(const CliRequest& request, Output& out) {
    const QString id = request.arguments.value(1);
    if (id.isEmpty())
        return Fail(ExitUsage, QStringLiteral("records show needs a run id"));
    RecordStore store;
    if (const int status = openStore(request, store))
        return status;
    QString problem;
    const std::optional<RunRecord> record = store.Load(id, problem);
    if (!record) // not there, or a prefix that several ids share
        return Fail(ExitUsage,
                    problem.isEmpty() ? QStringLiteral("no record %1").arg(id) : problem);
    out.Result(Output::Tagged(QStringLiteral("result"),
                              {{"command", "records"}, {"record", RecordJson(*record)}}),
               recordText(*record));
    return ExitDone;
}

int exportRecords(const CliRequest& request, Output& out) {
    RecordFilter filter;
    RecordStore store;
    if (const int status = openFiltered(request, filter, store))
        return status;
    QString problem;
    const std::optional<QList<RunRecord>> records = store.LoadAll(filter, problem);
    if (!records)
        return Fail(ExitLink, problem);
    const QByteArray bytes = request.junit                         ? RecordsJunit(*records)
                             : request.format == OutputFormat::Csv ? RecordsCsv(*records)
                                                                   : RecordsJson(*records);
    out.Document(bytes);
    return ExitDone;
}

// The outbox, open: 0, or the exit status after a message.
int openOutbox(Outbox& outbox) {
    QString problem;
    if (outbox.Open(Outbox::DefaultPath(), problem))
        return ExitDone;
    return Fail(ExitFile, QStringLiteral("the outbox cannot be opened: ") + problem);
}

int syncStatus(const SyncReport& report) {
    int status = ExitDone;
    if (report.conflicts > 0 || report.refused > 0)
        status = ExitCheckFailed;
    if (report.left > 0)
        status = WorseExit(status, ExitLink);
    return Interrupted() ? WorseExit(status, ExitInterrupted) : status;
}

// Sends the outbox, then imports the record files that reached no store.
int sync(const CliRequest& request, Output& out) {
    Outbox outbox;
    if (const int status = openOutbox(outbox))
        return status;
    const QString given = request.Value("db");
    const StoreWait wait = StoreWaitOf(ConsoleVoice(request.quiet));
    SyncReport report = outbox.Send(SyncRoute(given), wait, true);
    const QString folder =
        request.IsSet("records") ? request.Value("records") : DefaultRecordsFolder();
    const SyncReport files = outbox.ImportRecordFiles(folder, StoreUrlOf(given), wait);
    report.imported = files.imported;
    report.alreadyThere += files.alreadyThere;
    report.left += files.left;
    report.conflicts += files.conflicts;
    report.refused += files.refused;
    report.problems << files.problems;
    for (const QString& line : report.problems)
        Fail(ExitLink, line);
    out.Result(Output::Tagged(QStringLiteral("result"), {{"command", "records"},
                                                         {"sent", report.sent},
                                                         {"already_there", report.alreadyThere},
                                                         {"left", report.left},
                                                         {"conflicts", report.conflicts},
                                                         {"refused", report.refused},
                                                         {"imported", report.imported}}),
               {QStringLiteral("%1 sent, %2 already there, %3 still waiting, %4 in conflict, "
                               "%5 refused and set aside; %6 record file(s) imported")
                    .arg(report.sent)
                    .arg(report.alreadyThere)
                    .arg(report.left)
                    .arg(report.conflicts)
                    .arg(report.refused)
                    .arg(report.imported)});
    return syncStatus(report);
}

QJsonObject entryJson(const OutboxEntry& e) {
    return Output::Tagged(QStringLiteral("outbox_record"), {{"run_id", e.runId},
                                                            {"store", e.store},
                                                            {"queued_utc", UtcText(e.queued)},
                                                            {"state", OutboxStateName(e.state)},
                                                            {"reason", e.reason}});
}

QString entryText(const OutboxEntry& e) {
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(UtcText(e.queued), OutboxStateName(e.state).leftJustified(8), e.runId, e.store,
             e.reason.simplified()); // one line: a driver's reason may hold several
}

int listOutbox(Outbox& outbox, Output& out) {
    QString problem;
    const std::optional<QList<OutboxEntry>> entries = outbox.Entries(problem);
    if (!entries)
        return Fail(ExitFile, QStringLiteral("the outbox cannot be read: ") + problem);
    out.SetItemsKey(QStringLiteral("outbox"));
    for (const OutboxEntry& entry : *entries)
        out.Item(entryJson(entry), entryText(entry));
    out.Result(Output::Tagged(QStringLiteral("result"),
                              {{"command", "records"}, {"count", int(entries->size())}}),
               {QStringLiteral("%1 record(s) in the outbox").arg(entries->size())});
    return ExitDone;
}

// Asks on a terminal; without one, --yes is needed.
bool confirmDrop(const CliRequest& request, const OutboxEntry& entry) {
    if (request.yes)
        return true;
    const QString question = QStringLiteral("Drop run %1 (%2 for %3) from the outbox for good? It "
                                            "is never sent; its record file stays.")
                                 .arg(entry.runId, OutboxStateName(entry.state), entry.store);
    if (!StdinIsTerminal()) {
        Fail(ExitUsage, QStringLiteral("%1 Standard input is not a terminal: --yes drops it "
                                       "without asking")
                            .arg(question));
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    const QString answer = QTextStream(stdin).readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return true;
    Fail(ExitUsage, QStringLiteral("nothing was dropped"));
    return false;
}

int dropFromOutbox(const CliRequest& request, Outbox& outbox, Output& out) {
    QString problem;
    const std::optional<OutboxEntry> entry = outbox.Find(request.arguments.value(2), problem);
    if (!entry)
        return Fail(ExitUsage, problem);
    if (!confirmDrop(request, *entry))
        return ExitUsage;
    if (!outbox.Drop(entry->runId, problem))
        return Fail(ExitFile, QStringLiteral("the outbox cannot be written: ") + problem);
    out.Result(Output::Tagged(QStringLiteral("result"),
                              {{"command", "records"}, {"dropped", entry->runId}}),
               {QStringLiteral("%1 dropped from the outbox").arg(entry->runId)});
    return ExitDone;
}

int outboxCommand(const CliRequest& request, Output& out) {
    const QString action = request.arguments.value(1);
    const bool list = action == QLatin1String("list") && request.arguments.size() == 2;
    const bool drop = action == QLatin1String("drop") && request.arguments.size() == 3;
    if (!list && !drop)
        return Fail(ExitUsage, QStringLiteral("records outbox takes list, or drop ID"));
    Outbox outbox;
    if (const int status = openOutbox(outbox))
        return status;
    return list ? listOutbox(outbox, out) : dropFromOutbox(request, outbox, out);
}

// Makes the store's tables or brings them to this q714's schema: what the
// store's owner does once, so that stations need no more than SELECT and
// INSERT.
int migrate(const CliRequest& request, Output& out) {
    RecordStore store;
    if (const int status = openStore(request, store))
        return status;
    const QString shown = RecordStore::ShownUrl(store.Url());
    const int found = store.FoundSchemaVersion();
    const int now = store.SchemaVersion();
    const QString version = QString::number(now);
    const QString text =
        found == now ? QStringLiteral("%1 is at schema version %2 already").arg(shown, version)
        : found == 0 ? QStringLiteral("%1: its tables made, schema version %2").arg(shown, version)
                     : QStringLiteral("%1: schema version %2 (was %3)")
                           .arg(shown, version, QString::number(found));
    out.Result(Output::Tagged(QStringLiteral("result"), {{"command", "records"},
                                                         {"store", shown},
                                                         {"schema_version", now},
                                                         {"found_version", found}}),
               {text});
    return ExitDone;
}

} // namespace

int RunRecordsCommand(const CliRequest& request, Output& out) {
    const QString action = request.arguments.value(0);
    if (action == QLatin1String("list"))
        return list(request, out);
    out.SetItemsKey({}); // the other actions have no items
    if (action == QLatin1String("show"))
        return show(request, out);
    if (action == QLatin1String("export"))
        return exportRecords(request, out);
    if (action == QLatin1String("sync"))
        return sync(request, out);
    if (action == QLatin1String("outbox"))
        return outboxCommand(request, out);
    if (action == QLatin1String("migrate"))
        return migrate(request, out);
    return Fail(ExitUsage,
                QStringLiteral("records takes list, show ID, export, sync, outbox or migrate"));
}
