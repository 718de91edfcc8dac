// Powering and connecting an encoder as the window shows it: the supply
// label, the protocol variant's check boxes and supply choice, and what a
// connect shows and enables. The workflows' traffic and log lines are in
// test_workflow_connect.
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
        QCOMPARE(commandsAfterSearch(w).first(), QByteArray("V3"));
        QCOMPARE(w.form.lblPower->text(), QStringLiteral("ON 3.3V 45mA"));
        QCOMPARE(w.MemoLines().last(), QStringLiteral("ON 3.3V 45mA"));
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

    void eachChangeOfTheNcsSckDelaySendsIt() {
        SimulatedWindow w(nullptr, [](SimulatedAdapter& a) { a.OverrideReply("D007", "ERROR\r"); });
        w.form.seNCS_SCK_delay->setValue(900);
        w.form.seNCS_SCK_delay->setValue(7);
        QCOMPARE(commandsAfterSearch(w), QList<QByteArray>({"D900", "D007"}));
        QCOMPARE(w.interaction().messages,
                 QStringList({"Problem pri nastavljanju SPI vmesnika: D007 -> ERROR"}));
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

    void connectShowsTheEncoderAndItsScaling() {
        SimulatedWindow w;
        w.PowerAndConnect();
        QVERIFY(w.MemoLines().contains(QLatin1String("FW version: 2.9.1.8812")));
        QCOMPARE(w.form.lblEncoderInfo->text(),
                 QStringLiteral("RX712KAN17MDG000\nUX217041   2.9.1.8812"));
        QCOMPARE(w.form.seNominator->value(), 360);
        QCOMPARE(w.form.seDenominator->value(), 131072);
        QCOMPARE(w.form.EncoderResolution, 360.0 / 131072.0);
        QCOMPARE(w.form.EncDolzinaKode, 7);
        QCOMPARE(w.form.lblInstallCoeff->text(), QStringLiteral("K = -83.56\nN = 865.00"));
        QCOMPARE(w.form.cmbFreqSPI->currentIndex(), 4);
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        QVERIFY(w.form.cbReadEncConstantly->isEnabled());
        QVERIFY(w.form.cbDetailedStatus->isEnabled());
        QVERIFY(w.form.lblCH1->isHidden());
    }

    void missingRegistersDisableTheirControls() {
        SimulatedWindow w("t1-st19");
        w.PowerAndConnect();
        QVERIFY(!w.form.edMTerrArc->isEnabled());
        QVERIFY(!w.form.btnClearPersistentStatus->isEnabled());
        QVERIFY(w.form.rbDrawAirGap->isEnabled()); // this model has the signal level
        QVERIFY(!w.form.edSelfCalTimeout->isEnabled());
    }

    // The retry ticks the protocol variant's box, with its effects.
    void typeThreeRetriesWithNonInvertedCrc() {
        SimulatedWindow w("t3-st18", needsNonInvertedCrc("t3-st18"));
        w.PowerAndConnect();
        QVERIFY(w.MemoLines().contains(QLatin1String("Trying again with non-inverted CRC...")));
        QVERIFY(w.form.cbDravonelJQLOMA->isChecked());
        QCOMPARE(w.form.rgPowerSel->ItemIndex(), 0);
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        // Later connects start in non-inverted mode.
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnConnectEncoderClick();
        QVERIFY(!w.sim.Adapter().ReceivedCommands().contains("Ce"));
    }

    void typeOneDoesNotRetry() {
        SimulatedWindow w("t1-st19", needsNonInvertedCrc("t1-st19"));
        w.PowerAndConnect();
        QVERIFY(!w.form.cbDravonelJQLOMA->isChecked());
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
        QCOMPARE(w.form.lblInstallCoeff->text(), QStringLiteral("K = -361.70\nN = 2885.00"));
    }

    void brokenLinkOnConnectRestartsTheSearch() {
        SimulatedWindow w;
        w.sim.Server().Unplug();
        w.form.btnConnectEncoderClick();
        QVERIFY(w.form.initTimer->isActive());
        QVERIFY(!w.form.btnReadEncoder->isEnabled());
    }
};

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
