// Code length of the ring and the air-gap coefficients K and N.
#include "InstallationCoefficients.h"

#include <QTest>

class TestInstallationCoefficients : public QObject {
    Q_OBJECT

private slots:
    void codeLengthFromTheRingCode_data() {
        QTest::addColumn<QByteArray>("partNumber");
        QTest::addColumn<int>("codeLength");
        QTest::newRow("JW") << QByteArray("JW306KTM17BGWV00") << 9;
        QTest::newRow("JY") << QByteArray("JY100") << 9;
        QTest::newRow("RX731") << QByteArray("RX731AB") << 9;
        QTest::newRow("RX746") << QByteArray("RX746") << 9;
        QTest::newRow("RX712") << QByteArray("RX712") << 7;
        QTest::newRow("RX718") << QByteArray("RX718") << 7;
        QTest::newRow("RX705") << QByteArray("RX705") << 6;
        QTest::newRow("RX702") << QByteArray("RX702") << 6;
        QTest::newRow("JV4") << QByteArray("JV4AA") << 5;
        QTest::newRow("JV5 unknown") << QByteArray("JV5AA") << 8;
        QTest::newRow("RX7 short") << QByteArray("RX7") << 8;
        QTest::newRow("empty") << QByteArray() << 8;
    }

    void codeLengthFromTheRingCode() {
        QFETCH(QByteArray, partNumber);
        QFETCH(int, codeLength);
        QCOMPARE(CodeLengthOfRing(partNumber), codeLength);
    }

    void baseValuesAreTheExactDoubles() {
        const auto c9 = InstallationCoefficientsFor({9, 2, 8, 2, "JW306"});
        QCOMPARE(c9.K, -70.29343054633806);
        QCOMPARE(c9.N, 735.0);
        const auto c5 = InstallationCoefficientsFor({5, 2, 8, 2, "JV4"});
        QCOMPARE(c5.K, -119.3662073189215);
        QCOMPARE(c5.N, 1236.0);
    }

    void firmware29MovesNOfShorterCodes_data() {
        QTest::addColumn<int>("codeLength");
        QTest::addColumn<int>("minor");
        QTest::addColumn<double>("n");
        QTest::newRow("7 at 2.8") << 7 << 8 << 846.1;
        QTest::newRow("7 at 2.9") << 7 << 9 << 865.0;
        QTest::newRow("6 at 2.9") << 6 << 9 << 950.0;
        QTest::newRow("8 at 2.12") << 8 << 12 << 748.0;
        QTest::newRow("9 at 2.9 unchanged") << 9 << 9 << 735.0;
        QTest::newRow("5 at 2.9 unchanged") << 5 << 9 << 1236.0;
    }

    void firmware29MovesNOfShorterCodes() {
        QFETCH(int, codeLength);
        QFETCH(int, minor);
        QFETCH(double, n);
        const auto c = InstallationCoefficientsFor({codeLength, 2, quint32(minor), 2, "RX"});
        QCOMPARE(c.N, n);
        QVERIFY(!c.extendedAirGap);
    }

    void firmware4KeepsOnlyTheWideRing() {
        const auto c9 = InstallationCoefficientsFor({9, 4, 0, 6, "JW306KTM17BGWV00"});
        QCOMPARE(c9.K, -71.6197243913529);
        QCOMPARE(c9.N, 755.0);
        const auto c6 = InstallationCoefficientsFor({6, 4, 0, 6, "RX705xxxxxxDxxxx"});
        QCOMPARE(c6.K, 0.0);
        QCOMPARE(c6.N, 0.0);
    }

    void type5WithWideRing() {
        const auto c = InstallationCoefficientsFor({9, 2, 9, 5, "JW"});
        QCOMPARE(c.K, -71.6197243913529);
        QCOMPARE(c.N, 749.0);
    }

    void extendedAirGapByTwelfthLetterOnFirmware4() {
        const auto s = InstallationCoefficientsFor({8, 4, 1, 6, "RX800xxxxxxSxxxx"});
        QVERIFY(s.extendedAirGap);
        QCOMPARE(s.K, -361.7);
        QCOMPARE(s.N, 2885.0);
        const auto d = InstallationCoefficientsFor({8, 4, 1, 6, "RX800xxxxxxDxxxx"});
        QVERIFY(!d.extendedAirGap);
        QCOMPARE(d.K, 0.0);
        const auto firmware2 = InstallationCoefficientsFor({8, 2, 9, 2, "RX800xxxxxxSxxxx"});
        QVERIFY(!firmware2.extendedAirGap);
        const auto shortPart = InstallationCoefficientsFor({8, 4, 1, 6, "RX800xxxxxx"});
        QVERIFY(!shortPart.extendedAirGap);
    }
};

QTEST_GUILESS_MAIN(TestInstallationCoefficients)
#include "test_installation_coefficients.moc"
