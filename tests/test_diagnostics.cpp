// The Diagnostics tab's actions against simulated encoders: the two status
// check boxes, clearing the persistent status, the safety-margin reset, the
// write-access status and the protocol reset.
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimulatedWindow.h"

#include <QCheckBox>
#include <QTest>

namespace {

struct DiagnosticsWindow : SimulatedWindow {
    explicit DiagnosticsWindow(const char* model = "t6-mt19") : SimulatedWindow(model) {
        PowerAndConnect();
        form.Memo1->clear();
        sim.Adapter().ClearReceivedCommands();
    }
    QString memo() const { return form.Memo1->toPlainText(); }
    QList<QByteArray> sent() { return sim.Adapter().ReceivedCommands(); }
};

} // namespace

class TestDiagnostics : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void statusBoxesExcludeEachOther() {
        DiagnosticsWindow w("t2-mt17");
        w.form.cbDetailedStatus->click();
        w.form.cbPersistentStatus->click();
        QVERIFY(w.form.cbPersistentStatus->isChecked());
        QVERIFY(!w.form.cbDetailedStatus->isChecked());
        w.form.cbDetailedStatus->click();
        QVERIFY(!w.form.cbPersistentStatus->isChecked());
        w.form.cbDetailedStatus->click(); // both may be off
        QVERIFY(!w.form.cbPersistentStatus->isChecked() && !w.form.cbDetailedStatus->isChecked());
    }

    void clearPersistentStatus() {
        DiagnosticsWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetStatusBits(1u << 14); });
        w.form.btnReadEncoderClick(); // the persistent register keeps the warning
        w.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0); });
        w.form.btnClearPersistentStatusClick();
        QCOMPARE(w.sent().mid(w.sent().size() - 2),
                 (QList<QByteArray>{"x", "W:0001:000000BD:00000062"}));
        QCOMPARE(w.encoder([](SimulatedEncoder& e) { return e.PersistentStatus(); }), 0u);

        DiagnosticsWindow without("t1-st19"); // no persistent status register
        without.form.btnClearPersistentStatusClick();
        QVERIFY(without.sent().isEmpty());
    }

    void decodingSafetyReset() {
        DiagnosticsWindow w;
        CommLogEnabled = true;
        w.form.btnDecodingSafetyResetClick();
        QCOMPARE(w.sent(), (QList<QByteArray>{"x", "W:0002:00000012:00007D00"}));
        QVERIFY(CommLogText.startsWith("REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER\r\n"));
        QVERIFY(w.memo().isEmpty());
        w.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x12, RegisterFault::WriteLocked); });
        w.form.btnDecodingSafetyResetClick();
        QVERIFY(w.memo().startsWith("Write access is locked\nsCmd: W:0002:00000012:00007D00"));
    }

    void writeAccessRegister() {
        DiagnosticsWindow w;
        w.form.btnSaveFlashClick(); // a command: the status says it was executed
        w.form.Memo1->clear();
        w.form.btnReadWriteAccessRegisterClick();
        QCOMPARE(w.memo(), QString("Write status: [0x40] Command executed"));
        w.sim.Adapter().OverrideReply("R:0001:0000000E", "0x26:\r");
        w.form.btnReadWriteAccessRegisterClick();
        QVERIFY(w.form.Memo1->toPlainText().endsWith(
            "Invalid register address\nsCmd: R:0001:0000000E RCV: 0x26:"));
    }

    void resetDravonelProtocol() {
        DiagnosticsWindow w;
        w.form.btnResetDravonelProtocolClick();
        QCOMPARE(w.memo(), QString("Reset of Dravonel protocol performed"));
        w.sim.Adapter().OverrideReply("x", "busy\r");
        w.form.btnResetDravonelProtocolClick();
        QVERIFY(w.memo().endsWith("\nbusy"));
        CloseCOMPort();
        w.form.btnResetDravonelProtocolClick();
        QVERIFY(w.memo().endsWith("\nUSB Comm Err -3"));
    }
};

QTEST_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
