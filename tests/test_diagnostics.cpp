// The Diagnostics tab as the window shows it: the two status check boxes and
// an action's log line in the memo. The actions' traffic and log lines are
// in test_workflow_diagnostics.
#include "Q714_SPI_Dravonel.h"
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

    void anActionsLogLineIsShownInTheMemo() {
        DiagnosticsWindow w;
        w.form.btnResetDravonelProtocolClick();
        QCOMPARE(w.memo(), QString("Reset of Dravonel protocol performed"));
    }
};

QTEST_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
