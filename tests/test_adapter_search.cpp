// Finding the adapter as the window shows it: the candidate ports and their
// natural order, the port and interface labels (blinking while searches
// fail), the controls enabled by a found adapter, the search timer, the tab
// chosen after a search, and that a search never runs inside a search. The
// search and the identity probe themselves are in
// test_workflow_adapter_search.
#include "AdapterSearch.h"
#include "Announcement.h"
#include "SimFixture.h"
#include "SimulatedAdapter.h"
#include "WindowFixture.h"

#include <QLabel>
#include <QPushButton>
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
    }

    void modelStringLaterInTheReplyIsRejected() {
        SimFixture sim;
        sim.Adapter().OverrideReply("v", "xQ714-7R v1.12\r");
        QVERIFY(sim.Announce(QStringLiteral("q714-sim-1")));
        WindowFixture window(QStringLiteral("tester"), WindowFixture::KeepRuntimeFolder);
        TMainForm& form = window.Form();
        form.initTimerTimer();
        QVERIFY(!form.Page->isEnabled());
        QVERIFY(!form.btnPowerOFF->isEnabled());
        QVERIFY(form.initTimer->isActive());
        QCOMPARE(form.initTimer->interval(), 1000);
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
};

QTEST_MAIN(TestAdapterSearch)
#include "test_adapter_search.moc"
