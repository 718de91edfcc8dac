// The Configuration tab as the window shows it: the edits the tab change
// fills, the buttons that write what the edits hold, the message boxes, the
// read cycle paused around save, factory reset and "Set zero here", and the
// zero status label. The workflows' traffic, log lines, alerts and encoder
// state are in test_workflow_configuration.
#include "Q714_SPI_Dravonel.h"
#include "SimCrc8.h"
#include "SimulatedWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

namespace {

// A window connected to a simulated encoder, showing the Configuration tab.
struct ConfigWindow : SimulatedWindow {
    explicit ConfigWindow(const char* model = "t2-mt17",
                          std::function<void(SimulatedAdapter&)> prepare = {})
        : SimulatedWindow(model, prepare) {
        PowerAndConnect();
        form.Page->setCurrentWidget(form.tabConfig);
        form.Memo1->clear();
        sim.Adapter().ClearReceivedCommands();
    }
    const RegisterMapLayout& layout() { return LayoutOf(sim.Adapter().EncoderProfileInUse().map); }
    void setRegister(quint32 address, quint32 value) {
        encoder([&](SimulatedEncoder& e) { e.SetRegisterValue(address, value); });
    }
    QList<QByteArray> writes() {
        QList<QByteArray> result;
        for (const QByteArray& command : sim.Adapter().ReceivedCommands())
            if (command.startsWith("W:"))
                result << command;
        return result;
    }
    void showTabAgain() {
        form.Page->setCurrentWidget(form.tabInit);
        form.Page->setCurrentWidget(form.tabConfig);
    }
    void powerCycle() {
        form.btnPowerOFFClick();
        form.btnPowerONClick();
    }
};

} // namespace

class TestConfiguration : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void showingTheTabFillsTheEdits() {
        ConfigWindow w;
        w.setRegister(w.layout().posOffset, 1234);
        w.setRegister(w.layout().filterPosVal, 9);
        w.setRegister(w.layout().mtErrThreshold, 45);
        w.showTabAgain();
        QCOMPARE(w.form.edPosOffset->text(), QString("1234"));
        QCOMPARE(w.form.edFilterPosVal->text(), QString("9"));
        QCOMPARE(w.form.edMTerrArc->text(), QString("45"));

        // Without the error-arc register its edit keeps what it holds.
        ConfigWindow single("t1-st19");
        single.form.edMTerrArc->setText("7");
        single.showTabAgain();
        QCOMPARE(single.form.edMTerrArc->text(), QString("7"));
    }

    void eachButtonWritesItsEdit() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(12, 500); });
        w.form.edPosOffset->setText("300");
        w.form.edFilterPosVal->setText("");
        w.form.edMTerrArc->setText("20");
        w.form.edMultiturnPreset->setText("70000");
        w.form.btnWriteZeroClick();
        w.form.btnWriteFilterClick();
        w.form.btnMTerrArcWriteClick();
        w.form.btnApplyMTClick();
        QCOMPARE(w.writes(),
                 (QList<QByteArray>{"W:0004:00000000:0000012C", "W:0004:00000004:00000000",
                                    "W:0001:00000018:00000014", "W:0004:00000014:00001170",
                                    "W:0001:00000049:0000006D"}));
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosMT->text(), QString("4464"));

        // The encoder refuses an arc above its limit: the memo shows its reply.
        w.form.edMTerrArc->setText("300");
        w.form.btnMTerrArcWriteClick();
        QVERIFY(w.form.Memo1->toPlainText().startsWith("Parameter out of range"));
    }

    void aBadNumberIsShownInABoxAndNothingIsSent() {
        ConfigWindow w;
        for (QLineEdit* edit : {w.form.edPosOffset, w.form.edFilterPosVal, w.form.edMTerrArc,
                                w.form.edMultiturnPreset})
            edit->setText("12abc");
        w.form.btnWriteZeroClick();
        w.form.btnWriteFilterClick();
        w.form.btnMTerrArcWriteClick();
        w.form.btnApplyMTClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        const QString accepted = "\": enter a whole number from 0 to 2147483647.";
        QCOMPARE(w.interaction().messages,
                 QStringList({"Invalid position offset \"12abc" + accepted,
                              "Invalid position filter \"12abc" + accepted,
                              "Invalid multiturn error arc \"12abc" + accepted,
                              "Invalid multiturn preset \"12abc\": enter a whole number."}));
    }

    void saveAndFactoryResetRefreshTheEditsAndResumeReading() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 1000); });
        w.form.edPosOffset->setText("400");
        w.form.btnWriteZeroClick();
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnSaveFlashClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().contains("R:0004:00000000")); // the refresh
        QCOMPARE(w.interaction().messages, QStringList{"Save data done!"});
        QVERIFY(w.form.EnableConstReading);
        w.powerCycle();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosST->text(), QString("600"));

        w.form.edFilterPosVal->setText("9");
        w.form.btnFactoryResetClick();
        QCOMPARE(w.interaction().messages.last(), QString("Factory reset done!"));
        QCOMPARE(w.form.edPosOffset->text(), QString("0"));
        QCOMPARE(w.form.edFilterPosVal->text(), QString("4"));
        QVERIFY(w.form.EnableConstReading);
        w.powerCycle();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosST->text(), QString("1000"));
    }

    // A failed command is shown as failed; the page is still refreshed and
    // reading resumes.
    void aFailedSaveOrResetIsShownAsFailed() {
        ConfigWindow w;
        w.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x49, RegisterFault::WriteLocked); });
        w.form.btnSaveFlashClick();
        w.form.btnFactoryResetClick();
        QCOMPARE(w.interaction().messages.size(), 2);
        QVERIFY(w.interaction().messages[0].startsWith("Save data failed!\n"));
        QVERIFY(w.interaction().messages[1].startsWith("Factory reset failed!\n"));
        QCOMPARE(w.sim.Adapter().ReceivedCommands().count("R:0004:00000000"), 2);
        QVERIFY(w.form.EnableConstReading);
    }

    void setZeroHereShowsTheNewOffset() {
        ConfigWindow w;
        w.setRegister(w.layout().posOffset, 100);
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(5, 50); });
        w.form.edMultiturnPreset->setText("5");
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.form.edPosOffset->text(), QString("148"));
        QCOMPARE(w.form.edMultiturnPreset->text(), QString("0"));
        QCOMPARE(w.form.lblUlvaxZeroStatus->text(),
                 QString("Current zero pos: 100\nEncoder pos: 50\nNew zero pos: 148\n"
                         "Multiturn preset: 0"));
        QCOMPARE(w.interaction().messages, QStringList{"Save data done!"});
        QVERIFY(w.form.EnableConstReading);
    }

    void setZeroOnASingleTurnEncoderShowsPresetZero() {
        ConfigWindow w("t1-st19");
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 7000); });
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.form.edMultiturnPreset->text(), QString("0"));
        QVERIFY(w.form.lblUlvaxZeroStatus->text().endsWith("Multiturn preset: 0"));
    }

    void setZeroRefusesABadReading() {
        ConfigWindow w;
        EncoderPosition.ErrTimeout = true; // nothing else sets it
        QByteArray frame = QByteArray::fromHex("0000000C03");
        const quint8 badCrc = BitwiseCrc8(frame) ^ 0x5A;
        w.sim.Adapter().OverrideReply(
            "?07:000", frame.toHex().toUpper() + QByteArray::number(badCrc, 16).toUpper() + "00\r");
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.interaction().messages,
                 QStringList{"Unable to set zero position. Errors encountered: Timeout, CRC, "});
        QVERIFY(w.writes().isEmpty());
        QCOMPARE(w.form.lblUlvaxZeroStatus->text(), QString("..."));
        QVERIFY(w.form.EnableConstReading);

        // The reading takes the window's options: a decoded reply it cannot
        // use is no reference either.
        EncoderPosition.ErrTimeout = false;
        w.sim.Adapter().ClearOverrides();
        w.form.btnReadEncoderClick(); // flags clear again
        w.form.cbDetailedStatus->setChecked(true);
        w.sim.Adapter().OverrideReply("d", "0123\r");
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.interaction().messages.last(),
                 QString("Unable to set zero position. Errors encountered: Read, "));
        QVERIFY(w.writes().isEmpty());
    }

    // The offset edit keeps a typo when the encoder's offset cannot be read:
    // no zero is computed from it.
    void setZeroRefusesAnOffsetEditThatIsNoNumber() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::ReadCrc); });
        w.form.edPosOffset->setText("12abc");
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.interaction().messages,
                 QStringList{"Invalid position offset \"12abc\": enter a whole number from 0 "
                             "to 2147483647."});
        QCOMPARE(w.form.edPosOffset->text(), QString("12abc"));
        QVERIFY(w.writes().isEmpty());
        QVERIFY(w.form.EnableConstReading);
    }
};

QTEST_MAIN(TestConfiguration)
#include "test_configuration.moc"
