// The start-up update check driven through the main window against loopback
// only: a TCP listener stands for the internet probes, a refused port for no
// internet, and the simulated maker's host serves the version file over HTTPS
// with a certificate made for it, trusted for the download alone.
#include "QtUserInteraction.h"
#include "SimulatedUpdateHost.h"
#include "SoftwareUpdateCheck.h"
#include "UpdateNetwork.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCommandLinkButton>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

const QString PreferenceName = QStringLiteral("Tamberlow_for_Q714-7R_Ulvax_UpdateAllowed");
const QString FamilyPreferenceName = QStringLiteral("Tamberlow_UpdateAllowed");
const QByteArray Key = "Tamberlow_for_Q714-7R_Ulvax";
const QByteArray Link = "https://www.norvane.example/dl/Tamberlow.zip";
const QDate Today(2026, 6, 28);
constexpr int TodaysNumber = 20260628;

// Answers to the four-button questions, and to the retry questions.
enum { YesCheck, SkipThisTime, SkipForWeek, NeverAskAgain };
enum { YesRetry, NeverConnectAgain };
constexpr int Closed = -1;

QByteArray manifestLine(const QByteArray& version, const QByteArray& link = Link) {
    return Key + ';' + version + ';' + link + "\r\n";
}

// A port on loopback that refuses connections.
quint16 refusedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// The window of a program at version 4.9.0.111 on 2026-06-28, its update
// check pointed at a loopback "internet" that answers.
struct UpdateWindow {
    UpdateWindow() {
        OverrideOwnVersionText(QStringLiteral("4.9.0.111"));
        window = std::make_unique<WindowFixture>();
        OverrideTodayDate(Today);
        probeTarget.listen(QHostAddress::LocalHost);
        if (!host.Listen())
            qWarning("update host: %s", qPrintable(host.ErrorText()));
        caFile = folder.filePath(QStringLiteral("ca.pem"));
        SimulatedUpdateHost::WriteCaCertificate(caFile);
        sandbox().PointAt(host.Url(), ProbeText(probeTarget.serverPort()), caFile);
    }

    static QString ProbeText(quint16 port) { return QStringLiteral("127.0.0.1:%1").arg(port); }

    UpdateCheckSandbox& sandbox() { return window->UpdateSandbox(); }
    TMainForm& form() { return window->Form(); }
    ScriptedUserInteraction& ui() { return window->interaction; }

    void Publish(const QByteArray& manifest) { host.SetManifest(manifest); }
    void Answer(std::initializer_list<int> answers) {
        for (int answer : answers)
            ui().taskAnswers.enqueue(answer);
    }
    void StorePreference(qint32 value) { sandbox().Store(PreferenceName, value); }
    QVariant Preference() { return sandbox().Stored(PreferenceName); }

    // The start-up timer's work, as it fires.
    QStringList RunCheck() {
        form().ClearMemo();
        form().tmrStartupTimerTimer();
        return Statuses();
    }
    QStringList Statuses() const {
        const QString text = window->Form().Memo1->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    QStringList TaskCaptions() const {
        QStringList captions;
        for (const TaskDialogRequest& request : window->interaction.taskRequests)
            captions << request.title;
        return captions;
    }

    QTemporaryDir folder;
    QString caFile;
    QTcpServer probeTarget;
    SimulatedUpdateHost host;
    std::unique_ptr<WindowFixture> window;
};

const QStringList CheckUpToAnalysis = {
    "Update: Reading perferences...", "", "Update: Checking internet connection...",
    "Update: Downloading version file...", "Update: Analyzing version file..."};

QStringList checkedWith(const QStringList& last) {
    return CheckUpToAnalysis + last;
}

} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QSslSocket::supportsSsl(),
                 "Qt's TLS backend is missing (libqt6network6's OpenSSL plugin, libssl3)");
    }

    void everyTestWindowLooksOnlyAtLoopback() {
        WindowFixture window;
        const UpdateAddresses addresses = ReadUpdateAddresses();
        QVERIFY(QHostAddress(addresses.manifest.host()).isLoopback());
        QCOMPARE(addresses.probes.size(), 2);
        for (const ProbeAddress& probe : addresses.probes)
            QVERIFY(QHostAddress(probe.host).isLoopback());
    }

    // --- The first start, the question and the preference ---

    void firstStartAsksOnceThenChecksAtMostDaily() {
        UpdateWindow w;
        w.Publish(manifestLine("4.9.0.111"));
        w.Answer({YesCheck});
        const QStringList statuses = w.RunCheck();
        QCOMPARE(
            statuses,
            QStringList({"Update: Reading perferences...", "Update: perferences not defined", "",
                         "Update: Checking internet connection...",
                         "Update: Downloading version file...", "Update: Analyzing version file...",
                         "Update: This is the latest version."}));
        QCOMPARE(w.form().lblSoftwareUpdateStatus1->text(),
                 QStringLiteral("Update: This is the latest version."));
        QCOMPARE(w.ui().taskRequests.size(), 1);
        const TaskDialogRequest& question = w.ui().taskRequests[0];
        QCOMPARE(question.title, QStringLiteral("Tamberlow: Software update?"));
        QCOMPARE(question.mainText, QStringLiteral("Check for a new Tamberlow software version?"));
        QCOMPARE(question.content,
                 QStringLiteral("Is it allowed to connect to the internet to check if a new "
                                "software version is available?"));
        QCOMPARE(question.icon, TaskIcon::Information);
        QCOMPARE(question.buttons, QStringList({"Yes, check", "Skip this time", "Skip for 1 week",
                                                "Never ask again"}));
        QCOMPARE(w.host.RequestedPaths(), QStringList{SimulatedUpdateHost::ManifestPath});
        QCOMPARE(w.Preference().toInt(), TodaysNumber);

        // A second start the same day: no question, no network.
        QCOMPARE(w.RunCheck(),
                 QStringList({"Update: Reading perferences...", "", "Update check skipped."}));
        QCOMPARE(w.ui().taskRequests.size(), 1);
        QCOMPARE(w.host.RequestedPaths().size(), 1);
    }

    void answersToTheFirstQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("skip this time") << int(SkipThisTime) << QVariant();
        QTest::newRow("skip for 1 week on 2026-06-28") << int(SkipForWeek) << QVariant(20260635);
        QTest::newRow("never ask again") << int(NeverAskAgain) << QVariant(0);
        QTest::newRow("closed without a button") << Closed << QVariant();
    }

    void answersToTheFirstQuestion() {
        QFETCH(int, answer);
        QFETCH(QVariant, stored);
        UpdateWindow w;
        w.Answer({answer});
        QCOMPARE(w.RunCheck(),
                 QStringList({"Update: Reading perferences...", "Update: perferences not defined",
                              "", "Update check skipped."}));
        QCOMPARE(w.Preference().isValid(), stored.isValid());
        if (stored.isValid())
            QCOMPARE(w.Preference().toInt(), stored.toInt());
        QVERIFY(w.host.RequestedPaths().isEmpty());
    }

    void storedPreferenceDecidesWhetherToCheck_data() {
        QTest::addColumn<int>("preference");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<bool>("checks");
        QTest::newRow("1") << 1 << Today << true;
        QTest::newRow("0 never") << 0 << Today << false;
        QTest::newRow("20260101 is no date") << 20260101 << QDate(2027, 5, 5) << false;
        QTest::newRow("20260102 on 20260103") << 20260102 << QDate(2026, 1, 3) << true;
        QTest::newRow("today's number") << TodaysNumber << Today << false;
        QTest::newRow("a week's skip, 3 days on") << 20260635 << QDate(2026, 6, 30) << false;
        QTest::newRow("a week's skip, next month") << 20260635 << QDate(2026, 7, 1) << true;
        QTest::newRow("other value 2") << 2 << Today << false;
        QTest::newRow("other value -5") << -5 << Today << false;
    }

    void storedPreferenceDecidesWhetherToCheck() {
        QFETCH(int, preference);
        QFETCH(QDate, today);
        QFETCH(bool, checks);
        UpdateWindow w;
        OverrideTodayDate(today);
        w.StorePreference(preference);
        w.Publish(manifestLine("4.9.0.111"));
        const QStringList statuses = w.RunCheck();
        QVERIFY(w.ui().taskRequests.isEmpty());
        if (checks)
            QCOMPARE(statuses, checkedWith({"Update: This is the latest version."}));
        else
            QCOMPARE(statuses,
                     QStringList({"Update: Reading perferences...", "", "Update check skipped."}));
    }

    // --- The version file ---

    void publishedVersions_data() {
        QTest::addColumn<QByteArray>("published");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("offered");
        QTest::newRow("same") << QByteArray("4.9.0.111") << "Update: This is the latest version."
                              << false;
        QTest::newRow("4.10.0.5") << QByteArray("4.10.0.5") << "Update: Newer software is available"
                                  << true;
        QTest::newRow("4.8.0.200")
            << QByteArray("4.8.0.200")
            << "Update: There is no newer version. Latest published is 4.8.0.200" << false;
        QTest::newRow("5.0.0.0") << QByteArray("5.0.0.0") << "Update: Newer software is available"
                                 << true;
        QTest::newRow("part x counts as 0")
            << QByteArray("4.x.0.0")
            << "Update: There is no newer version. Latest published is 4.x.0.0" << false;
        QTest::newRow("markup stays text")
            << QByteArray("<b>4</b>.1.0.0")
            << "Update: There is no newer version. Latest published is <b>4</b>.1.0.0" << false;
    }

    void publishedVersions() {
        QFETCH(QByteArray, published);
        QFETCH(QString, status);
        QFETCH(bool, offered);
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine(published));
        w.Answer({SkipThisTime});
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.mid(0, CheckUpToAnalysis.size() + 1), checkedWith({status}));
        QCOMPARE(w.ui().taskRequests.size(), offered ? 1 : 0);
        QCOMPARE(w.Preference().toInt(), TodaysNumber);
        if (!offered)
            QCOMPARE(w.form().lblSoftwareUpdateStatus1->text(), status);
        QCOMPARE(w.form().lblSoftwareUpdateStatus1->textFormat(), Qt::PlainText);
    }

    void versionOfThreePartsIsWrongFormat() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("4.9.0"));
        QCOMPARE(w.RunCheck(), checkedWith({"Update: Wrong version format."}));
        QCOMPARE(w.Preference().toInt(), 1);
    }

    void everyLineIsAnalysedInOrder() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish("program key;version;download link;\r\n"
                  "\r\n"
                  "Other_program;9.9.9.9;https://host.example/other\r\n" +
                  manifestLine("5.0.0.0") + "a;b\r\n" + manifestLine("4.8.0.200") +
                  manifestLine("6.0.0.0", "https://host.example/second"));
        w.Answer({SkipThisTime, YesCheck});
        QCOMPARE(w.RunCheck(),
                 checkedWith({"Update: Wrong file format.", "Update: Wrong file format.",
                              "Update: Newer software is available", "Update skipped.",
                              "Update: Wrong file format.",
                              "Update: There is no newer version. Latest published "
                              "is 4.8.0.200",
                              "Update: Newer software is available"}));
        QCOMPARE(w.ui().openedLinks, QList<QUrl>{QUrl("https://host.example/second")});
        QCOMPARE(w.ui().taskRequests.size(), 2);
    }

    void headerLineOnlyMeansProgramNotFound() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish("program key;version;download link;\r\n"
                  "Other_program;9.9.9.9;https://host.example/other\r\n");
        QCOMPARE(w.RunCheck(), checkedWith({"Update: Wrong file format.",
                                            "Update: Program name not found on the list."}));
        QCOMPARE(w.Preference().toInt(), 1);
    }

    void quotedFieldsAndLongFields() {
        UpdateWindow w;
        w.StorePreference(1);
        const QByteArray longLink = "https://host.example/" + QByteArray(300, 'a');
        w.Publish("\"Tamberlow_for_Q714-7R_Ulvax;beta\";4.9.0.111;x\r\n" + Key +
                  QByteArray(300, 'z') + ";5.0.0.0;" + longLink + "\r\n");
        w.Answer({YesCheck});
        QCOMPARE(w.RunCheck(), checkedWith({"Update: This is the latest version.",
                                            "Update: Newer software is available"}));
        QCOMPARE(w.ui().openedLinks.size(), 1);
        QCOMPARE(w.ui().openedLinks[0].toString().size(), 255);
    }

    // --- The newer version's question and the download link ---

    void answersToTheNewVersionQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("download") << int(YesCheck) << TodaysNumber << false;
        QTest::newRow("skip this time") << int(SkipThisTime) << TodaysNumber << true;
        QTest::newRow("skip for 1 week") << int(SkipForWeek) << 20260635 << true;
        QTest::newRow("never ask again") << int(NeverAskAgain) << 0 << true;
        QTest::newRow("closed") << Closed << TodaysNumber << true;
    }

    void answersToTheNewVersionQuestion() {
        QFETCH(int, answer);
        QFETCH(int, stored);
        QFETCH(bool, skipped);
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("4.10.0.5"));
        w.Answer({answer});
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.last(), skipped ? QStringLiteral("Update skipped.")
                                          : QStringLiteral("Update: Newer software is available"));
        QCOMPARE(w.Preference().toInt(), stored);
        const TaskDialogRequest& question = w.ui().taskRequests.value(0);
        QCOMPARE(question.title, QStringLiteral("Tamberlow: New version found"));
        QCOMPARE(question.mainText, QStringLiteral("New Tamberlow app version is available."));
        QCOMPARE(question.content, QStringLiteral("Do you want to download it?"));
        QCOMPARE(question.icon, TaskIcon::Information);
        QCOMPARE(question.buttons, QStringList({"Yes, download", "Skip this time",
                                                "Skip for 1 week", "Never ask again"}));
        QCOMPARE(w.ui().openedLinks.size(), skipped ? 0 : 1);
    }

    void onlyHttpsLinksToAHostAreOpened_data() {
        QTest::addColumn<QByteArray>("link");
        QTest::newRow("file") << QByteArray("file:///etc/passwd");
        QTest::newRow("javascript") << QByteArray("javascript:alert(1)");
        QTest::newRow("local path") << QByteArray("/usr/bin/xterm");
        QTest::newRow("program name") << QByteArray("xterm");
        QTest::newRow("http") << QByteArray("http://www.norvane.example/dl/Tamberlow.zip");
        QTest::newRow("control character") << QByteArray("https://host.example/a\tb");
    }

    void onlyHttpsLinksToAHostAreOpened() {
        QFETCH(QByteArray, link);
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("5.0.0.0", link));
        w.Answer({YesCheck});
        const QStringList statuses = w.RunCheck();
        QVERIFY(w.ui().openedLinks.isEmpty());
        QCOMPARE(statuses.size(), CheckUpToAnalysis.size() + 3);
        QVERIFY2(statuses.at(statuses.size() - 2)
                     .startsWith(QLatin1String("Update: The download link was not opened: ")),
                 qPrintable(statuses.join('|')));
        QCOMPARE(statuses.last(), QStringLiteral("Update skipped."));
        QCOMPARE(w.Preference().toInt(), TodaysNumber);
    }

    void browserFailureEndsTheCheck() {
        UpdateWindow w;
        w.StorePreference(1);
        w.ui().linksOpen = false;
        w.Publish(manifestLine("5.0.0.0") + manifestLine("4.9.0.111"));
        w.Answer({YesCheck});
        QCOMPARE(w.RunCheck(), checkedWith({"Update: Newer software is available"}));
        QCOMPARE(w.ui().errors, QStringList{"Could not open the default web browser."});
        QCOMPARE(w.Preference().toInt(), TodaysNumber);
    }

    // --- Network failures ---

    void noInternetAsksWhetherToRetry_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("stored");
        QTest::newRow("yes, retry") << int(YesRetry) << 1;
        QTest::newRow("never connect again") << int(NeverConnectAgain) << 0;
        QTest::newRow("closed") << Closed << 1;
    }

    void noInternetAsksWhetherToRetry() {
        QFETCH(int, answer);
        QFETCH(int, stored);
        UpdateWindow w;
        w.StorePreference(1);
        const QString refused = UpdateWindow::ProbeText(refusedPort());
        w.sandbox().SetProbes(refused + QLatin1Char(',') + refused);
        w.Answer({answer});
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.mid(0, 3), CheckUpToAnalysis.mid(0, 3));
        QCOMPARE(statuses.size(), 6);
        for (int probe : {3, 4})
            QCOMPARE(statuses[probe], QStringLiteral("Check internet: Connection refused"));
        QCOMPARE(statuses[5], QStringLiteral("Update: No access to the internet!"));
        const TaskDialogRequest& question = w.ui().taskRequests.value(0);
        QCOMPARE(question.title, QStringLiteral("Tamberlow: No access to the internet"));
        QCOMPARE(question.mainText, QStringLiteral("Unable to connect to the internet."));
        QCOMPARE(question.content, QStringLiteral("Should we retry next time?"));
        QCOMPARE(question.icon, TaskIcon::Warning);
        QCOMPARE(question.buttons,
                 QStringList({"Yes, retry", "Never connect to the internet again"}));
        QCOMPARE(w.Preference().toInt(), stored);
        QVERIFY(w.host.RequestedPaths().isEmpty());
    }

    void secondProbeIsTriedWhenTheFirstFails() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("4.9.0.111"));
        w.sandbox().SetProbes(UpdateWindow::ProbeText(refusedPort()) + QLatin1Char(',') +
                              UpdateWindow::ProbeText(w.probeTarget.serverPort()));
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.count(QStringLiteral("Check internet: Connection refused")), 1);
        QCOMPARE(statuses.last(), QStringLiteral("Update: This is the latest version."));
    }

    void downloadFailures_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("404") << 404 << QByteArray("Not Found") << QByteArray()
                             << "Error 404: Not Found";
        QTest::newRow("500 with a body")
            << 500 << QByteArray("Internal Server Error") << manifestLine("4.9.0.111")
            << "Error 500: Internal Server Error";
        QTest::newRow("oversized")
            << 200 << QByteArray("OK") << QByteArray(MaxManifestBytes + 1, 'a')
            << "The version file is larger than 1048576 bytes.";
        QTest::newRow("binary") << 200 << QByteArray("OK")
                                << QByteArray("\x7f"
                                              "ELF\0\0\x01",
                                              7)
                                << "The version file is not a text file.";
    }

    void downloadFailures() {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        UpdateWindow w;
        w.StorePreference(1);
        UpdateHostReply reply;
        reply.status = status;
        reply.reason = reason;
        reply.body = body;
        w.host.SetReply(SimulatedUpdateHost::ManifestPath, reply);
        w.Answer({NeverConnectAgain});
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.mid(3),
                 QStringList({"Update: Downloading version file...", "Download file: " + error,
                              "Update: Downloading version file failed!"}));
        const TaskDialogRequest& question = w.ui().taskRequests.value(0);
        QCOMPARE(question.title, QStringLiteral("Tamberlow: Internet connection failed"));
        QCOMPARE(question.mainText, QStringLiteral("Unable to load the version file."));
        QCOMPARE(question.content, QStringLiteral("Should we retry next time?"));
        QCOMPARE(question.icon, TaskIcon::Warning);
        QCOMPARE(w.Preference().toInt(), 0);
    }

    void untrustedCertificateFailsTheDownload() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("4.9.0.111"));
        w.sandbox().SetTrustedCaFile(QString());
        const QStringList statuses = w.RunCheck();
        QCOMPARE(statuses.size(), 6);
        QVERIFY2(statuses[4].startsWith(QLatin1String("Download file: ")) &&
                     statuses[4].contains(QLatin1String("certificate"), Qt::CaseInsensitive),
                 qPrintable(statuses[4]));
        QCOMPARE(statuses[5], QStringLiteral("Update: Downloading version file failed!"));
        QVERIFY(w.host.RequestedPaths().isEmpty()); // nothing was sent over the bad channel
    }

    void unusableTrustFileFailsTheDownload() {
        UpdateWindow w;
        w.StorePreference(1);
        w.sandbox().SetTrustedCaFile(w.folder.filePath(QStringLiteral("missing.pem")));
        const QStringList statuses = w.RunCheck();
        QVERIFY2(statuses.value(4).startsWith(QLatin1String("Download file: No certificates in ")),
                 qPrintable(statuses.join('|')));
    }

    void redirects_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("followed");
        QTest::newRow("https followed") << "https" << true;
        QTest::newRow("http refused") << "http" << false;
    }

    void redirects() {
        QFETCH(QString, scheme);
        QFETCH(bool, followed);
        UpdateWindow w;
        w.StorePreference(1);
        UpdateHostReply moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.location =
            QStringLiteral("%1://127.0.0.1:%2/moved.csv").arg(scheme).arg(w.host.Port()).toUtf8();
        w.host.SetReply(SimulatedUpdateHost::ManifestPath, moved);
        UpdateHostReply manifest;
        manifest.body = manifestLine("4.9.0.111");
        w.host.SetReply(QStringLiteral("/moved.csv"), manifest);
        const QStringList statuses = w.RunCheck();
        if (followed) {
            QCOMPARE(statuses.last(), QStringLiteral("Update: This is the latest version."));
            QCOMPARE(w.host.RequestedPaths(),
                     QStringList({SimulatedUpdateHost::ManifestPath, "/moved.csv"}));
        } else {
            QCOMPARE(statuses.value(4), "Download file: Redirect to a non-https address refused: " +
                                            QString::fromUtf8(moved.location));
            QCOMPARE(w.host.RequestedPaths(), QStringList{SimulatedUpdateHost::ManifestPath});
        }
    }

    void silentServersTimeOut() {
        UpdateWindow w;
        w.StorePreference(1);
        UpdateNetworkTimeouts.responseMs = 300; // the handshake keeps its 10 s
        UpdateHostReply silent;
        silent.silent = true;
        w.host.SetReply(SimulatedUpdateHost::ManifestPath, silent);
        QCOMPARE(w.RunCheck().value(4),
                 QStringLiteral("Download file: The server did not answer in time"));

        // A port that accepts the connection but never starts TLS.
        UpdateNetworkTimeouts.connectionMs = 300;
        const QString probes = UpdateWindow::ProbeText(w.probeTarget.serverPort());
        w.sandbox().PointAt(
            QUrl(QStringLiteral("https://127.0.0.1:%1/m.csv").arg(w.probeTarget.serverPort())),
            probes, w.caFile);
        QCOMPARE(w.RunCheck().value(4),
                 QStringLiteral("Download file: Connection to the server timed out"));
    }

    void unusableAddressesNeverFallBackToTheDefaults() {
        UpdateWindow w;
        w.StorePreference(1);
        w.sandbox().SetProbes(QStringLiteral("nonsense"));
        QStringList statuses = w.RunCheck();
        QVERIFY(statuses.value(3).startsWith(
            QLatin1String("Check internet: The probe addresses are not host:port")));
        QCOMPARE(statuses.value(4), QStringLiteral("Update: No access to the internet!"));

        w.sandbox().PointAt(QUrl(QStringLiteral("http://127.0.0.1:9/m.csv")),
                            UpdateWindow::ProbeText(w.probeTarget.serverPort()), w.caFile);
        statuses = w.RunCheck();
        QVERIFY2(statuses.value(4).startsWith(
                     QLatin1String("Download file: The manifest address is not an https")),
                 qPrintable(statuses.join('|')));
    }

    // The network side is a module loaded when the check runs: without it
    // the check says why and reaches nothing; with it back, the check works.
    void missingNetworkModuleFailsTheCheckWithTheReason() {
        UpdateWindow w;
        w.StorePreference(1);
        w.Publish(manifestLine("4.9.0.111"));
        const QString moduleBesideTheProgram = UpdateTransferModulePath();
        QVERIFY(QFile::exists(moduleBesideTheProgram));
        OverrideUpdateTransferModulePath(QDir::temp().filePath(QStringLiteral("no/such.so")));
        w.Answer({YesRetry});
        QStringList statuses = w.RunCheck();
        OverrideUpdateTransferModulePath(QString());
        const qsizetype noAccess = statuses.indexOf(u"Update: No access to the internet!"_qs);
        QCOMPARE(noAccess, statuses.size() - 1);
        QVERIFY(noAccess > 3);
        for (qsizetype probe = 3; probe < noAccess; ++probe)
            QVERIFY2(statuses[probe].startsWith(QLatin1String(
                         "Check internet: The update check's network module cannot be used: ")),
                     qPrintable(statuses[probe]));
        QVERIFY(statuses[3].contains(QLatin1String("no/such.so")));
        QVERIFY(w.host.RequestedPaths().isEmpty());

        QCOMPARE(UpdateTransferModulePath(), moduleBesideTheProgram);
        statuses = w.RunCheck();
        QCOMPARE(statuses.last(), QStringLiteral("Update: This is the latest version."));
    }

    // --- The window's side ---

    void settingsThatCannotBeWrittenGiveTheMessage() {
        UpdateWindow w;
        w.sandbox().MakeSettingsUnwritable();
        w.Answer({NeverAskAgain});
        w.RunCheck();
        QCOMPARE(w.ui().messages,
                 QStringList{"Failed to create or open the registry key for writing."});
    }

    void enableButtonBeforeTheCheckUsesTheFamilyName() {
        UpdateWindow w;
        w.StorePreference(0);
        w.form().btnEnableUpdateCheck->click();
        QCOMPARE(w.sandbox().Stored(FamilyPreferenceName).toInt(), -1);
        QCOMPARE(w.Preference().toInt(), 0);
        QVERIFY(w.form().Memo1->toPlainText().isEmpty());
        QCOMPARE(w.form().lblSoftwareUpdateStatus1->text(), QStringLiteral("(SW update status)"));
    }

    void enableButtonAfterTheCheckAsksAgainNextTime() {
        UpdateWindow w;
        w.StorePreference(0);
        QCOMPARE(w.RunCheck().last(), QStringLiteral("Update check skipped."));
        w.form().ClearMemo();
        w.form().btnEnableUpdateCheck->click();
        QCOMPARE(w.Preference().toInt(), -1);
        QCOMPARE(w.Statuses(), QStringList{"Update: Setting perferences."});
        w.Answer({SkipThisTime});
        QCOMPARE(w.RunCheck().value(1), QStringLiteral("Update: perferences not defined"));
    }

    void statusesShowAtOnceWhileReadingHoldsTheMemoBack() {
        UpdateWindow w;
        w.StorePreference(0);
        w.form().DisplayDeferred = true;
        QCOMPARE(w.RunCheck().last(), QStringLiteral("Update check skipped."));
    }

    void realTaskDialogStacksTheButtonsInOrder() {
        const TaskDialogRequest request{QStringLiteral("Tamberlow: Software update?"),
                                        QStringLiteral("Check?"),
                                        QStringLiteral("<b>plain</b>"),
                                        {"Yes, check", "Skip this time", "Skip for 1 week"},
                                        TaskIcon::Information};
        QStringList captions;
        QString title;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            QList<QCommandLinkButton*> buttons = dialog->findChildren<QCommandLinkButton*>();
            std::sort(buttons.begin(), buttons.end(),
                      [](auto* a, auto* b) { return a->y() < b->y(); });
            for (auto* button : buttons)
                captions << button->text();
            buttons.value(1)->click();
        });
        QtUserInteraction real;
        QCOMPARE(real.askTask(request), 1);
        QCOMPARE(title, request.title);
        QCOMPARE(captions, request.buttons);

        QTimer::singleShot(0, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject(); // closed without a button
        });
        QCOMPARE(real.askTask(request), -1);
    }

    void startupTimerRunsTheCheckOnce() {
        UpdateWindow w;
        w.StorePreference(0);
        TMainForm& form = w.form();
        QVERIFY(!form.tmrStartupTimer->isActive());
        form.tmrStartupTimer->start(1);
        QTRY_VERIFY(form.Memo1->toPlainText().contains(QLatin1String("Update check skipped.")));
        QVERIFY(!form.tmrStartupTimer->isActive());
        QCOMPARE(ProgramKey, QStringLiteral("Tamberlow_for_Q714-7R_Ulvax"));
    }
};

QTEST_MAIN(TestUpdateCheck)
#include "test_update_check.moc"
