// The record of a run as it leaves the program: its JSON document read back
// whole, its limits judged at their edges, its file written atomically
// under a path no device text can steer, and its exports as a spreadsheet
// and a CI system read them.
#include "RecordExport.h"
#include "RecordFiles.h"
#include "TestRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QXmlStreamReader>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

namespace {

RunRecord sampleRecord() {
    RunRecord r;
    r.runId = NewRunId();
    r.station = QStringLiteral("line-2/st4");
    r.operatorName = QStringLiteral("Ana");
    r.dutId = QStringLiteral("box 17");
    r.planName = QStringLiteral("end of line");
    r.planVersion = QStringLiteral("1.2");
    r.planSha256 = QString(64, QLatin1Char('b'));
    r.toolVersion = QStringLiteral("1.0.0.1");
    r.port = QStringLiteral("/dev/ttyACM0");
    r.adapterSerial = QStringLiteral("Q7R00417");
    r.adapterFirmware = QStringLiteral("v112");
    r.encoderType = 7;
    r.encoderSerial = QStringLiteral("UX000123");
    r.encoderPart = QStringLiteral("RX712KAN17MDG000");
    r.encoderFirmware = QStringLiteral("2.1");
    r.started = QDateTime(QDate(2026, 12, 10), QTime(8, 30, 1, 250), Qt::UTC);
    r.ended = r.started.addMSecs(12345);
    r.outcome = Outcome::Fail;
    r.message = QStringLiteral("step 2 failed");
    StepRecord identify;
    identify.index = 1;
    identify.name = identify.kind = QStringLiteral("identify");
    identify.started = r.started;
    identify.ended = r.started.addMSecs(40);
    StepRecord signal;
    signal.index = 2;
    signal.repetition = 3;
    signal.name = QStringLiteral("signal, \"after\" store");
    signal.kind = QStringLiteral("signal");
    signal.outcome = Outcome::Fail;
    signal.message = QStringLiteral("signal_level 90 below 100");
    signal.started = identify.ended;
    signal.ended = signal.started.addMSecs(300);
    Measurement level;
    level.name = QStringLiteral("signal_level");
    level.value = 90;
    level.limits.low = 100;
    level.limits.high = 1000;
    level.limits.marginal = 20;
    level.outcome = Outcome::Fail;
    level.time = signal.ended;
    Measurement gap;
    gap.name = QStringLiteral("air_gap");
    gap.value = -0.25;
    gap.unit = QStringLiteral("mm");
    gap.limits.high = 0.5;
    gap.marginal = true;
    gap.time = signal.ended;
    signal.measurements << level << gap;
    r.steps << identify << signal;
    r.attachments << Attachment{"errormap", "UX000123_x_errormap.csv", QString(64, 'c'), 2048};
    return r;
}

QByteArray json(const RunRecord& r) {
    return QJsonDocument(RecordJson(r)).toJson();
}

// A run that ended before it measured anything: the encoder did not
// connect (ERROR), was interrupted before its first step (ABORTED), or its
// one step failed without a value (FAIL).
RunRecord unmeasuredRun(Outcome outcome, bool withStep) {
    RunRecord r = sampleRecord();
    r.dutId = QStringLiteral("tray 4");
    r.outcome = outcome;
    r.message = QStringLiteral("ended early");
    r.steps.clear();
    r.attachments.clear();
    if (withStep) {
        StepRecord step;
        step.index = 1;
        step.name = step.kind = QStringLiteral("identify");
        step.outcome = outcome;
        step.message = QStringLiteral("the encoder is type 2, not 7");
        r.steps << step;
    }
    return r;
}

// RFC 4180 rows of a CSV document, each a list of its fields.
QList<QStringList> csvRows(const QByteArray& csv) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(csv);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += c;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            row << field;
            field.clear();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows << (row << field);
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

// The outcome counts of every <testsuite> and of <testsuites>, by run id
// ("" for the total).
struct JunitCounts {
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    int failureElements = 0, errorElements = 0, skippedElements = 0;
};

QMap<QString, JunitCounts> junitCounts(const QByteArray& xml, QString& problem) {
    QMap<QString, JunitCounts> counts;
    QXmlStreamReader reader(xml);
    QString suite;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        if (reader.name() == QLatin1String("testsuites") ||
            reader.name() == QLatin1String("testsuite")) {
            suite = a.value("id").toString();
            JunitCounts& c = counts[suite];
            c.tests = a.value("tests").toInt();
            c.failures = a.value("failures").toInt();
            c.errors = a.value("errors").toInt();
            c.skipped = a.value("skipped").toInt();
        }
        counts[suite].failureElements += reader.name() == QLatin1String("failure");
        counts[suite].errorElements += reader.name() == QLatin1String("error");
        counts[suite].skippedElements += reader.name() == QLatin1String("skipped");
    }
    problem = reader.hasError() ? reader.errorString() : QString();
    return counts;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void aRecordReadBackIsTheRecordWritten() {
        const RunRecord written = sampleRecord();
        RunRecord read;
        QString problem;
        QVERIFY2(RecordFromJson(RecordJson(written), read, problem), qPrintable(problem));
        QCOMPARE(json(read), json(written));
        QCOMPARE(read.steps[1].measurements[1].limits.low.has_value(), false);
        QCOMPARE(RecordJson(written).value("schema_version").toInt(), 1);
    }

    void aDocumentThatIsNoRecordIsRefused() {
        RunRecord read;
        QString problem;
        QVERIFY(!RecordFromJson(QJsonObject{{"run_id", "x"}}, read, problem));
        QVERIFY(problem.contains("schema version"));
        QJsonObject noOutcome = RecordJson(sampleRecord());
        noOutcome["outcome"] = "MAYBE";
        QVERIFY(!RecordFromJson(noOutcome, read, problem));
        QVERIFY(problem.contains("outcome"));
    }

    void aValueThatIsNoNumberIsNullAndFails() {
        RunRecord r = sampleRecord();
        r.steps[1].measurements[0].value = std::nan("");
        const QJsonObject m =
            RecordJson(r)["steps"].toArray()[1].toObject()["measurements"].toArray()[0].toObject();
        QVERIFY(m["value"].isNull());
        Limits any;
        any.high = 1;
        QCOMPARE(any.Judge(std::nan("")), Outcome::Fail);
    }

    void limitsAreInclusiveAndTheMarginalBandLiesInside() {
        Limits limits;
        limits.low = 100;
        limits.high = 1000;
        limits.marginal = 20;
        QCOMPARE(limits.Judge(100), Outcome::Pass);
        QCOMPARE(limits.Judge(1000), Outcome::Pass);
        QCOMPARE(limits.Judge(99.999), Outcome::Fail);
        QCOMPARE(limits.Judge(1000.001), Outcome::Fail);
        QVERIFY(limits.Marginal(110));
        QVERIFY(limits.Marginal(990));
        QVERIFY(!limits.Marginal(500));
        QVERIFY(!limits.Marginal(90)); // outside is a failure, not marginal
        QCOMPARE(Worse(Outcome::Fail, Outcome::Error), Outcome::Error);
        QCOMPARE(Worse(Outcome::Aborted, Outcome::Pass), Outcome::Aborted);
        Outcome parsed;
        QVERIFY(ParseOutcome("fail", parsed));
        QCOMPARE(parsed, Outcome::Fail);
        QVERIFY(!ParseOutcome("passed", parsed));
    }

    void theFileLiesUnderStationDateAndSerial() {
        QTemporaryDir folder;
        const RunRecord r = sampleRecord();
        QString path, problem;
        QVERIFY2(WriteRecordFile(folder.path(), r, path, problem), qPrintable(problem));
        QCOMPARE(path, folder.path() + "/line-2st4/2026-12-10/UX000123_20261210T083001Z.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(file.readAll()).object(), RecordJson(r));
        // A second run in the same second keeps the first file.
        RunRecord again = r;
        again.runId = NewRunId();
        QString second;
        QVERIFY(WriteRecordFile(folder.path(), again, second, problem));
        QVERIFY(second != path);
        QVERIFY(QFile::exists(path) && QFile::exists(second));
    }

    void runsWritingTheSameNameAtOnceKeepEveryFile() {
        QTemporaryDir folder;
        std::vector<std::unique_ptr<QThread>> writers;
        std::atomic<int> written{0};
        for (int i = 0; i < 8; ++i)
            writers.emplace_back(QThread::create([&] {
                RunRecord r = sampleRecord(); // same serial, same second
                QString path, problem;
                written += WriteRecordFile(folder.path(), r, path, problem);
            }));
        for (auto& writer : writers)
            writer->start();
        for (auto& writer : writers)
            writer->wait();
        QCOMPARE(written.load(), 8);
        QDir day(folder.path() + "/line-2st4/2026-12-10");
        QCOMPARE(day.entryList({"*.json"}, QDir::Files).size(), 8);
        QCOMPARE(day.entryList(QDir::Files | QDir::Hidden).size(), 8); // no temporary left
    }

    void deviceTextNeverLeavesTheRecordsFolder() {
        QTemporaryDir folder;
        RunRecord r = sampleRecord();
        r.station = QStringLiteral("..");
        r.encoderSerial = QStringLiteral("../../etc/x");
        QString path, problem;
        QVERIFY(WriteRecordFile(folder.path(), r, path, problem));
        QVERIFY(QFileInfo(path).canonicalFilePath().startsWith(
            QFileInfo(folder.path()).canonicalFilePath() + "/"));
        QVERIFY(!path.contains("/../"));
    }

    // A name from a device or a user never makes a hidden file or folder.
    void deviceTextNeverHidesARecord_data() {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("fileStart");
        QTest::newRow("hidden serial") << "line-1"
                                       << ".hidden"
                                       << "line-1"
                                       << "hidden_";
        QTest::newRow("dots") << "..."
                              << ".."
                              << "unknown"
                              << "unknown_";
        QTest::newRow("hidden station") << " .line-2"
                                        << "UX1"
                                        << "line-2"
                                        << "UX1_";
        QTest::newRow("dot after a separator") << "a/.b"
                                               << "x/../.y"
                                               << "a.b"
                                               << "x...y_";
    }

    void deviceTextNeverHidesARecord() {
        QFETCH(QString, station);
        QFETCH(QString, serial);
        QFETCH(QString, folderName);
        QFETCH(QString, fileStart);
        QTemporaryDir folder;
        RunRecord r = sampleRecord();
        r.station = station;
        r.encoderSerial = serial;
        QString path, problem;
        QVERIFY2(WriteRecordFile(folder.path(), r, path, problem), qPrintable(problem));
        const QString inside = QDir(folder.path()).relativeFilePath(path);
        QCOMPARE(inside.section('/', 0, 0), folderName);
        QVERIFY2(inside.section('/', -1).startsWith(fileStart), qPrintable(inside));
        for (const QString& step : inside.split('/'))
            QVERIFY2(!step.startsWith('.'), qPrintable(inside));
        Attachment attachment;
        QTemporaryFile source;
        QVERIFY(source.open());
        QVERIFY(AttachFile(folder.path(), r, QStringLiteral(".map"), source.fileName(), attachment,
                           problem));
        QVERIFY2(!attachment.file.startsWith('.'), qPrintable(attachment.file));
    }

    void anUnwritableFolderSaysWhyAndLeavesNothing() {
        QTemporaryDir folder;
        QFile blocker(folder.filePath("records"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder would go
        blocker.close();
        QString path, problem;
        QVERIFY(!WriteRecordFile(folder.filePath("records"), sampleRecord(), path, problem));
        QVERIFY(!problem.isEmpty());
    }

    void anAttachmentIsCopiedWithItsChecksum() {
        QTemporaryDir folder;
        const QString source = folder.filePath("map.csv");
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc");
        file.close();
        Attachment a;
        QString problem;
        QVERIFY2(
            AttachFile(folder.filePath("records"), sampleRecord(), "errormap", source, a, problem),
            qPrintable(problem));
        QCOMPARE(a.sha256, QStringLiteral(
                               "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QCOMPARE(a.bytes, 3);
        QCOMPARE(a.file, QStringLiteral("UX000123_20261210T083001Z_errormap.csv"));
        QVERIFY(!AttachFile(folder.filePath("records"), sampleRecord(), "x",
                            folder.filePath("missing"), a, problem));
    }

    void csvHasOneRowPerMeasurementAndQuotesWhatItMust() {
        const QByteArray csv = RecordsCsv({sampleRecord()});
        const QList<QByteArray> rows = csv.split('\n');
        QCOMPARE(rows.size(), 4); // header, two measurements, the empty end
        QVERIFY(csv.endsWith("\r\n"));
        QVERIFY(rows[1].contains("\"signal, \"\"after\"\" store\""));
        QVERIFY(rows[2].contains(",-0.25,mm,,0.5,PASS,1"));
        RunRecord formula = sampleRecord();
        formula.operatorName = QStringLiteral("=HYPERLINK(\"x\")");
        QVERIFY(RecordsCsv({formula}).contains(",\"'=HYPERLINK"));
    }

    // A run without measurements still has its row, with the run's fields
    // and its device's own name; what it did not measure stays empty.
    void everyRunHasItsRowInCsv() {
        const QList<RunRecord> runs{unmeasuredRun(Outcome::Error, false),
                                    unmeasuredRun(Outcome::Aborted, false),
                                    unmeasuredRun(Outcome::Fail, true), sampleRecord()};
        const QList<QStringList> rows = csvRows(RecordsCsv(runs));
        QCOMPARE(rows.size(), 1 + 3 + 2); // the header, a row per early end, two measurements
        const QStringList header = rows.first();
        const auto cell = [&header](const QStringList& row, const char* column) {
            return row.value(header.indexOf(QLatin1String(column)));
        };
        QVERIFY(header.contains("dut_id"));
        for (int i = 0; i < 3; ++i) {
            const QStringList& row = rows[i + 1];
            QCOMPARE(row.size(), header.size());
            QCOMPARE(cell(row, "run_id"), runs[i].runId);
            QCOMPARE(cell(row, "dut_id"), QStringLiteral("tray 4"));
            QCOMPARE(cell(row, "station"), QStringLiteral("line-2/st4"));
            QCOMPARE(cell(row, "run_outcome"), OutcomeName(runs[i].outcome));
            QCOMPARE(cell(row, "started_utc"), QStringLiteral("2026-12-10T08:30:01.250Z"));
            for (const char* column : {"measurement", "value", "unit", "low", "high", "outcome"})
                QVERIFY2(cell(row, column).isEmpty(), column);
        }
        QCOMPARE(cell(rows[4], "dut_id"), QStringLiteral("box 17"));
        QCOMPARE(cell(rows[4], "measurement"), QStringLiteral("signal_level"));
    }

    // A spreadsheet skips leading blanks before it looks for a formula.
    void csvKeepsFormulasAsTextBehindLeadingBlanks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        QTest::newRow("equals") << "=1+1"
                                << "'=1+1";
        QTest::newRow("tab before equals") << "\t=1+1"
                                           << "'\t=1+1";
        QTest::newRow("carriage return before plus") << "\r+cmd"
                                                     << "'\r+cmd";
        QTest::newRow("spaces before minus") << "  -2+3"
                                             << "'  -2+3";
        QTest::newRow("line feed before at") << "\n@SUM(A1)"
                                             << "'\n@SUM(A1)";
        QTest::newRow("a negative number stays a number") << "-0.5"
                                                          << "-0.5";
        QTest::newRow("blanks inside are plain text") << "line 1 = 2"
                                                      << "line 1 = 2";
    }

    void csvKeepsFormulasAsTextBehindLeadingBlanks() {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        RunRecord r = sampleRecord();
        r.operatorName = text;
        const QList<QStringList> rows = csvRows(RecordsCsv({r}));
        QCOMPARE(rows[1].value(rows[0].indexOf("operator")), cell);
    }

    // A value and a limit read back from the export are the ones measured.
    void csvNumbersReadBackExactly() {
        RunRecord r = sampleRecord();
        r.steps[1].measurements[0].value = 0.1 + 0.2;
        r.steps[1].measurements[0].limits.high = 1199.9999999999998;
        const QList<QStringList> rows = csvRows(RecordsCsv({r}));
        const QStringList& header = rows[0];
        const QString value = rows[1].value(header.indexOf("value"));
        const QString high = rows[1].value(header.indexOf("high"));
        QVERIFY2(value.toDouble() == 0.1 + 0.2, qPrintable(value)); // exactly, not nearly
        QVERIFY2(high.toDouble() == 1199.9999999999998, qPrintable(high));
    }

    // A CI system counts a run that did not pass, however early it ended:
    // in its suite and in the total.
    void junitCountsEveryRunThatDidNotPass() {
        RunRecord interrupted = sampleRecord(); // stopped between two passing steps
        interrupted.steps.removeLast();
        interrupted.outcome = Outcome::Aborted;
        const QList<RunRecord> runs{unmeasuredRun(Outcome::Error, false),
                                    unmeasuredRun(Outcome::Fail, false),
                                    unmeasuredRun(Outcome::Fail, true),
                                    unmeasuredRun(Outcome::Aborted, false), interrupted};
        QString problem;
        const QMap<QString, JunitCounts> counts = junitCounts(RecordsJunit(runs), problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const auto suite = [&](int i) { return counts.value(runs[i].runId); };
        QCOMPARE(suite(0).errors, 1);
        QCOMPARE(suite(0).errorElements, 1);
        QCOMPARE(suite(0).tests, 1);
        QCOMPARE(suite(1).failures, 1);
        QCOMPARE(suite(1).failureElements, 1);
        QCOMPARE(suite(2).failures, 1); // the failed step is the one failure
        QCOMPARE(suite(2).tests, 1);
        QCOMPARE(suite(3).skipped, 1);
        QCOMPARE(suite(4).skipped, 1);
        QCOMPARE(suite(4).tests, 2);
        const JunitCounts total = counts.value(QString());
        QCOMPARE(total.tests, 1 + 1 + 1 + 1 + 2);
        QCOMPARE(total.failures, 2);
        QCOMPARE(total.errors, 1);
        QCOMPARE(total.skipped, 2);
    }

    void junitHasASuitePerRunAndFailuresWhereTheyHappened() {
        RunRecord error = sampleRecord();
        error.steps[0].outcome = Outcome::Error;
        const QByteArray xml = RecordsJunit({sampleRecord(), error});
        QXmlStreamReader reader(xml);
        int suites = 0, cases = 0, failures = 0, errors = 0;
        while (!reader.atEnd()) {
            if (reader.readNext() != QXmlStreamReader::StartElement)
                continue;
            suites += reader.name() == QLatin1String("testsuite");
            cases += reader.name() == QLatin1String("testcase");
            failures += reader.name() == QLatin1String("failure");
            errors += reader.name() == QLatin1String("error");
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(suites, 2);
        QCOMPARE(cases, 4);
        QCOMPARE(failures, 2);
        QCOMPARE(errors, 1);
        QVERIFY(xml.contains("failures=\"1\" errors=\"1\""));
    }

    void jsonExportIsAnArrayOfRecords() {
        const QJsonArray array = QJsonDocument::fromJson(RecordsJson({sampleRecord()})).array();
        QCOMPARE(array.size(), 1);
        QCOMPARE(array[0].toObject()["encoder"].toObject()["serial"].toString(), "UX000123");
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
