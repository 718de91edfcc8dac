// The record store on both of its back-ends: SQLite in a temporary file and
// a real PostgreSQL server (the postgres fixture; its rows skip without
// one). A record read back is the record stored, a record is never stored
// twice, listings filter and sort as a line asks, a store of a newer schema
// is left untouched, stations opening a new store at once create it once,
// and the outbox gives a record up only once its store has it.
#include "Outbox.h"
#include "RecordStore.h"

#include "PostgresTestServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <cmath>

namespace {

RunRecord record(const QString& serial, const QString& station, Outcome outcome, int minute) {
    RunRecord r;
    r.runId = NewRunId();
    r.station = station;
    r.operatorName = QStringLiteral("Ana");
    r.planName = QStringLiteral("eol");
    r.planVersion = QStringLiteral("3");
    r.planSha256 = QString(64, QLatin1Char('d'));
    r.toolVersion = QStringLiteral("1.0.0.1");
    r.encoderType = 2;
    r.encoderSerial = serial;
    r.started = QDateTime(QDate(2026, 12, 10), QTime(8, minute, 0, 125), Qt::UTC);
    r.ended = r.started.addSecs(30);
    r.outcome = outcome;
    for (int s = 1; s <= 2; ++s) {
        StepRecord step;
        step.index = s;
        step.name = step.kind = QStringLiteral("read");
        step.outcome = outcome;
        step.started = r.started;
        step.ended = r.ended;
        Measurement m;
        m.name = QStringLiteral("error_count");
        m.value = s == 2 ? std::nan("") : 0.5 * s;
        m.limits.high = 0;
        m.limits.marginal = 0.1;
        m.outcome = outcome;
        m.time = r.ended;
        step.measurements << m;
        r.steps << step;
    }
    r.attachments << Attachment{"errormap", "a.csv", QString(64, 'e'), 10};
    return r;
}

QByteArray json(const RunRecord& r) {
    return QJsonDocument(RecordJson(r)).toJson();
}

} // namespace

class TestRecordStore : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    int fresh = 0;

    // A new empty store of the row's back-end; empty (after a skip) without one.
    QString newStore() {
        QFETCH(QString, backend);
        ++fresh;
        if (backend == QLatin1String("sqlite"))
            return QStringLiteral("sqlite:%1/store-%2.sqlite").arg(folder.path()).arg(fresh);
        return FreshPostgresDatabase(QStringLiteral("q714_store_%1").arg(fresh));
    }

    void backends() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

#define OPEN_STORE(url)                                                                            \
    const QString url = newStore();                                                                \
    if (url.isEmpty())                                                                             \
        QSKIP("no PostgreSQL test server (see the postgres_start test)");

private slots:
    void aStoredRecordReadsBackWhole_data() {
        backends();
    }
    void aStoredRecordReadsBackWhole() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY2(store.Open(url, problem), qPrintable(problem));
        QCOMPARE(store.SchemaVersion(), StoreSchemaVersion);
        const RunRecord written = record("UX1", "st1", Outcome::Fail, 1);
        QCOMPARE(store.Store(written, problem), RecordStore::Stored::New);
        const std::optional<RunRecord> read = store.Load(written.runId, problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(json(*read), json(written));
        QVERIFY(std::isnan(read->steps[1].measurements[0].value));
        QVERIFY(!read->steps[0].measurements[0].limits.low);
    }

    void aRecordIsNeverStoredTwice_data() {
        backends();
    }
    void aRecordIsNeverStoredTwice() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        RunRecord r = record("UX1", "st1", Outcome::Pass, 1);
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::New);
        r.outcome = Outcome::Fail; // a second copy does not overwrite the first
        QCOMPARE(store.Store(r, problem), RecordStore::Stored::AlreadyThere);
        QCOMPARE(store.Load(r.runId, problem)->outcome, Outcome::Pass);
        QCOMPARE(store.List({}, problem)->size(), 1);
        QCOMPARE(store.Load(r.runId, problem)->steps.size(), 2);
    }

    void listingsFilterAndPutTheNewestFirst_data() {
        backends();
    }
    void listingsFilterAndPutTheNewestFirst() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        store.Store(record("UX1", "st1", Outcome::Pass, 1), problem);
        store.Store(record("UX2", "st1", Outcome::Fail, 2), problem);
        store.Store(record("UX1", "st2", Outcome::Fail, 3), problem);
        store.Store(record("UX3", "st2", Outcome::Error, 4), problem);
        const auto all = store.List({}, problem);
        QCOMPARE(all->size(), 4);
        QCOMPARE(all->first().encoderSerial, "UX3");
        QCOMPARE(all->last().started.time().minute(), 1);
        RecordFilter serial;
        serial.serial = "UX1";
        QCOMPARE(store.List(serial, problem)->size(), 2);
        RecordFilter failedOnSt1;
        failedOnSt1.station = "st1";
        failedOnSt1.outcome = Outcome::Fail;
        QCOMPARE(store.List(failedOnSt1, problem)->size(), 1);
        RecordFilter since;
        since.since = QDateTime(QDate(2026, 12, 10), QTime(8, 3), Qt::UTC);
        QCOMPARE(store.List(since, problem)->size(), 2);
        RecordFilter two;
        two.limit = 2;
        QCOMPARE(store.List(two, problem)->size(), 2);
        QCOMPARE(store.LoadAll(serial, problem)->size(), 2);
        QCOMPARE(store.LoadAll(serial, problem)->first().steps.size(), 2);
    }

    void aRunIdMayBeShortenedWhileItIsUnique_data() {
        backends();
    }
    void aRunIdMayBeShortenedWhileItIsUnique() {
        OPEN_STORE(url);
        RecordStore store;
        QString problem;
        QVERIFY(store.Open(url, problem));
        RunRecord a = record("UX1", "st1", Outcome::Pass, 1);
        RunRecord b = record("UX2", "st1", Outcome::Pass, 2);
        a.runId = "abcdef12-0000-4000-8000-000000000001";
        b.runId = "abcdef12-0000-4000-8000-000000000002";
        store.Store(a, problem);
        store.Store(b, problem);
        QCOMPARE(store.Load("abcdef12-0000-4000-8000-000000000002", problem)->encoderSerial, "UX2");
        QVERIFY(!store.Load("abcdef12", problem));
        QVERIFY(problem.contains("several"));
        QVERIFY(!store.Load("abcdef12-0000-4000-8000-00000000000", problem)); // still two
        QVERIFY(!store.Load("ffffffff", problem));
        QVERIFY(problem.isEmpty());            // none at all is no error
        QVERIFY(!store.Load("abcd", problem)); // too short to be a prefix
    }

    void aStoreOfANewerSchemaIsLeftAlone_data() {
        backends();
    }
    void aStoreOfANewerSchemaIsLeftAlone() {
        OPEN_STORE(url);
        QString problem;
        {
            RecordStore store;
            QVERIFY(store.Open(url, problem));
            store.Store(record("UX1", "st1", Outcome::Pass, 1), problem);
        }
        {
            RecordStore again; // opening again migrates nothing
            QVERIFY(again.Open(url, problem));
            QCOMPARE(again.List({}, problem)->size(), 1);
        }
        setSchemaVersion(url, 99);
        RecordStore newer;
        QVERIFY(!newer.Open(url, problem));
        QVERIFY2(problem.contains("schema version 99"), qPrintable(problem));
        setSchemaVersion(url, StoreSchemaVersion);
        RecordStore back;
        QVERIFY(back.Open(url, problem));
        QCOMPARE(back.List({}, problem)->size(), 1);
    }

    void stationsOpeningANewStoreAtOnceCreateItOnce_data() {
        backends();
    }
    void stationsOpeningANewStoreAtOnceCreateItOnce() {
        OPEN_STORE(url);
        std::atomic<int> stored{0};
        QStringList problems;
        QMutex lock;
        std::vector<std::unique_ptr<QThread>> stations;
        for (int i = 0; i < 4; ++i)
            stations.emplace_back(QThread::create([&, i] {
                RecordStore store;
                QString problem;
                if (store.Open(url, problem) &&
                    store.Store(record("UX", QString::number(i), Outcome::Pass, i), problem) ==
                        RecordStore::Stored::New) {
                    ++stored;
                    return;
                }
                QMutexLocker locked(&lock);
                problems << problem;
            }));
        for (auto& station : stations)
            station->start();
        for (auto& station : stations)
            QVERIFY(station->wait(60000));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QCOMPARE(stored.load(), 4);
    }

    void badUrlsAreRefusedWithAReason() {
        RecordStore store;
        QString problem;
        QVERIFY(!store.Open("mysql://x", problem));
        QVERIFY(problem.contains("sqlite:PATH"));
        QVERIFY(!store.Open("postgresql://nobody@127.0.0.1:1/none", problem));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(RecordStore::ShownUrl("postgresql://u:secret@h:5/db"),
                 "postgresql://u:***@h:5/db");
        QCOMPARE(store.Store(record("UX1", "st1", Outcome::Pass, 1), problem),
                 RecordStore::Stored::Failed); // nothing is open
    }

    void theOutboxKeepsARecordUntilItsStoreHasIt() {
        const QString unreachable = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
        const QString reachable = QStringLiteral("sqlite:") + folder.filePath("outboxed.sqlite");
        Outbox outbox;
        QString problem;
        QVERIFY2(outbox.Open(folder.filePath("outbox.sqlite"), problem), qPrintable(problem));
        const RunRecord away = record("UX1", "st1", Outcome::Pass, 1);
        const RunRecord later = record("UX2", "st1", Outcome::Fail, 2);
        QVERIFY(outbox.Queue(away, unreachable, problem));
        QVERIFY(outbox.Queue(away, unreachable, problem)); // queued twice, kept once
        QVERIFY(outbox.Queue(later, reachable, problem));
        QCOMPARE(outbox.Pending(problem), 2);

        const SyncReport first = outbox.Send();
        QCOMPARE(first.sent, 1);
        QCOMPARE(first.left, 1);
        QCOMPARE(first.problems.size(), 1);
        QCOMPARE(outbox.Pending(problem), 1);

        // A sync cut off after storing: the record comes again, is known, leaves.
        QVERIFY(outbox.Queue(later, reachable, problem));
        const SyncReport again = outbox.Send(reachable);
        QCOMPARE(again.sent, 0);
        QCOMPARE(again.alreadyThere, 1);
        QCOMPARE(again.left, 0); // the unreachable one was not asked for
        QCOMPARE(outbox.Pending(problem), 1);
        RecordStore store;
        QVERIFY(store.Open(reachable, problem));
        QCOMPARE(json(*store.Load(later.runId, problem)), json(later));
    }

private:
    static void setSchemaVersion(const QString& url, int version) {
        QSqlDatabase db;
        const QUrl parsed(url);
        if (url.startsWith("sqlite:")) {
            db = QSqlDatabase::addDatabase("QSQLITE", "raw");
            db.setDatabaseName(url.mid(7));
        } else {
            db = QSqlDatabase::addDatabase("QPSQL", "raw");
            db.setHostName(parsed.host());
            db.setPort(parsed.port());
            db.setUserName(parsed.userName());
            db.setDatabaseName(parsed.path().mid(1));
        }
        QVERIFY(db.open());
        QVERIFY(
            QSqlQuery(db).exec(QStringLiteral("UPDATE q714_schema SET version = %1").arg(version)));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("raw");
    }
};

QTEST_GUILESS_MAIN(TestRecordStore)
#include "test_record_store.moc"
