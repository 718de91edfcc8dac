// Finding the adapter: which ports are tried in which order, which identity
// is accepted, what the window shows, and a search after a broken link.
#include "AdapterSearch.h"
#include "Announcement.h"
#include "PtySimulator.h"
#include "SimFixture.h"
#include "SimulatedAdapter.h"
#include "WindowFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QTabWidget>
#include <QTest>

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

    void versionArrivingAfterSevenBytesStartsTheSerialReply() {
        SimFixture sim;
        FaultSettings split;
        split.splitParts = 2;
        split.splitGapMs = 150;
        sim.Server().SetFaults(split);
        sim.Adapter().OverrideReply("r", QByteArray(1, '\0'));
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QCOMPARE(form.Q714Version, QByteArray("Q714-7R"));
        QCOMPARE(form.Q714VerzijaFW, 0);
        QCOMPARE(form.SerijskaQ714, QByteArray("v112"));
        QCOMPARE(form.Q714RevizijaFW, 57);
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
