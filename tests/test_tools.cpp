// The shared text helpers: every adapter reply passes through them before it
// is shown or parsed.
#include "Orodja.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestTools : public QObject {
    Q_OBJECT

private slots:
    void trimRemovesControlCharactersAtBothEndsOnly() {
        QCOMPARE(TrimText(QByteArray("\x01 \tQ714 7R\r\n")), QByteArray("Q714 7R"));
        QCOMPARE(TrimText(QByteArray(" \r\n")), QByteArray());
        QCOMPARE(TrimText(QByteArray()), QByteArray());
        QCOMPARE(TrimText(QStringLiteral("\r ab c \n")), QStringLiteral("ab c"));
    }

    void keepPrintableDropsInnerControlAndHighBytes() {
        QCOMPARE(KeepPrintable(QByteArray("\r ON\x00 5V\x7f\xff\r\n", 12)), QByteArray("ON 5V"));
        QCOMPARE(KeepPrintable(QByteArray("~ !")), QByteArray("~ !"));
    }

    void keepAlphaNumKeepsOnlyLettersAndDigits() {
        QCOMPARE(KeepAlphaNum(QByteArray(" Q7R-004.17\r")), QByteArray("Q7R00417"));
        QCOMPARE(KeepAlphaNum(QByteArray("\xe9z\r")), QByteArray("z"));
    }

    void intToStrZeroPadsOnlyForWidthsOneToFour() {
        QCOMPARE(IntToStrZero(15, 3), QByteArray("015"));
        QCOMPARE(IntToStrZero(7, 3), QByteArray("007"));
        QCOMPARE(IntToStrZero(900, 3), QByteArray("900"));
        QCOMPARE(IntToStrZero(12345, 3), QByteArray("12345"));
        QCOMPARE(IntToStrZero(5, 4), QByteArray("0005"));
        QCOMPARE(IntToStrZero(5, 5), QByteArray("5"));
        QCOMPARE(IntToStrZero(5, 0), QByteArray("5"));
    }

    void safeFileNamePartsAreNeverHiddenOrPathSteps() {
        QCOMPARE(SafeFileNamePart(QStringLiteral("UX/2\\17:041\x01")), QStringLiteral("UX217041"));
        QCOMPARE(SafeFileNamePart(QStringLiteral(".hidden")), QStringLiteral("hidden"));
        QCOMPARE(SafeFileNamePart(QStringLiteral("..")), QString());
        QCOMPARE(SafeFileNamePart(QStringLiteral(" . .x.y")), QStringLiteral("x.y"));
        QCOMPARE(SafeFileNamePart(QStringLiteral("../..")), QString());
    }

    void delayOfZeroProcessesPendingEventsOnce() {
        bool fired = false;
        QTimer::singleShot(0, this, [&] { fired = true; });
        DelayProcessMessages(0);
        QVERIFY(fired);
    }

    void delayHandlesEventsWhileWaitingAndEndsOnTermination() {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (++ticks == 3)
                SetApplicationTerminating(true);
        });
        ticker.start(5);
        QElapsedTimer clock;
        clock.start();
        DelayProcessMessages(60000);
        SetApplicationTerminating(false);
        QCOMPARE(ticks, 3);
        QVERIFY(clock.elapsed() < 60000);
    }

    void delayWaitsAtLeastTheDuration() {
        QElapsedTimer clock;
        clock.start();
        DelayProcessMessages(30);
        QVERIFY(clock.elapsed() >= 30);
    }

    void simulatorFolderFollowsTheRuntimeFolder() {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", "/run/user/4711");
        QCOMPARE(SimulatedAdapterFolder(), QStringLiteral("/run/user/4711/q714-7r"));
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(SimulatedAdapterFolder(), QStringLiteral("/tmp/q714-7r-%1").arg(CurrentUserId()));
        qputenv("XDG_RUNTIME_DIR", saved);
    }
};

QTEST_GUILESS_MAIN(TestTools)
#include "test_tools.moc"
