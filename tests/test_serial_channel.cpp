// The serial channel against the simulated adapter on a real pseudo-terminal:
// the completion rule, the untouched input queue, time-outs, the missing port
// and a device that vanishes mid-exchange.
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

    // A reply that comes after its time-out is discarded before the next
    // command, so every later exchange gets its own reply.
    void lateReplyIsDiscardedNotTakenForTheNextCommand() {
        FaultSettings late;
        late.lateReplyEvery = 1;
        late.lateReplyMs = 600;
        sim->Server().SetFaults(late);
        CommLogEnabled = true;
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray());
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
        QCOMPARE(exchange("r", 0, 0), QByteArray("Q7R00417\r"));
        QVERIFY2(CommLogText.contains("RX (late, discarded):Q7R00417\r\r\nTX:o\r\n"),
                 CommLogText.constData());
    }

    // Up to a time-out after the time-out, a late reply is still caught:
    // the next command waits until the line is quiet.
    void lateReplyArrivingAfterTheNextTimeOutWouldHaveStartedIsDiscarded() {
        FaultSettings late;
        late.lateReplyEvery = 1;
        late.lateReplyMs = 750;
        sim->Server().SetFaults(late);
        QCOMPARE(exchange("r", 0, SerialResultTimeout), QByteArray());
        sim->Server().SetFaults(FaultSettings());
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
        QCOMPARE(exchange("o", 0, 0), QByteArray("57\r"));
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
