// The serial channel against the simulated adapter on a real pseudo-terminal:
// the completion rule, stale and late bytes, time-outs, the missing port and
// a device that vanishes mid-exchange.
#include "PtySimulator.h"
#include "Serial_driver.h"
#include "SimFixture.h"
#include "SimulatedAdapter.h"

#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <thread>

class TestSerialChannel : public QObject {
    Q_OBJECT

    std::unique_ptr<SimFixture> sim;

    QByteArray exchange(const QByteArray& command, qint32 expectedLength, qint32 expectedResult) {
        QByteArray reply;
        const qint32 result = SerialTransaction(COMPortHandle, command, expectedLength, reply);
        [&] { QCOMPARE(result, expectedResult); }();
        return reply;
    }

private slots:
    void init() {
        ResetSerialDriverState();
        sim = std::make_unique<SimFixture>();
        QVERIFY(sim->OpenChannel());
    }

    void cleanup() {
        sim.reset();
        ResetSerialDriverState();
    }

    void expectedLengthTakesTheWholeBurst() {
        sim->Adapter().OverrideReply("v", "Q714-7R v1.1"); // 12 bytes, one write
        QCOMPARE(exchange("v", 7, 0), QByteArray("Q714-7R v1.1"));
    }

    void bytesAfterTheCarriageReturnStayInTheReply() {
        sim->Adapter().OverrideReply("o", "OK\rX");
        QCOMPARE(exchange("o", 0, 0), QByteArray("OK\rX"));
    }

    void replySplitOverSeveralWritesArrivesWhole() {
        FaultSettings faults;
        faults.splitParts = 4;
        faults.splitGapMs = 20;
        sim->Server().SetFaults(faults);
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
    }

    // The rule for an expected length: the exchange ends at 7 bytes,
    // and what follows in time is taken for the next command's reply. The
    // identity probe therefore takes its whole line (next test).
    void bytesAfterTheExpectedLengthBeginTheNextReply() {
        FaultSettings split;
        split.splitParts = 2; // "Q714-7R" first, " v1.12\r" 50 ms later
        split.splitGapMs = 50;
        sim->Server().SetFaults(split);
        sim->Adapter().OverrideReply("v", "Q714-7R v1.12\r");
        QCOMPARE(exchange("v", 7, 0), QByteArray("Q714-7R"));
        sim->Server().SetFaults(FaultSettings());
        const QByteArray next = exchange("r", 0, 0);
        QVERIFY2(next.startsWith(" v1.12\r"), next.constData());
    }

    void lineExchangeTakesTheWholeLineInPieces() {
        FaultSettings split;
        split.splitParts = 3;
        split.splitGapMs = 30;
        sim->Server().SetFaults(split);
        QByteArray reply;
        QCOMPARE(SerialLineTransaction(COMPortHandle, "v", 7, reply), 0);
        QCOMPARE(reply, QByteArray("Q714-7R v1.12\r"));
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));

        // A line that never ends is still judged by the bytes that came.
        sim->Adapter().OverrideReply("v", "Q714-7R v1");
        QCOMPARE(SerialLineTransaction(COMPortHandle, "v", 7, reply), 0);
        QCOMPARE(reply, QByteArray("Q714-7R v1"));
        sim->Adapter().OverrideReply("v", "Q71");
        QCOMPARE(SerialLineTransaction(COMPortHandle, "v", 7, reply), SerialResultTimeout);
    }

    // Bytes waiting before a command is written cannot be its reply.
    void bytesWaitingBeforeTheCommandAreDroppedAndLogged() {
        CommLogEnabled = true;
        sim->Server().SendRaw("stale\r57\r");
        QTest::qWait(50);
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
        QVERIFY2(CommLogText.startsWith("RX (late, discarded):stale\r57\r\r\nTX:r\r\n"),
                 CommLogText.constData());
    }

    // A reply that comes after its time-out, while the next command already
    // waits, is owed: it is dropped there, and the next command gets its own
    // reply without waiting for the line to fall quiet.
    void lateReplyIsDroppedWhereverItArrives() {
        FaultSettings late;
        late.lateReplyEvery = 1;
        late.lateReplyMs = 600;
        sim->Server().SetFaults(late);
        CommLogEnabled = true;
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray());
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
        QVERIFY2(CommLogText.contains("TX:o\r\nRX (late, discarded):Q7R00417\r\r\nRX:57\r\r\n"),
                 CommLogText.constData());
    }

    // An adapter that falls behind by more than one time-out owes a reply
    // for every command that timed out: they queue, and none of them is
    // taken for a later command.
    void repliesOfAnAdapterThatFellBehindAreNotTakenForLaterCommands() {
        FaultSettings late;
        late.lateReplyEvery = 1;
        late.lateReplyMs = 1000;
        sim->Server().SetFaults(late);
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray());
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("o", 0, SerialResultTimeout), QByteArray()); // queued behind "r"
        QCOMPARE(exchange("v", 0, 0), QByteArray("Q714-7R v1.12\r"));
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
    }

    // With a retry (q714's setting) a late reply costs one exchange, not the
    // command: it goes out again, the late line is dropped when it comes, and
    // the second answer is the reply. A silent adapter still times out, and
    // the identity probe is never repeated.
    void aRetryAfterATimeOutTakesTheSecondAnswer() {
        SerialTimeoutRetries = 1;
        FaultSettings late;
        late.lateReplyEvery = 2;
        late.lateReplyMs = 600;
        sim->Server().SetFaults(late);
        CommLogEnabled = true;
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
        QCOMPARE(sim->Adapter().ReceivedCommands().count("r"), 2);
        QVERIFY2(CommLogText.contains("TX:r\r\nRX:\r\nTX:r\r\nRX (late, discarded):Q7R00417\r"),
                 CommLogText.constData());
        QCOMPARE(exchange("v", 0, 0), QByteArray("Q714-7R v1.12\r"));

        FaultSettings silent;
        silent.silent = true;
        sim->Server().SetFaults(silent);
        sim->Adapter().ClearReceivedCommands();
        QCOMPARE(exchange("o", 0, SerialResultTimeout), QByteArray());
        QCOMPARE(sim->Adapter().ReceivedCommands().count("o"), 2);
        QByteArray reply;
        QCOMPARE(SerialLineTransaction(COMPortHandle, "v", 7, reply), SerialResultTimeout);
        QCOMPARE(sim->Adapter().ReceivedCommands().count("v"), 1);
    }

    // A reply the adapter never sends costs one more exchange, not every
    // later one.
    void aReplyNeverSentCostsOneMoreExchange() {
        FaultSettings dropped;
        dropped.partialBytes = 0;
        sim->Server().SetFaults(dropped);
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray());
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("o", 0, SerialResultTimeout), QByteArray()); // its reply taken as owed
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
    }

    void silenceTimesOutWithAnEmptyReplyAndIsLogged() {
        FaultSettings silent;
        silent.silent = true;
        sim->Server().SetFaults(silent);
        CommLogEnabled = true;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(exchange("v", 7, SerialResultTimeout), QByteArray());
        QVERIFY(clock.elapsed() >= SerialTimeout);
        QCOMPARE(CommLogText, QByteArray("TX:v\r\nRX:\r\n"));
    }

    void partialReplyIsReturnedAndLogged() {
        FaultSettings partial;
        partial.partialBytes = 3;
        sim->Server().SetFaults(partial);
        CommLogEnabled = true;
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray("Q7R"));
        QCOMPARE(CommLogText, QByteArray("TX:r\r\nRX:Q7R\r\n"));
    }

    void successfulExchangeIsLoggedWithTheReplyAsCollected() {
        CommLogEnabled = true;
        const QByteArray reply = exchange("o", 0, 0);
        QVERIFY(reply.endsWith('\r'));
        QCOMPARE(CommLogText, "TX:o\r\nRX:" + reply + "\r\n");
    }

    void noPortLeavesReplyUnchangedAndLogsNothing() {
        sim->CloseChannel();
        CommLogEnabled = true;
        QByteArray reply("untouched");
        QCOMPARE(SerialTransaction(COMPortHandle, "v", 7, reply), SerialResultNoPort);
        QCOMPARE(reply, QByteArray("untouched"));
        QVERIFY(CommLogText.isEmpty());
    }

    void unplugMidExchangeGivesANegativeResult() {
        FaultSettings slow;
        slow.replyDelayMs = 300;
        sim->Server().SetFaults(slow);
        std::thread unplugger([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sim->Server().Unplug();
        });
        QByteArray reply;
        const qint32 during = SerialTransaction(COMPortHandle, "r", 0, reply);
        unplugger.join();
        QVERIFY(during < 0);
        // The link stays broken: every later exchange fails too, no crash.
        const qint32 after = SerialTransaction(COMPortHandle, "r", 0, reply);
        QVERIFY(after < 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialChannel)
#include "test_serial_channel.moc"
