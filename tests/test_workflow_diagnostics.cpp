// The diagnostics actions against simulated encoders: clearing the
// persistent status, the decoding safety-margin reset, the write-access
// status and the protocol reset, each with its traffic and log lines.
#include "Configuration.h"
#include "Diagnostics.h"
#include "Reading.h"
#include "Serial_driver.h"
#include "WorkflowSim.h"

#include <QTest>

namespace {

// A connected encoder of `model` whose traffic and log start empty.
struct DiagnosticsSim : WorkflowSim {
    explicit DiagnosticsSim(const char* model = "t6-mt19") : WorkflowSim(model) { Connect(); }
};

constexpr quint32 WarningBit = 1u << 14;

} // namespace

class TestWorkflowDiagnostics : public QObject {
    Q_OBJECT

private slots:
    void clearingThePersistentStatus() {
        DiagnosticsSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetStatusBits(WarningBit); });
        TakeReading({}, sim.front); // the persistent register keeps the warning
        sim.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0); });
        QVERIFY(sim.encoder([](SimulatedEncoder& e) { return e.PersistentStatus(); }) != 0u);
        sim.Forget();
        ClearPersistentStatus(sim.front);
        QCOMPARE(sim.Sent(), Commands({"x", "W:0001:000000BD:00000062"}));
        QCOMPARE(sim.encoder([](SimulatedEncoder& e) { return e.PersistentStatus(); }), 0u);
        QVERIFY(sim.front.lines.isEmpty());
    }

    void withoutThePersistentStatusRegisterClearSendsNothing() {
        DiagnosticsSim sim("t1-st19");
        ClearPersistentStatus(sim.front);
        QVERIFY(sim.Sent().isEmpty());
        QVERIFY(sim.front.lines.isEmpty());
    }

    void aFailedClearIsLogged() {
        DiagnosticsSim sim;
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0xBD, RegisterFault::WriteLocked); });
        ClearPersistentStatus(sim.front);
        QVERIFY(sim.front.LogLines().join('\n').startsWith(
            "Write access is locked\nsCmd: W:0001:000000BD:00000062 RCV: "));
    }

    void decodingSafetyMarginIsSetBackTo32000() {
        DiagnosticsSim sim;
        CommLogEnabled = true;
        ResetDecodingSafetyMargin(sim.front);
        QCOMPARE(sim.Sent(), Commands({"x", "W:0002:00000012:00007D00"}));
        QVERIFY(CommLogText.startsWith("REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER\r\n"));
        QVERIFY(sim.front.lines.isEmpty());

        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x12, RegisterFault::WriteLocked); });
        ResetDecodingSafetyMargin(sim.front);
        QVERIFY(sim.front.LogLines().join('\n').startsWith(
            "Write access is locked\nsCmd: W:0002:00000012:00007D00 RCV: "));
    }

    void writeAccessStatusSaysWhatTheLastAccessDid() {
        DiagnosticsSim sim;
        StoreSettings(StoreCommand::SaveToNvram, sim.front); // a command: executed
        sim.Forget();
        ReadWriteAccessStatus(sim.front);
        QCOMPARE(sim.Sent(), Commands({"R:0001:0000000E"}));
        QCOMPARE(sim.front.lines, QStringList{"Write status: [0x40] Command executed"});

        sim.Script("R:0001:0000000E", "0x26:\r");
        ReadWriteAccessStatus(sim.front);
        QCOMPARE(sim.front.LogLines().mid(1),
                 QStringList({"Invalid register address", "sCmd: R:0001:0000000E RCV: 0x26:"}));
    }

    void resettingTheRegisterProtocol() {
        DiagnosticsSim sim;
        ResetRegisterProtocol(sim.front);
        QCOMPARE(sim.Sent(), Commands({"x"}));
        QCOMPARE(sim.front.lines, QStringList{"Reset of Dravonel protocol performed"});

        sim.Script("x", "busy\r");
        ResetRegisterProtocol(sim.front);
        QCOMPARE(sim.front.lines.last(), QString("busy"));

        CloseCOMPort();
        ResetRegisterProtocol(sim.front);
        QCOMPARE(sim.front.lines.last(), QString("USB Comm Err -3"));
        QCOMPARE(sim.front.lines.size(), 3);
        QVERIFY(sim.front.alerts.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWorkflowDiagnostics)
#include "test_workflow_diagnostics.moc"
