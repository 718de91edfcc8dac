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
