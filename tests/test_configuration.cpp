// The Configuration tab against simulated encoders, driven as a user would:
// the tab-change refresh, writing settings, the multi-turn preset, saving,
// the factory reset and "Set zero here", each checked in the encoder and in
// the next reading.
#include "Q714_SPI_Dravonel.h"
#include "SimCrc8.h"
#include "SimulatedWindow.h"
#include "TypedNumber.h"

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
    quint32 registerValue(quint32 address) {
        return encoder([&](SimulatedEncoder& e) { return e.RegisterValue(address); });
    }
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
    PositionReading reading() {
        return encoder([](SimulatedEncoder& e) { return e.ReadPosition(); });
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

    void typedNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << " 42 " << int(TypedNumber::Number) << 42;
        QTest::newRow("signed") << "-2147483648" << int(TypedNumber::Number) << INT_MIN;
        QTest::newRow("empty") << "" << int(TypedNumber::Blank) << 0;
        QTest::newRow("blanks") << "   " << int(TypedNumber::Blank) << 0;
        QTest::newRow("letters") << "12a" << int(TypedNumber::NotANumber) << 0;
        QTest::newRow("decimal") << "1.5" << int(TypedNumber::NotANumber) << 0;
        QTest::newRow("too large") << "2147483648" << int(TypedNumber::OutOfRange) << 0;
        QTest::newRow("huge") << "99999999999999999999999" << int(TypedNumber::OutOfRange) << 0;
    }

    void typedNumbers() {
        QFETCH(QString, text);
        const TypedNumber number = ParseTypedNumber(text);
        QTEST(int(number.kind), "kind");
        QTEST(number.ValueOr(0), "value");
    }

    void showingTheTabReadsTheSettings() {
        ConfigWindow w;
        w.setRegister(w.layout().posOffset, 1234);
        w.setRegister(w.layout().filterPosVal, 9);
        w.setRegister(w.layout().mtErrThreshold, 45);
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.Page->setCurrentWidget(w.form.tabConfig);
        QCOMPARE(w.form.edPosOffset->text(), QString("1234"));
        QCOMPARE(w.form.edFilterPosVal->text(), QString("9"));
        QCOMPARE(w.form.edMTerrArc->text(), QString("45"));

        // Without the error-arc register the arc is not read.
        ConfigWindow single("t1-st19");
        QVERIFY(!single.sim.Adapter().ReceivedCommands().contains("R:0001:00000018"));
        single.form.Page->setCurrentWidget(single.form.tabInit);
        single.form.Page->setCurrentWidget(single.form.tabConfig);
        QCOMPARE(single.sim.Adapter().ReceivedCommands(),
                 (QList<QByteArray>{"R:0004:00000000", "R:0004:00000004"}));
    }

    void writingSettings() {
        ConfigWindow w;
        w.form.edPosOffset->setText("300");
        w.form.edFilterPosVal->setText("");
        w.form.edMTerrArc->setText("20");
        w.form.btnWriteZeroClick();
        w.form.btnWriteFilterClick();
        w.form.btnMTerrArcWriteClick();
        QCOMPARE(w.writes(),
                 (QList<QByteArray>{"W:0004:00000000:0000012C", "W:0004:00000004:00000000",
                                    "W:0001:00000018:00000014"}));
        QCOMPARE(w.registerValue(w.layout().posOffset), 300u);

        // The encoder refuses an arc above its limit: the reply is logged.
        w.form.edMTerrArc->setText("300");
        w.form.btnMTerrArcWriteClick();
        QVERIFY(w.form.Memo1->toPlainText().startsWith("Parameter out of range"));
    }

    // A typo must not reach the encoder as 0 (a moved zero): text that is not
    // a whole number is refused like a negative one.
    void badNumbersAreRefusedBeforeAnythingIsSent_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << "-5";
        QTest::newRow("beyond 32 bits") << "4294967296";
        QTest::newRow("letters") << "abc";
        QTest::newRow("decimal") << "3.5";
        QTest::newRow("hexadecimal") << "0x10";
        QTest::newRow("exponent") << "1e3";
        QTest::newRow("trailing letters") << "12abc";
    }

    void badNumbersAreRefusedBeforeAnythingIsSent() {
        QFETCH(QString, text);
        ConfigWindow w;
        for (QLineEdit* edit : {w.form.edPosOffset, w.form.edFilterPosVal, w.form.edMTerrArc})
            edit->setText(text);
        w.form.edMultiturnPreset->setText(text == "-5" ? "99999999999" : text);
        w.form.btnWriteZeroClick();
        w.form.btnWriteFilterClick();
        w.form.btnMTerrArcWriteClick();
        w.form.btnApplyMTClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        QCOMPARE(w.interaction().messages.size(), 4);
        QCOMPARE(w.interaction().messages.first(),
                 "Invalid position offset \"" + text +
                     "\": enter a whole number from 0 to 2147483647.");
        QCOMPARE(w.interaction().messages.at(2),
                 "Invalid multiturn error arc \"" + text +
                     "\": enter a whole number from 0 to 2147483647.");
    }

    void applyMtPresetsTheLow16Bits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("presetWrite");
        QTest::addColumn<int>("turns");
        QTest::newRow("70000") << "70000" << QByteArray("W:0004:00000014:00001170") << 4464;
        QTest::newRow("-1") << "-1" << QByteArray("W:0004:00000014:0000FFFF") << -1;
        QTest::newRow("blank") << "" << QByteArray("W:0004:00000014:00000000") << 0;
    }

    void applyMtPresetsTheLow16Bits() {
        QFETCH(QString, text);
        QFETCH(QByteArray, presetWrite);
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(12, 500); });
        w.form.edMultiturnPreset->setText(text);
        w.form.btnApplyMTClick();
        QCOMPARE(w.writes().value(0), presetWrite);
        QCOMPARE(w.writes().value(1), QByteArray("W:0001:00000049:0000006D"));
        w.form.btnReadEncoderClick();
        QTEST(w.form.lblPosMT->text().toInt(), "turns");
    }

    void saveAndFactoryResetTakeEffect() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 1000); });
        w.form.edPosOffset->setText("400");
        w.form.btnWriteZeroClick();
        w.powerCycle(); // not saved: lost
        QCOMPARE(w.registerValue(w.layout().posOffset), 0u);

        w.form.btnWriteZeroClick();
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnSaveFlashClick();
        const QList<QByteArray> sent = w.sim.Adapter().ReceivedCommands();
        QCOMPARE(sent.mid(0, 2), (QList<QByteArray>{"x", "W:0001:00000049:00000063"}));
        QVERIFY(sent.contains("R:0004:00000000")); // the page refresh
        QCOMPARE(w.interaction().messages, QStringList{"Save data done!"});
        QVERIFY(w.form.EnableConstReading);
        w.powerCycle();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosST->text(), QString("600"));

        w.form.btnFactoryResetClick();
        QCOMPARE(w.interaction().messages.last(), QString("Factory reset done!"));
        QCOMPARE(w.form.edPosOffset->text(), QString("0"));
        QCOMPARE(w.form.edFilterPosVal->text(), QString("4"));
        w.powerCycle();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosST->text(), QString("1000"));
    }

    // A failed command is reported as failed, not done; the page is still
    // refreshed and reading resumes.
    void aFailedSaveOrResetIsNotReportedAsDone() {
        ConfigWindow w;
        w.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x49, RegisterFault::WriteLocked); });
        w.form.btnSaveFlashClick();
        w.form.btnFactoryResetClick();
        const QString locked = "Write access is locked\nsCmd: ";
        QCOMPARE(w.interaction().messages.size(), 2);
        QVERIFY(w.interaction().messages[0].startsWith("Save data failed!\n" + locked));
        QVERIFY(w.interaction().messages[1].startsWith("Factory reset failed!\n" + locked));
        QVERIFY(w.form.Memo1->toPlainText().startsWith(locked + "W:0001:00000049:00000063"));
        QCOMPARE(w.sim.Adapter().ReceivedCommands().count("R:0004:00000000"), 2);
        QVERIFY(w.form.EnableConstReading);
    }

    void setZeroHere_data() {
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<quint32>("singleturn");
        QTest::addColumn<quint32>("newOffset");
        QTest::newRow("100 + 50 - 2") << 100u << 50u << 148u;
        QTest::newRow("0 - 2 wraps") << 0u << 0u << 131070u;
        QTest::newRow("261998 wraps") << 131000u << 131000u << 130926u;
    }

    void setZeroHere() {
        QFETCH(quint32, offset);
        QFETCH(quint32, singleturn);
        QFETCH(quint32, newOffset);
        ConfigWindow w;
        w.setRegister(w.layout().posOffset, offset);
        w.encoder([&](SimulatedEncoder& e) { e.SetPosition(5, singleturn); });
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.form.edPosOffset->text(), QString::number(newOffset));
        QCOMPARE(w.encoder([](SimulatedEncoder& e) { return e.Nvram().Stored(0x00); }), newOffset);
        QCOMPARE(w.form.lblUlvaxZeroStatus->text(),
                 QString("Current zero pos: %1\nEncoder pos: %2\nNew zero pos: %3\n"
                         "Multiturn preset: 0")
                     .arg(offset)
                     .arg(singleturn)
                     .arg(newOffset));
        QCOMPARE(w.interaction().messages, QStringList{"Save data done!"});
        QCOMPARE(w.writes().count("W:0001:00000049:0000006D"), 2); // preset before and after
        QVERIFY(w.form.EnableConstReading);
        const PositionReading now = w.reading();
        QCOMPARE(now.singleturn, 2u);
        QCOMPARE(now.multiturn, 0);
    }

    void setZeroOnASingleTurnEncoderLeavesTheCounterAlone() {
        ConfigWindow w("t1-st19");
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 7000); });
        w.form.btnUlvaxSetZeroClick();
        QVERIFY(!w.sim.Adapter().ReceivedCommands().join().contains("00000014"));
        QCOMPARE(w.form.edMultiturnPreset->text(), QString("0"));
        QVERIFY(w.form.lblUlvaxZeroStatus->text().endsWith("Multiturn preset: 0"));
        QCOMPARE(w.reading().singleturn, 2u);
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
        QVERIFY(w.form.EnableConstReading);

        // A reply the read cannot use raises no flag, but is no reference.
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

    // The offset field keeps a typo when the encoder's offset cannot be read:
    // no zero is computed from it.
    void setZeroRefusesAnOffsetThatIsNoNumber() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::ReadCrc); });
        w.form.edPosOffset->setText("12abc");
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.interaction().messages,
                 QStringList{"Invalid position offset \"12abc\": enter a whole number from 0 "
                             "to 2147483647."});
        QVERIFY(w.writes().isEmpty());
        QVERIFY(w.form.EnableConstReading);
    }

    void setZeroReportsAFailedOffsetWrite() {
        ConfigWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::WriteCrc); });
        w.form.btnUlvaxSetZeroClick();
        QCOMPARE(w.interaction().messages.size(), 2);
        QVERIFY(w.interaction().messages[0].startsWith(
            "Error writing new zero position. Errors encountered: CRC invalid on write"));
        QCOMPARE(w.interaction().messages[1], QString("Save data done!"));
    }
};

QTEST_MAIN(TestConfiguration)
#include "test_configuration.moc"
