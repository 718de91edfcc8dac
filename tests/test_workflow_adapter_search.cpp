// Finding the adapter without the window: the search over the announced
// simulators, the identity probe (a reply in pieces taken whole, bytes that
// came before the port opened, the queued replies of an adapter that froze,
// a wrong identity skipped for the next port, the model string later in a
// reply rejected), ports the search must not probe, every adapter listed by
// the scan, and opening the adapter at a known location.
#include "AdapterWorkflows.h"
#include "Announcement.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "SimFixture.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QTest>
#include <memory>

namespace {

using Commands = QList<QByteArray>;

const Commands ProbeAndDetails{"v", "r", "o"};

QStringList portNames(const QList<AdapterCandidate>& candidates) {
    QStringList names;
    for (const AdapterCandidate& c : candidates)
        names << c.portName;
    return names;
}

QString announcedLocation(const QString& name) {
    return SimulatedAdapterFolder() + QLatin1Char('/') + name;
}

// True when nothing holds the terminal: it opens exclusively.
bool portIsFree(const QString& location) {
    const std::unique_ptr<QSerialPort> port(OpenSerialPort(location));
    return port != nullptr;
}

AdapterSettings adapterSettings(const QByteArray& identity, const QByteArray& serial,
                                int revision) {
    AdapterSettings settings;
    settings.identity = identity;
    settings.serialNumber = serial;
    settings.revision = revision;
    return settings;
}

// A simulated adapter announced as "q714-sim-1" where the search looks, with
// no port open before and none left open after.
struct AnnouncedAdapter {
    explicit AnnouncedAdapter(const AdapterSettings& settings = {}) : sim(QString(), settings) {
        ResetSerialDriverState();
        announced = sim.Announce(QStringLiteral("q714-sim-1"));
    }
    ~AnnouncedAdapter() { ResetSerialDriverState(); }
    Commands Sent() { return sim.Adapter().ReceivedCommands(); }

    SimFixture sim;
    bool announced = false;
};

} // namespace

class TestWorkflowAdapterSearch : public QObject {
    Q_OBJECT

private slots:
    void firmwareVersionFromTheRawIdentity() {
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v1.09\r"), 109);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v2.1"), 201);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v1.x9"), 100);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R vX.12"), 12);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R"), 0);
    }

    // ---- The search ----

    void searchFindsTheAnnouncedAdapterAndReadsItsDetails() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        int opened = 0;
        bool portHandedOutWhileProbing = false;
        const AdapterSearchResult search = SearchForAdapter([&] {
            ++opened;
            portHandedOutWhileProbing = COMPortHandle != nullptr;
        });
        QCOMPARE(portNames(search.candidates), QStringList({"q714-sim-1"}));
        QCOMPARE(search.found, 0);
        const AdapterIdentity& found = search.adapter;
        QCOMPARE(found.portName, QStringLiteral("q714-sim-1"));
        QCOMPARE(found.location, announcedLocation(QStringLiteral("q714-sim-1")));
        QCOMPARE(found.IdentityText(), QByteArray("Q714-7R v1.12"));
        QCOMPARE(found.firmwareVersion, 112);
        QCOMPARE(found.serialNumber, QByteArray("Q7R00417"));
        QCOMPARE(found.revision, 57);
        QCOMPARE(adapter.Sent(), ProbeAndDetails);
        QVERIFY(COMPortHandle && COMPortHandle->isOpen());
        // The probed port is not handed out before it has answered.
        QCOMPARE(opened, 1);
        QVERIFY(!portHandedOutWhileProbing);
    }

    // The old port must be closed first, or the exclusive open would fail.
    void aSecondSearchClosesThePortItHeld() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        QCOMPARE(SearchForAdapter().found, 0);
        const AdapterSearchResult again = SearchForAdapter();
        QCOMPARE(again.found, 0);
        QCOMPARE(again.adapter.serialNumber, QByteArray("Q7R00417"));
        QVERIFY(COMPortHandle);
    }

    void modelStringLaterInTheReplyIsRejected() {
        AnnouncedAdapter adapter;
        adapter.sim.Adapter().OverrideReply("v", "xQ714-7R v1.12\r");
        QVERIFY(adapter.announced);
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(search.found, -1);
        QCOMPARE(search.candidates.size(), qsizetype(1));
        QVERIFY(!COMPortHandle);
        QCOMPARE(adapter.Sent(), Commands({"v"}));
        QVERIFY(portIsFree(adapter.sim.DevicePath()));
    }

    void wrongIdentityIsSkippedForTheNextPort() {
        SimFixture impostor;
        impostor.Adapter().OverrideReply("v", "X714-7R v1.12\r");
        SimFixture adapter; // its runtime folder is the one the search sees
        Announcement first;
        Announcement second;
        QVERIFY(first.Announce(impostor.DevicePath(), QStringLiteral("q714-sim-1")));
        QVERIFY(second.Announce(adapter.DevicePath(), QStringLiteral("q714-sim-2")));
        ResetSerialDriverState();
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(portNames(search.candidates), QStringList({"q714-sim-1", "q714-sim-2"}));
        QCOMPARE(search.found, 1);
        QCOMPARE(search.adapter.portName, QStringLiteral("q714-sim-2"));
        QCOMPARE(search.adapter.serialNumber, QByteArray("Q7R00417"));
        QCOMPARE(impostor.Adapter().ReceivedCommands(), Commands({"v"}));
        QCOMPARE(adapter.Adapter().ReceivedCommands(), ProbeAndDetails);
        QVERIFY(portIsFree(impostor.DevicePath())); // the rejected port is closed
        ResetSerialDriverState();
    }

    // A USB adapter may deliver its identity in several packets: the probe
    // takes the whole line, so every later reply stays in step.
    void identityInPiecesIsTakenWhole_data() {
        QTest::addColumn<int>("parts");
        QTest::addColumn<int>("gapMs");
        QTest::newRow("3 parts, 1 ms apart") << 3 << 1;
        QTest::newRow("2 parts, 150 ms apart") << 2 << 150;
    }

    void identityInPiecesIsTakenWhole() {
        QFETCH(int, parts);
        QFETCH(int, gapMs);
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        FaultSettings split;
        split.splitParts = parts;
        split.splitGapMs = gapMs;
        adapter.sim.Server().SetFaults(split);
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(search.found, 0);
        QCOMPARE(search.adapter.IdentityText(), QByteArray("Q714-7R v1.12"));
        QCOMPARE(search.adapter.firmwareVersion, 112);
        QCOMPARE(search.adapter.serialNumber, QByteArray("Q7R00417"));
        QCOMPARE(search.adapter.revision, 57);
        QVERIFY(ReadSupplyState().state.startsWith("OFF"));
    }

    // Replies queued before the port was opened (an adapter that froze and
    // then answered a search's probes at once) belong to commands of the
    // port's earlier opening.
    void bytesQueuedBeforeThePortOpensAreNotTakenForReplies() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        adapter.sim.Server().SendRaw("Q714-7R v1.12\rQ714-7R v1.12\r");
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(search.found, 0);
        QCOMPARE(search.adapter.serialNumber, QByteArray("Q7R00417"));
        QCOMPARE(search.adapter.IdentityText(), QByteArray("Q714-7R v1.12"));
        QCOMPARE(search.adapter.revision, 57);
    }

    // An adapter that froze (SIGSTOP) while the tool kept searching answers
    // every queued probe at once when it goes on (SIGCONT); the next search
    // opens the port afresh and sees none of those replies.
    void anAdapterThatFrozeIsFoundWithItsTrueSerial() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        QCOMPARE(SearchForAdapter().found, 0);
        adapter.sim.Server().Stop();
        for (int search = 0; search < 3; ++search)
            QCOMPARE(SearchForAdapter().found, -1);
        QVERIFY(!COMPortHandle);
        QVERIFY(adapter.sim.Server().Start());
        QTest::qWait(200); // the queued probes are answered
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(search.found, 0);
        QCOMPARE(search.adapter.serialNumber, QByteArray("Q7R00417"));
        QCOMPARE(search.adapter.IdentityText(), QByteArray("Q714-7R v1.12"));
        QCOMPARE(search.adapter.revision, 57);
    }

    // The identity as shown keeps printable characters only; markup stays
    // as it came.
    void identityTextKeepsPrintableCharactersOnly() {
        AnnouncedAdapter adapter(
            adapterSettings("Q714-7R<img src=\"/dev/zero\"><b>v1.12\x07", "<i>S1</i>", 57));
        QVERIFY(adapter.announced);
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(search.found, 0);
        QVERIFY(search.adapter.identity.contains('\x07'));
        QCOMPARE(search.adapter.IdentityText(),
                 QByteArray("Q714-7R<img src=\"/dev/zero\"><b>v1.12"));
    }

    // ---- Ports the search must not probe ----

    // Simulated adapters are announced in a folder of the user's own; in a
    // folder others can write to, or through a link to anything but the
    // user's terminal, nothing is probed.
    void untrustedAnnouncementsAreIgnored_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("folder open to others") << "chmod";
        QTest::newRow("folder is a link") << "folder-link";
        QTest::newRow("link to a regular file") << "file-link";
    }

    void untrustedAnnouncementsAreIgnored() {
        QFETCH(QString, change);
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        const QString folder = SimulatedAdapterFolder();
        if (change == QLatin1String("chmod")) {
            QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther | QFileDevice::WriteOther);
        } else if (change == QLatin1String("folder-link")) {
            const QString real = folder + QStringLiteral("-real");
            QVERIFY(QDir().rename(folder, real));
            QVERIFY(QFile::link(real, folder));
        } else {
            const QString plain = adapter.sim.RuntimeFolder() + QStringLiteral("/plain");
            QFile file(plain);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QFile::remove(folder + QStringLiteral("/q714-sim-1"));
            QVERIFY(QFile::link(plain, folder + QStringLiteral("/q714-sim-1")));
        }
        const AdapterSearchResult search = SearchForAdapter();
        QVERIFY(!portNames(search.candidates).contains(QStringLiteral("q714-sim-1")));
        QCOMPARE(search.found, -1);
        QVERIFY(!COMPortHandle);
        QVERIFY(adapter.Sent().isEmpty());
    }

    void portHeldElsewhereIsSkipped() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        QSerialPort holder(adapter.sim.DevicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const AdapterSearchResult search = SearchForAdapter();
        QCOMPARE(portNames(search.candidates), QStringList({"q714-sim-1"}));
        QCOMPARE(search.found, -1);
        QVERIFY(!COMPortHandle);
        QVERIFY(adapter.Sent().isEmpty());
    }

    // ---- Every adapter, and one at a known location ----

    // Each adapter is listed in natural order of its port with its own
    // identity, serial number and revision; a wrong identity is left out,
    // and no port stays open, the one open before included.
    void scanListsEveryAdapterAndLeavesThePortsClosed() {
        SimFixture first(QString(), adapterSettings("Q714-7R v1.09", "Q7R00001", 3));
        SimFixture impostor;
        impostor.Adapter().OverrideReply("v", "X714-7R v1.12\r");
        SimFixture tenth(QString(), adapterSettings("Q714-7R v1.12", "Q7R00010", 12));
        // In the runtime folder of the last fixture, the one the scan sees.
        Announcement announcements[3];
        QVERIFY(announcements[0].Announce(tenth.DevicePath(), QStringLiteral("q714-sim-10")));
        QVERIFY(announcements[1].Announce(impostor.DevicePath(), QStringLiteral("q714-sim-1")));
        QVERIFY(announcements[2].Announce(first.DevicePath(), QStringLiteral("q714-sim-2")));
        ResetSerialDriverState();
        QVERIFY(first.OpenChannel());

        const QList<AdapterIdentity> adapters = ScanAdapters();
        QCOMPARE(adapters.size(), qsizetype(2));
        QCOMPARE(adapters[0].portName, QStringLiteral("q714-sim-2")); // 2 before 10
        QCOMPARE(adapters[0].location, announcedLocation(QStringLiteral("q714-sim-2")));
        QCOMPARE(adapters[0].IdentityText(), QByteArray("Q714-7R v1.09"));
        QCOMPARE(adapters[0].firmwareVersion, 109);
        QCOMPARE(adapters[0].serialNumber, QByteArray("Q7R00001"));
        QCOMPARE(adapters[0].revision, 3);
        QCOMPARE(adapters[1].portName, QStringLiteral("q714-sim-10"));
        QCOMPARE(adapters[1].firmwareVersion, 112);
        QCOMPARE(adapters[1].serialNumber, QByteArray("Q7R00010"));
        QCOMPARE(adapters[1].revision, 12);
        QCOMPARE(first.Adapter().ReceivedCommands(), ProbeAndDetails);
        QCOMPARE(tenth.Adapter().ReceivedCommands(), ProbeAndDetails);
        QCOMPARE(impostor.Adapter().ReceivedCommands(), Commands({"v"}));

        QVERIFY(!COMPortHandle);
        for (const SimFixture* sim : {&first, &impostor, &tenth})
            QVERIFY2(portIsFree(sim->DevicePath()), qPrintable(sim->DevicePath()));
        ResetSerialDriverState();
    }

    void openAdapterAtItsLocation() {
        AnnouncedAdapter adapter(adapterSettings("Q714-7R v1.10", "Q7R00099", 8));
        AdapterIdentity opened;
        QVERIFY(OpenAdapterAt(adapter.sim.DevicePath(), opened));
        QCOMPARE(opened.portName, adapter.sim.DevicePath());
        QCOMPARE(opened.location, adapter.sim.DevicePath());
        QCOMPARE(opened.IdentityText(), QByteArray("Q714-7R v1.10"));
        QCOMPARE(opened.firmwareVersion, 110);
        QCOMPARE(opened.serialNumber, QByteArray("Q7R00099"));
        QCOMPARE(opened.revision, 8);
        QVERIFY(COMPortHandle && COMPortHandle->isOpen());
        QCOMPARE(adapter.Sent(), ProbeAndDetails);
        // Opening it again closes it first.
        QVERIFY(OpenAdapterAt(adapter.sim.DevicePath(), opened));
        QVERIFY(COMPortHandle);
    }

    // A wrong identity or no device at all: false, and no port open (the
    // one open before is closed).
    void openAdapterAtRejectsWhatIsNoAdapter() {
        AnnouncedAdapter adapter;
        SimFixture impostor;
        impostor.Adapter().OverrideReply("v", "X714-7R v1.12\r");
        QVERIFY(adapter.sim.OpenChannel());
        AdapterIdentity opened;
        QVERIFY(!OpenAdapterAt(impostor.DevicePath(), opened));
        QVERIFY(!COMPortHandle);
        QVERIFY(portIsFree(adapter.sim.DevicePath()));
        QVERIFY(portIsFree(impostor.DevicePath()));
        QVERIFY(opened.identity.isEmpty());
        QVERIFY(!OpenAdapterAt(adapter.sim.RuntimeFolder() + QStringLiteral("/none"), opened));
        QVERIFY(!COMPortHandle);
    }
};

QTEST_GUILESS_MAIN(TestWorkflowAdapterSearch)
#include "test_workflow_adapter_search.moc"
