// The update check's pure parts: splitting manifest lines, versions, the
// lines of a downloaded body, which links may be opened, the addresses and
// today's number.
#include "SoftwareUpdateCheck.h"
#include "UpdateManifest.h"
#include "UpdateNetwork.h"

#include <QTest>

class TestUpdateManifest : public QObject {
    Q_OBJECT

private slots:
    void splitQuoted_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QStringList>("fields");
        const QChar semicolon(';');
        QTest::newRow("three") << "a;b;c" << semicolon << QStringList{"a", "b", "c"};
        QTest::newRow("trailing separator")
            << "a;b;c;" << semicolon << QStringList{"a", "b", "c", ""};
        QTest::newRow("empty line") << "" << semicolon << QStringList{""};
        QTest::newRow("quoted separator")
            << "a;\"b;c\";d" << semicolon << QStringList{"a", "\"b;c\"", "d"};
        QTest::newRow("unclosed quote runs to the end")
            << "a;\"b;c;d" << semicolon << QStringList{"a", "\"b;c;d"};
        QTest::newRow("blank separator skips blank fields")
            << "  a  b " << QChar(' ') << QStringList{"a", "b", ""};
        QTest::newRow("empty fields kept with other separators")
            << ";;" << semicolon << QStringList{"", "", ""};
        QTest::newRow("version") << "4.9.0.111" << QChar('.') << QStringList{"4", "9", "0", "111"};
    }

    void splitQuoted() {
        QFETCH(QString, text);
        QFETCH(QChar, separator);
        QFETCH(QStringList, fields);
        QCOMPARE(SplitQuoted(text, separator), fields);
    }

    void splitQuotedCutsFieldsAt255() {
        const QString longField(300, QLatin1Char('k'));
        const QStringList fields = SplitQuoted(longField + ";x;" + longField, QLatin1Char(';'));
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields[0], QString(255, QLatin1Char('k')));
        QCOMPARE(fields[1], QStringLiteral("x"));
        QCOMPARE(fields[2].size(), 255);
    }

    void versionComparison_data() {
        QTest::addColumn<QString>("published");
        QTest::addColumn<bool>("newer");
        QTest::addColumn<bool>("same");
        QTest::newRow("same") << "4.9.0.111" << false << true;
        QTest::newRow("minor 10 beats 9") << "4.10.0.5" << true << false;
        QTest::newRow("older minor, higher build") << "4.8.0.200" << false << false;
        QTest::newRow("major") << "5.0.0.0" << true << false;
        QTest::newRow("build only") << "4.9.0.112" << true << false;
        QTest::newRow("x counts as 0") << "4.9.x.111" << false << true;
        QTest::newRow("x in major") << "x.99.0.0" << false << false;
        QTest::newRow("huge part") << "4.9.0.99999999999" << true << false;
    }

    void versionComparison() {
        QFETCH(QString, published);
        QFETCH(bool, newer);
        QFETCH(bool, same);
        const TOwnVersion own = ParseOwnVersion(QStringLiteral("4.9.0.111"));
        const PublishedVersion numbers =
            PublishedVersionNumbers(SplitQuoted(published, QLatin1Char('.')));
        QCOMPARE(IsNewerVersion(numbers, own), newer);
        QCOMPARE(IsSameVersion(numbers, own), same);
    }

    void ownVersionIsZeroWithoutFourNumbers() {
        const TOwnVersion own = ParseOwnVersion(QStringLiteral("1.2.3.4"));
        QCOMPARE(own.Major, quint16(1));
        QCOMPARE(own.Build, quint16(4));
        for (const char* text : {"", "1.2.3", "1.2.3.x", "1.2.3.70000"}) {
            const TOwnVersion none = ParseOwnVersion(QLatin1String(text));
            QVERIFY2(none.Major == 0 && none.Minor == 0 && none.Release == 0 && none.Build == 0,
                     text);
        }
    }

    void manifestLines_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty body") << QByteArray() << QStringList{};
        QTest::newRow("final line end adds nothing")
            << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("LF and CR") << QByteArray("a\nb\rc") << QStringList{"a", "b", "c"};
        QTest::newRow("empty line kept") << QByteArray("a\n\nb\n") << QStringList{"a", "", "b"};
        QTest::newRow("only a line end") << QByteArray("\n") << QStringList{""};
        QTest::newRow("BOM dropped") << QByteArray("\xEF\xBB\xBF"
                                                   "a")
                                     << QStringList{"a"};
    }

    void manifestLines() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, lines);
        QStringList result;
        QString error;
        QVERIFY(ManifestLines(body, result, error));
        QCOMPARE(result, lines);
    }

    void manifestLinesRefusesWhatIsNoVersionFile_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("over 1 MiB") << QByteArray(MaxManifestBytes + 1, 'a')
                                    << "The version file is larger than 1048576 bytes.";
        QTest::newRow("NUL byte") << QByteArray("a;b;c\n\0\x01\x02", 9)
                                  << "The version file is not a text file.";
        QTest::newRow("not UTF-8")
            << QByteArray("a;\xFF\xFE;c") << "The version file is not a text file.";
        QTest::newRow("too many lines") << QByteArray(MaxManifestLines + 1, '\n')
                                        << "The version file has more than 1000 lines.";
    }

    void manifestLinesRefusesWhatIsNoVersionFile() {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        QStringList lines{"stale"};
        QString message;
        QVERIFY(!ManifestLines(body, lines, message));
        QCOMPARE(message, error);
        QVERIFY(lines.isEmpty());
    }

    void downloadLinks_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << "https://www.norvane.example/dl/setup.zip" << true;
        QTest::newRow("https with port and query") << "https://host.example:8443/a?b=c" << true;
        QTest::newRow("surrounding blanks") << "  https://host.example/a  " << true;
        QTest::newRow("upper-case scheme") << "HTTPS://host/a" << true;
        QTest::newRow("http") << "http://host.example/setup.zip" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("local path") << "/usr/bin/xterm" << false;
        QTest::newRow("program name") << "xterm" << false;
        QTest::newRow("no host") << "https:///setup.zip" << false;
        QTest::newRow("inner blank") << "https://host.example/a b" << false;
        QTest::newRow("control character") << "https://host.example/a\x1b[2Jb" << false;
        QTest::newRow("quoted") << "\"https://host.example/a\"" << false;
        QTest::newRow("empty") << "" << false;
    }

    void downloadLinks() {
        QFETCH(QString, link);
        QFETCH(bool, opened);
        QString refusal;
        const QUrl url = SafeDownloadLink(link, refusal);
        QCOMPARE(!url.isEmpty(), opened);
        QCOMPARE(refusal.isEmpty(), opened);
        if (opened)
            QCOMPARE(url.scheme(), QStringLiteral("https"));
    }

    void addresses() {
        QUrl url;
        QString problem;
        QVERIFY(ParseManifestUrl(DefaultManifestUrl, url, problem));
        QCOMPARE(url.path(), QStringLiteral("/software-manifest.csv"));
        QVERIFY(!ParseManifestUrl(QStringLiteral("http://127.0.0.1/m.csv"), url, problem));
        QVERIFY(problem.contains(QLatin1String("not an https address")));
        QVERIFY(!ParseManifestUrl(QStringLiteral("127.0.0.1/m.csv"), url, problem));

        QList<ProbeAddress> probes;
        QVERIFY(ParseProbeAddresses(DefaultProbeAddresses, probes, problem));
        QCOMPARE(probes.size(), 2);
        QCOMPARE(probes[0].host, QStringLiteral("1.1.1.1"));
        QCOMPARE(probes[1].host, QStringLiteral("8.8.8.8"));
        QCOMPARE(probes[1].port, quint16(53));
        QVERIFY(ParseProbeAddresses(QStringLiteral("localhost:8443"), probes, problem));
        for (const char* bad : {"", "127.0.0.1", "127.0.0.1:0", "127.0.0.1:70000", ":53",
                                "127.0.0.1:53,", "127.0.0.1:x"})
            QVERIFY2(!ParseProbeAddresses(QLatin1String(bad), probes, problem), bad);
    }

    void todayNumber() {
        OverrideTodayDate(QDate(2026, 6, 28));
        QCOMPARE(TodayNumber(), 20260628);
        OverrideTodayDate(QDate(2027, 1, 3));
        QCOMPARE(TodayNumber(), 20270103);
        OverrideTodayDate(QDate());
        QCOMPARE(TodayNumber(), QDate::currentDate().toString("yyyyMMdd").toInt());
    }
};

QTEST_GUILESS_MAIN(TestUpdateManifest)
#include "test_update_manifest.moc"
