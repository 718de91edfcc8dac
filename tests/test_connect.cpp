// Powering and connecting an encoder through the window: the power sequence,
// the adapter settings, the protocol variant and the connect workflow with
// its retry in non-inverted CRC mode.
#include "EncoderProfile.h"
#include "Enkoderji_splosno.h"
#include "Q714_SPI_Dravonel.h"
#include "SimulatedWindow.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

namespace {

// The commands the adapter received since the window found it.
QList<QByteArray> commandsAfterSearch(SimulatedWindow& w) {
    QList<QByteArray> commands = w.sim.Adapter().ReceivedCommands();
    const qsizetype searchEnd = commands.indexOf("o") + 1;
    return commands.mid(searchEnd);
}

// A catalogue model whose register protocol needs non-inverted CRC.
std::function<void(SimulatedAdapter&)> needsNonInvertedCrc(const char* model) {
    return [model](SimulatedAdapter& adapter) {
        EncoderProfile profile = *FindEncoderProfile(QString::fromLatin1(model));
        profile.registerCrc = RegisterCrc::NonInverted;
        adapter.SetEncoderProfile(profile);
    };
}

} // namespace

class TestConnect : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void powerOnAt3V3SendsSupplyThenOnThenState() {
        SimulatedWindow w;
        w.form.rgPowerSel->SetItemIndex(0);
        w.form.btnPowerONClick();
        QCOMPARE(commandsAfterSearch(w), QList<QByteArray>({"V3", "n", "e"}));
        QCOMPARE(w.form.lblPower->text(), QStringLiteral("ON 3.3V 45mA"));
        QCOMPARE(w.MemoLines().last(), QStringLiteral("ON 3.3V 45mA"));
        QVERIFY(w.interaction().messages.isEmpty());
        QCOMPARE(EncoderPosition.ErrComm, 0);
    }

    void wrongAcknowledgementShowsItsBoxAndGoesOn() {
        SimulatedWindow w(nullptr, [](SimulatedAdapter& a) { a.OverrideReply("V5", "OK V5\r"); });
        w.form.btnPowerONClick();
        QCOMPARE(w.interaction().messages,
                 QStringList({"Setting power supply (V5) not successfull! (OK V5)"}));
        QCOMPARE(commandsAfterSearch(w), QList<QByteArray>({"V5", "n", "e"}));
    }

    void refusedPowerOnNamesTheOnCommand() {
        SimulatedWindow w(nullptr, [](SimulatedAdapter& a) { a.OverrideReply("n", "NO\r"); });
        w.form.btnPowerONClick();
        QCOMPARE(w.interaction().messages,
                 QStringList({"Setting power supply (n) not successfull! (NO)"}));
    }

    void powerOffClearsTheMemoOrRestartsTheSearchWhenUnplugged() {
        SimulatedWindow w;
        w.form.MemoAddLine(QStringLiteral("kept"));
        w.form.btnPowerOFFClick();
        QVERIFY(w.form.Memo1->toPlainText().isEmpty());
        QVERIFY(!w.form.initTimer->isActive());

        w.form.MemoAddLine(QStringLiteral("kept"));
        w.sim.Server().Unplug();
        w.form.btnPowerOFFClick();
        QVERIFY(EncoderPosition.ErrComm < 0);
        QVERIFY(w.form.initTimer->isActive());
        QCOMPARE(w.form.Memo1->toPlainText(), QStringLiteral("kept"));
    }

    void spiClockSendsItsSettingAndLogsTheFrequency() {
        SimulatedWindow w;
        w.form.cmbFreqSPI->setCurrentIndex(7);
        w.form.cmbFreqSPIChange();
        QCOMPARE(commandsAfterSearch(w), QList<QByteArray>({"M8", "m"}));
        QVERIFY(w.MemoLines().last().startsWith(QLatin1String("Frequency: ")));
        QVERIFY(w.interaction().messages.isEmpty());
    }

    void silentSpiClockReportsFailure() {
        SimulatedWindow w;
        FaultSettings silent;
        silent.silent = true;
        w.sim.Server().SetFaults(silent);
        w.form.cmbFreqSPI->setCurrentIndex(0);
        w.form.cmbFreqSPIChange();
        QCOMPARE(w.interaction().messages, QStringList({"Setting frequency 1 not successfull."}));
    }

    void ncsSckDelayIsThreeDigitsAndErrorsAreShown() {
        SimulatedWindow w(nullptr, [](SimulatedAdapter& a) { a.OverrideReply("D007", "ERROR\r"); });
        w.form.seNCS_SCK_delay->setValue(900);
        w.form.seNCS_SCK_delay->setValue(7); // each change sends its command
        QCOMPARE(commandsAfterSearch(w), QList<QByteArray>({"D900", "D007"}));
        QCOMPARE(w.interaction().messages,
                 QStringList({"Problem pri nastavljanju SPI vmesnika: D007 -> ERROR"}));
        QCOMPARE(w.MemoLines().last(), QStringLiteral("Setting: ERROR"));
    }

    void protocolVariantWarnsOnOldAdapterAndSwitchesSupply() {
        AdapterSettings old;
        old.identity = "Q714-7R v1.08";
        SimulatedWindow w(nullptr, [&](SimulatedAdapter& a) { a.SetSettings(old); });
        QCOMPARE(w.form.Q714VerzijaFW, 108);
        w.form.cbDravonelJQLOMA->click();
        QCOMPARE(w.interaction().messages,
                 QStringList({"Too old interface version! Use Q714-7R v1.09 or newer!"}));
        QCOMPARE(w.form.rgPowerSel->ItemIndex(), 0);
        QVERIFY(!w.form.cbDetailedStatus->isChecked());
        QVERIFY(!w.form.cbDetailedStatus->isEnabled());
        w.form.cbDravonelJQLOMA->click();
        QCOMPARE(w.form.rgPowerSel->ItemIndex(), 1);
        QVERIFY(w.form.cbDetailedStatus->isChecked());
        QVERIFY(w.form.cbDetailedStatus->isEnabled());
    }

    void statusCheckBoxesExcludeEachOther() {
        SimulatedWindow w;
        w.form.cbPersistentStatus->setEnabled(true);
        w.form.cbDetailedStatus->click();
        w.form.cbPersistentStatus->click();
        QVERIFY(!w.form.cbDetailedStatus->isChecked());
        w.form.cbDetailedStatus->click();
        QVERIFY(!w.form.cbPersistentStatus->isChecked());
    }

    void connectLogsIdentityRegistersAndScaling() {
        SimulatedWindow w;
        w.PowerAndConnect();
        const QStringList lines = w.MemoLines();
        for (const char* expected :
             {"Dravonel version: 2", "Part number: RX712KAN17MDG000", "Serial number: UX217041",
              "FW version: 2.9.1.8812",
              "Registers present in the encoder:", "  MT_ERR_TRESHOLD  \tTrue",
              "  PERSISTENT_STATUS\tTrue", "  SIGNAL_LEVEL     \tTrue", "  SELF_CAL_TIMEOUT \tTrue",
              "  FIRMWARE_REVISION\tTrue [2] [2]", "  U4_RUNTIME_LOG   \tTrue"})
            QVERIFY2(lines.contains(QLatin1String(expected)), expected);
        QCOMPARE(w.form.lblEncoderInfo->text(),
                 QStringLiteral("RX712KAN17MDG000\nUX217041   2.9.1.8812"));
        QCOMPARE(w.form.seNominator->value(), 360);
        QCOMPARE(w.form.seDenominator->value(), 131072);
        QCOMPARE(w.form.EncoderResolution, 360.0 / 131072.0);
        QCOMPARE(w.form.EncDolzinaKode, 7);
        QCOMPARE(w.form.lblInstallCoeff->text(), QStringLiteral("K = -83.56\nN = 865.00"));
        QCOMPARE(EncoderSignature.AirGapN, 865.0);
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        QVERIFY(w.form.cbReadEncConstantly->isEnabled());
        QVERIFY(w.form.cbDetailedStatus->isEnabled());
        QVERIFY(w.form.lblCH1->isHidden());
        const QList<QByteArray> sent = commandsAfterSearch(w);
        QCOMPARE(sent.mid(3, 5), QList<QByteArray>({"e", "Ce", "G0:1", "D015", "j"}));
        QCOMPARE(sent.mid(sent.size() - 2), QList<QByteArray>({"M5", "m"}));
    }

    void everyCatalogueModelConnectsAndReads_data() {
        QTest::addColumn<QString>("model");
        for (const EncoderProfile& profile : EncoderCatalogue())
            QTest::newRow(qPrintable(profile.name)) << profile.name;
    }

    void everyCatalogueModelConnectsAndReads() {
        QFETCH(QString, model);
        const QByteArray name = model.toLatin1();
        SimulatedWindow w(name.constData());
        w.PowerAndConnect();
        QVERIFY2(w.form.btnReadEncoder->isEnabled(), qPrintable(w.form.Memo1->toPlainText()));
        QVERIFY(w.MemoLines().contains(QLatin1String("Registers present in the encoder:")));
        w.form.Memo1->clear();
        w.form.btnReadEncoderClick();
        QVERIFY2(w.form.Memo1->toPlainText().isEmpty(), qPrintable(w.form.Memo1->toPlainText()));
        QCOMPARE(EncoderPosition.ErrComm, 0);
        QVERIFY(!EncoderPosition.ErrCRC);
    }

    // A USB adapter may deliver each reply in several packets: the whole
    // session stays in step.
    void repliesInPiecesStillConnectAndRead() {
        SimulatedWindow w(nullptr, [](SimulatedAdapter&) {});
        FaultSettings split;
        split.splitParts = 3;
        split.splitGapMs = 1;
        w.sim.Server().SetFaults(split);
        w.form.RestartAdapterSearch();
        w.form.initTimerTimer();
        QCOMPARE(w.form.lblComPort->text(), QStringLiteral("q714-sim-1  [Q7R00417]"));
        w.interaction().messages.clear();
        w.PowerAndConnect();
        QVERIFY2(w.interaction().messages.isEmpty(),
                 qPrintable(w.interaction().messages.join('|')));
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        w.form.Memo1->clear();
        for (int reading = 0; reading < 5; ++reading)
            w.form.btnReadEncoderClick();
        QVERIFY2(w.form.Memo1->toPlainText().isEmpty(), qPrintable(w.form.Memo1->toPlainText()));
        QVERIFY(!EncoderPosition.ErrCRC);
    }

    void missingRegistersDisableTheirControls() {
        SimulatedWindow w("t1-st19");
        w.PowerAndConnect();
        QVERIFY(w.MemoLines().contains(QLatin1String("  FIRMWARE_REVISION\tFalse [2] [2]")));
        QVERIFY(!w.form.edMTerrArc->isEnabled());
        QVERIFY(!w.form.btnClearPersistentStatus->isEnabled());
        QVERIFY(w.form.rbDrawAirGap->isEnabled()); // this model has the signal level
        QVERIFY(!w.form.edSelfCalTimeout->isEnabled());
    }

    void typeThreeRetriesWithNonInvertedCrc() {
        SimulatedWindow w("t3-st18", needsNonInvertedCrc("t3-st18"));
        w.PowerAndConnect();
        const QStringList lines = w.MemoLines();
        const qsizetype error = lines.indexOf(QLatin1String("Error reading Encoder signature!"));
        const qsizetype retry =
            lines.indexOf(QLatin1String("Trying again with non-inverted CRC..."));
        const qsizetype identity = lines.indexOf(QLatin1String("Dravonel version: 2"));
        QVERIFY(error >= 0 && error < retry && retry < identity);
        QCOMPARE(lines.count(QLatin1String("Error reading Encoder signature!")), 1);
        QVERIFY(w.form.cbDravonelJQLOMA->isChecked());
        QCOMPARE(w.form.rgPowerSel->ItemIndex(), 0);
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        const QList<QByteArray> sent = commandsAfterSearch(w);
        QVERIFY(sent.indexOf("Ce") < sent.indexOf("Cr"));
    }

    void typeOneDoesNotRetry() {
        SimulatedWindow w("t1-st19", needsNonInvertedCrc("t1-st19"));
        w.form.btnPowerONClick();
        w.form.Memo1->clear();
        w.form.btnConnectEncoderClick();
        const QStringList lines = w.MemoLines();
        QVERIFY(!lines.contains(QLatin1String("Trying again with non-inverted CRC...")));
        QVERIFY(!commandsAfterSearch(w).contains("Cr"));
        QCOMPARE(lines.count(QLatin1String("Error reading Encoder signature!")), 1);
        QVERIFY(lines.indexOf(QLatin1String("Error reading Encoder signature!")) >
                lines.indexOf(QLatin1String("Dravonel version: 1")));
        QVERIFY(!w.form.btnReadEncoder->isEnabled());
    }

    void twoRingEncoderShowsChannelOneAndDisablesDetailedStatus() {
        SimulatedWindow w("t7-mt18");
        w.PowerAndConnect();
        QVERIFY(!w.form.lblCH0->isHidden());
        QVERIFY(!w.form.pnlCH1ST->isHidden());
        QVERIFY(!w.form.cbDetailedStatus->isEnabled());
    }

    void extendedAirGapOnFirmwareFour() {
        SimulatedWindow w("t6-mt19");
        w.PowerAndConnect();
        QVERIFY(w.MemoLines().contains(QLatin1String("Encoder with extended air gap")));
        QVERIFY(EncoderSignature.Asko);
        QCOMPARE(w.form.lblInstallCoeff->text(), QStringLiteral("K = -361.70\nN = 2885.00"));
    }

    void brokenLinkOnConnectRestartsTheSearch() {
        SimulatedWindow w;
        w.sim.Server().Unplug();
        w.form.btnConnectEncoderClick();
        QVERIFY(EncoderPosition.ErrComm < 0);
        QVERIFY(w.form.initTimer->isActive());
        QVERIFY(!w.form.btnReadEncoder->isEnabled());
    }
};

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
