// Finding the adapter: which ports are tried in which order, which identity
// is accepted, what the window shows, and a search after a broken link.
#include "AdapterSearch.h"
#include "Announcement.h"
#include "PtySimulator.h"
#include "SimFixture.h"
#include "SimulatedAdapter.h"
#include "WindowFixture.h"

#include "Orodja.h"
#include "SerialPortMap.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

SerialPortEntry usb(const QString& port) {
    return {QStringLiteral("\\Device\\USBSER_") + port, port, QStringLiteral("/dev/") + port};
}

QStringList portNames(const QList<AdapterCandidate>& candidates) {
    QStringList names;
    for (const auto& c : candidates)
        names << c.portName;
    return names;
}

// One simulated adapter announced where a new window looks for it.
struct AnnouncedAdapter {
    AnnouncedAdapter() { announced = sim.Announce(QStringLiteral("q714-sim-1")); }
    SimFixture sim;
    bool announced = false;
    WindowFixture window{QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder};
    TMainForm& form = window.Form();
};

} // namespace

class TestAdapterSearch : public QObject {
    Q_OBJECT

private slots:
    void candidatesAreUsbPortsInNaturalOrderWithoutDuplicates() {
        const QList<SerialPortEntry> map{usb("ttyACM10"),
                                         usb("ttyACM2"),
                                         {"\\Device\\Serial0", "ttyS0", "/dev/ttyS0"},
                                         usb("ttyUSB0"),
                                         usb("ttyACM2")};
        QCOMPARE(portNames(ListAdapterCandidates(map)),
                 QStringList({"ttyACM2", "ttyACM10", "ttyUSB0"}));
    }

    void naturalOrderComparesDigitRunsAsNumbers() {
        QVERIFY(NaturalLess("COM3", "COM12"));
        QVERIFY(!NaturalLess("COM12", "COM3"));
        QVERIFY(NaturalLess("q714-sim-9", "q714-sim-10"));
        QVERIFY(NaturalLess("ttyACM", "ttyACM0"));
        QVERIFY(!NaturalLess("ttyACM1", "ttyACM1"));
    }

    void naturalOrderHandlesLongRunsLeadingZerosAndOtherDigits() {
        const QString twentyNines = QStringLiteral("tty") + QString(20, QLatin1Char('9'));
        const QString twentyOneDigits = QStringLiteral("tty1") + QString(20, QLatin1Char('0'));
        QVERIFY(NaturalLess(twentyNines, twentyOneDigits));
        QVERIFY(!NaturalLess(twentyOneDigits, twentyNines));
        QVERIFY(NaturalLess("ttyS007", "ttyS10"));
        QVERIFY(NaturalLess("ttyS01", "ttyS1") != NaturalLess("ttyS1", "ttyS01"));
        // Arabic-Indic digits are ordinary characters, not numbers.
        const QString arabicTwo = QStringLiteral("tty") + QChar(0x0662);
        QVERIFY(NaturalLess("tty9", arabicTwo));
        QVERIFY(!NaturalLess(arabicTwo, "tty9"));
    }

    // The sort is only defined for a strict weak ordering: irreflexive,
    // asymmetric, transitive, with transitive incomparability.
    void naturalOrderIsAStrictWeakOrdering() {
        const QStringList names = {"",
                                   "0",
                                   "00",
                                   "1",
                                   "01",
                                   "10",
                                   "9",
                                   "a",
                                   "a0",
                                   "a00",
                                   "a1",
                                   "a01",
                                   "a10",
                                   "a9b",
                                   "a09b",
                                   "ttyACM2",
                                   "ttyACM10",
                                   "ttyS",
                                   QStringLiteral("a") + QChar(0x0663),
                                   "a-1",
                                   "a 1",
                                   "A1",
                                   QStringLiteral("x") + QString(25, QLatin1Char('7')),
                                   "x8"};
        const auto less = [](const QString& a, const QString& b) { return NaturalLess(a, b); };
        const auto same = [&](const QString& a, const QString& b) {
            return !less(a, b) && !less(b, a);
        };
        for (const QString& a : names) {
            QVERIFY2(!less(a, a), qPrintable(a));
            for (const QString& b : names) {
                QVERIFY2(!(less(a, b) && less(b, a)), qPrintable(a + " / " + b));
                for (const QString& c : names) {
                    if (less(a, b) && less(b, c))
                        QVERIFY2(less(a, c), qPrintable(a + " < " + b + " < " + c));
                    if (same(a, b) && same(b, c))
                        QVERIFY2(same(a, c), qPrintable(a + " ~ " + b + " ~ " + c));
                }
            }
        }
    }

    void firmwareVersionFromTheRawIdentity() {
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v1.09\r"), 109);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v2.1"), 201);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R v1.x9"), 100);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R vX.12"), 12);
        QCOMPARE(AdapterFirmwareVersion("Q714-7R"), 0);
    }

    void windowFindsTheAnnouncedSimulator() {
        SimFixture sim;
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QCOMPARE(form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
        QCOMPARE(form.lblInterfaceVer->text(), QStringLiteral("Q714-7R v1.12.57"));
        QCOMPARE(form.Q714VerzijaFW, 112);
        QCOMPARE(form.Q714Version, QByteArray("Q714-7R v1.12"));
        QVERIFY(form.Page->isEnabled());
        QVERIFY(form.btnPowerON->isEnabled());
        QVERIFY(form.btnConnectEncoder->isEnabled());
        QVERIFY(!form.initTimer->isActive());
        QVERIFY(COMPortHandle);
    }

    void wrongIdentityIsRejectedAndTheNextPortTaken() {
        SimFixture impostor;
        impostor.Adapter().OverrideReply("v", "X714-7R v1.12\r");
        SimFixture adapter; // its runtime folder is the one the window sees
        Announcement first;
        Announcement second;
        QVERIFY(first.Announce(impostor.DevicePath(), QStringLiteral("q714-sim-1")));
        QVERIFY(second.Announce(adapter.DevicePath(), QStringLiteral("q714-sim-2")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        window.Form().initTimerTimer();
        QCOMPARE(window.Form().COMPorts, QStringList({"q714-sim-1", "q714-sim-2"}));
        QCOMPARE(window.Form().lblComPort->text(), QStringLiteral("q714-sim-2  [Q7R00417]"));
        QVERIFY(impostor.Adapter().ReceivedCommands().contains("v"));
    }

    void modelStringLaterInTheReplyIsRejected() {
        SimFixture sim;
        sim.Adapter().OverrideReply("v", "xQ714-7R v1.12\r");
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QVERIFY(!COMPortHandle);
        QVERIFY(!form.Page->isEnabled());
        QVERIFY(!form.btnPowerOFF->isEnabled());
        QVERIFY(form.initTimer->isActive());
        QCOMPARE(form.initTimer->interval(), 1000);
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
        TMainForm& form = adapter.form;
        form.initTimerTimer();
        QCOMPARE(form.Q714Version, QByteArray("Q714-7R v1.12"));
        QCOMPARE(form.Q714VerzijaFW, 112);
        QCOMPARE(form.SerijskaQ714, QByteArray("Q7R00417"));
        QCOMPARE(form.Q714RevizijaFW, 57);
        QCOMPARE(form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
    }

    // Replies queued before the port was opened (an adapter that froze and
    // then answered a search's probes at once) belong to commands of the
    // port's earlier opening.
    void bytesQueuedBeforeThePortOpensAreNotTakenForReplies() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        adapter.sim.Server().SendRaw("Q714-7R v1.12\rQ714-7R v1.12\r");
        TMainForm& form = adapter.form;
        form.initTimerTimer();
        QCOMPARE(form.SerijskaQ714, QByteArray("Q7R00417"));
        QCOMPARE(form.lblInterfaceVer->text(), QStringLiteral("Q714-7R v1.12.57"));
    }

    // An adapter that froze (SIGSTOP) while the tool kept searching answers
    // every queued probe at once when it goes on (SIGCONT); the next search
    // opens the port afresh and sees none of those replies.
    void anAdapterThatFrozeIsFoundWithItsTrueSerial() {
        AnnouncedAdapter adapter;
        QVERIFY(adapter.announced);
        TMainForm& form = adapter.form;
        form.initTimerTimer();
        QVERIFY(COMPortHandle);
        adapter.sim.Server().Stop();
        for (int search = 0; search < 3; ++search)
            form.initTimerTimer();
        QVERIFY(!COMPortHandle);
        QVERIFY(adapter.sim.Server().Start());
        QTest::qWait(200); // the queued probes are answered
        form.initTimerTimer();
        QCOMPARE(form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
        QCOMPARE(form.lblInterfaceVer->text(), QStringLiteral("Q714-7R v1.12.57"));
    }

    void failedSearchesAlternateTheLabel() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QCOMPARE(form.lblComPort->text(), QString());
        form.initTimerTimer();
        QCOMPARE(form.lblComPort->text(), QStringLiteral("Searching for interface..."));
        form.initTimerTimer();
        QCOMPARE(form.lblComPort->text(), QString());
        QVERIFY(form.initTimer->isActive());
    }

    void searchAfterBrokenLinkReopensAndSelectsTheFirstTab() {
        SimFixture sim;
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QVERIFY(COMPortHandle);
        form.Page->setCurrentIndex(2);
        form.RestartAdapterSearch();
        QVERIFY(form.initTimer->isActive());
        // The old port must be closed first, or the exclusive open would fail.
        form.initTimerTimer();
        QVERIFY(COMPortHandle);
        QCOMPARE(form.Page->currentIndex(), 0);
        QCOMPARE(form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
    }

    // A workflow run while a probe processes window events may ask for a
    // new search; it waits for the timer instead of closing the port the
    // running search is probing.
    void searchNeverRunsInsideASearch() {
        SimFixture sim;
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        bool nestedSawNoPort = false;
        bool nestedLeftTheSearchAlone = false;
        QTimer::singleShot(0, &form, [&] {
            nestedSawNoPort = COMPortHandle == nullptr; // the probed port is not handed out
            const QString label = form.lblComPort->text();
            const QStringList ports = form.COMPortList;
            form.RestartAdapterSearch();
            form.initTimerTimer();
            nestedLeftTheSearchAlone =
                form.lblComPort->text() == label && form.COMPortList == ports;
        });
        form.initTimerTimer();
        QVERIFY(nestedSawNoPort);
        QVERIFY(nestedLeftTheSearchAlone);
        QVERIFY(COMPortHandle);
        QCOMPARE(form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
        QVERIFY(form.initTimer->isActive()); // the nested request runs next
        form.initTimerTimer();
        QVERIFY(COMPortHandle);
        QVERIFY(!form.initTimer->isActive());
    }

    void identityWithMarkupIsShownAsPlainText() {
        AdapterSettings settings;
        settings.identity = "Q714-7R<img src=\"/dev/zero\"><b>v1.12";
        settings.serialNumber = "<i>S1</i>";
        SimFixture sim(QString(), settings);
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QCOMPARE(form.lblInterfaceVer->text(),
                 QStringLiteral("Q714-7R<img src=\"/dev/zero\"><b>v1.12.57"));
        QCOMPARE(form.lblInterfaceVer->textFormat(), Qt::PlainText);
        QCOMPARE(form.lblComPort->textFormat(), Qt::PlainText);
        for (QLabel* label : form.findChildren<QLabel*>())
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
    }

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
        SimFixture sim;
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        const QString folder = SimulatedAdapterFolder();
        if (change == QLatin1String("chmod")) {
            QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther | QFileDevice::WriteOther);
        } else if (change == QLatin1String("folder-link")) {
            const QString real = folder + QStringLiteral("-real");
            QVERIFY(QDir().rename(folder, real));
            QVERIFY(QFile::link(real, folder));
        } else {
            const QString plain = sim.RuntimeFolder() + QStringLiteral("/plain");
            QFile file(plain);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QFile::remove(folder + QStringLiteral("/q714-sim-1"));
            QVERIFY(QFile::link(plain, folder + QStringLiteral("/q714-sim-1")));
        }
        QVERIFY(ReadSerialPortMap().isEmpty() ||
                !ReadSerialPortMap().last().portName.startsWith(QLatin1String("q714-sim")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        window.Form().initTimerTimer();
        QVERIFY(!COMPortHandle);
        QVERIFY(sim.Adapter().ReceivedCommands().isEmpty());
    }

    void portHeldElsewhereIsSkipped() {
        SimFixture sim;
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        QSerialPort holder(sim.DevicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        window.Form().initTimerTimer();
        QVERIFY(!COMPortHandle);
        QVERIFY(sim.Adapter().ReceivedCommands().isEmpty());
    }
};

QTEST_MAIN(TestAdapterSearch)
#include "test_adapter_search.moc"
