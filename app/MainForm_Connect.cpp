// Connecting an encoder: the workflow's identity and register lines go to the
// log; the window shows the encoder, enables what it offers, sets the scaling
// and shows the installation coefficients.
#include "Connect.h"
#include "Enkoderji_splosno.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Ulvax_konstante.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>

namespace {
constexpr int DefaultSpiClockIndex = 4; // "5 = 1.5 MHz"
} // namespace

void TMainForm::btnConnectEncoderClick() {
    FrameCounter = 0.0;
    ConnectOptions options;
    options.nonInvertedCrc = cbDravonelJQLOMA->isChecked();
    options.ncsSckDelayUs = seNCS_SCK_delay->value();
    options.spiClockSetting = DefaultSpiClockIndex + 1;
    ConnectHooks hooks;
    hooks.supplyState = [this](const QByteArray& state) { ShowSupplyState(state); };
    // As if ticked by the user, when it changes.
    hooks.switchToNonInvertedCrc = [this] { cbDravonelJQLOMA->setChecked(true); };
    hooks.identified = [this](const ConnectResult& connected) { ShowConnectedEncoder(connected); };
    const ConnectResult connected = ConnectEncoder(options, Front(), hooks);
    if (connected.linkBroken) {
        RestartAdapterSearch();
        return;
    }
    if (!connected.identified)
        return;
    ShowEncoderKindControls();
    btnReadEncoder->setEnabled(true);
    cbReadEncConstantly->setEnabled(true);
    Page->setEnabled(true);
    EncoderConnected = true;
    // A recording goes on with this encoder: it gets the debug unlock too
    // (another or re-powered encoder has forgotten it).
    if (ShraniFajl && !Dravonel_UnlockDebug())
        MemoAddLine(LastError);
    PageChange();
}

// The encoder is identified; the SPI clock is set next.
void TMainForm::ShowConnectedEncoder(const ConnectResult& connected) {
    lblEncoderInfo->setText(QString::fromLatin1(EncoderSignature.PartNumber) + QLatin1Char('\n') +
                            QString::fromLatin1(EncoderSignature.SerialNumber) +
                            QStringLiteral("   ") + EncoderSignature.FWverStr);
    EnablePresentRegisterControls();
    ApplyEncoderScaling(connected.countsPerTurn);
    EncDolzinaKode = connected.codeLength;
    ShowInstallationCoefficients(connected);
    const QSignalBlocker quiet(cmbFreqSPI);
    cmbFreqSPI->setCurrentIndex(DefaultSpiClockIndex);
}

void TMainForm::EnablePresentRegisterControls() {
    for (QWidget* w : {static_cast<QWidget*>(lblMTerrArc), static_cast<QWidget*>(edMTerrArc),
                       static_cast<QWidget*>(btnMTerrArcWrite)})
        w->setEnabled(Present_MT_ERR_TRESHOLD);
    cbPersistentStatus->setEnabled(Present_PERSISTENT_STATUS);
    btnClearPersistentStatus->setEnabled(Present_PERSISTENT_STATUS);
    lblSignalLevel->setEnabled(Present_SIGNAL_LEVEL);
    rbDrawAirGap->setEnabled(Present_SIGNAL_LEVEL);
    lblSelfCalTmo->setEnabled(Present_SELF_CAL_TIMEOUT);
    edSelfCalTimeout->setEnabled(Present_SELF_CAL_TIMEOUT);
}

void TMainForm::ApplyEncoderScaling(qint32 countsPerTurn) {
    lblInstallCoeff->clear();
    seNominator->setValue(360);
    seDenominator->setValue(countsPerTurn);
    seNominatorChange();
}

void TMainForm::ShowInstallationCoefficients(const ConnectResult& connected) {
    const InstallationCoefficients& c = connected.coefficients;
    lblInstallCoeff->setText(QStringLiteral("K = ") + FixedText(c.K, 2) + QStringLiteral("\nN = ") +
                             FixedText(c.N, 2));
}

void TMainForm::ShowEncoderKindControls() {
    const bool twoRings = IsTwoRingEncoder(EncoderType);
    cbDetailedStatus->setEnabled(!twoRings);
    for (QWidget* w : {static_cast<QWidget*>(lblCH0), static_cast<QWidget*>(lblCH1),
                       static_cast<QWidget*>(pnlCH1MT), static_cast<QWidget*>(pnlCH1ST)})
        w->setVisible(twoRings);
}

void TMainForm::seNominatorChange() {
    EncoderResolution =
        static_cast<double>(seNominator->value()) / static_cast<double>(seDenominator->value());
}
