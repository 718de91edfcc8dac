// Connecting an encoder: adapter set-up, identification (with one retry in
// non-inverted CRC mode), the identity and register lines in the log,
// scaling, code length, installation coefficients and the SPI clock.
#include "AdapterCommands.h"
#include "Enkoderji_splosno.h"
#include "InstallationCoefficients.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>

namespace {

constexpr int DefaultSpiClockIndex = 4; // "5 = 1.5 MHz"
constexpr quint8 TwoRingEncoder = 7;

bool mayNeedNonInvertedCrc(quint8 type) {
    return type >= 2 && type <= 5;
}

QString trueFalse(bool flag) {
    return flag ? QStringLiteral("True") : QStringLiteral("False");
}

QString latin1(const QByteArray& text) {
    return QString::fromLatin1(text);
}

} // namespace

void TMainForm::btnConnectEncoderClick() {
    FrameCounter = 0.0;
    QByteArray reply;
    EncoderPosition.ErrComm = Exchange(AdapterCommand::SupplyState, reply);
    if (EncoderPosition.ErrComm < 0) {
        RestartAdapterSearch();
        return;
    }
    lblPower->setText(latin1(TrimText(reply)));

    const bool identified = SetUpAdapterAndIdentify();
    LogEncoderIdentity();
    if (!identified) {
        MemoAddLine(QStringLiteral("Error reading Encoder signature!\r\n") + LastError);
        return;
    }
    lblEncoderInfo->setText(latin1(EncoderSignature.PartNumber) + QLatin1Char('\n') +
                            latin1(EncoderSignature.SerialNumber) + QStringLiteral("   ") +
                            EncoderSignature.FWverStr);
    LogAndEnablePresentRegisters();
    ApplyEncoderScaling();
    ApplyInstallationCoefficients();
    ApplyDefaultSpiClock();
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

bool TMainForm::SetUpAdapterAndIdentify() {
    for (bool retried = false;; retried = true) {
        SendSetupCommand(cbDravonelJQLOMA->isChecked() ? AdapterCommand::CrcNonInverted
                                                       : AdapterCommand::CrcInverted);
        SendSetupCommand(AdapterCommand::SpiSetup);
        seNCS_SCK_delayChange();
        if (Dravonel_ReadEncoderSignature())
            return true;
        if (retried || !mayNeedNonInvertedCrc(EncoderType))
            return false;
        MemoAddLine(QStringLiteral("Error reading Encoder signature!\r\n") + LastError);
        MemoAddLine(QStringLiteral("Trying again with non-inverted CRC..."));
        cbDravonelJQLOMA->setChecked(true); // as if ticked by the user, when it changes
    }
}

void TMainForm::LogEncoderIdentity() {
    MemoAddLine(QStringLiteral("Dravonel version: %1").arg(DravonelVersion));
    MemoAddLine(QStringLiteral("Part number: ") + latin1(EncoderSignature.PartNumber));
    MemoAddLine(QStringLiteral("Serial number: ") + latin1(EncoderSignature.SerialNumber));
    MemoAddLine(QStringLiteral("FW version: ") + EncoderSignature.FWverStr);
}

void TMainForm::LogAndEnablePresentRegisters() {
    MemoAddLine(QStringLiteral("Registers present in the encoder:"));
    MemoAddLine(QStringLiteral("  MT_ERR_TRESHOLD  \t") + trueFalse(Present_MT_ERR_TRESHOLD));
    MemoAddLine(QStringLiteral("  PERSISTENT_STATUS\t") + trueFalse(Present_PERSISTENT_STATUS));
    MemoAddLine(QStringLiteral("  SIGNAL_LEVEL     \t") + trueFalse(Present_SIGNAL_LEVEL));
    MemoAddLine(QStringLiteral("  SELF_CAL_TIMEOUT \t") + trueFalse(Present_SELF_CAL_TIMEOUT));
    MemoAddLine(QStringLiteral("  FIRMWARE_REVISION\t") + trueFalse(Present_FIRMWARE_REVISION) +
                QStringLiteral(" [%1] [%2]")
                    .arg(REG_SIZE_DRAVONEL_FW_VERSION)
                    .arg(REG_SIZE_DRAVONEL_FW_SVN));
    MemoAddLine(QStringLiteral("  U4_RUNTIME_LOG   \t") + trueFalse(Present_U4_RUNTIME_LOG));

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

void TMainForm::ApplyEncoderScaling() {
    lblInstallCoeff->clear();
    seNominator->setValue(360);
    seDenominator->setValue(STcounts);
    seNominatorChange();
}

void TMainForm::ApplyInstallationCoefficients() {
    EncDolzinaKode = CodeLengthOfRing(EncoderSignature.PartNumber);
    const InstallationCoefficients c = InstallationCoefficientsFor(
        {EncDolzinaKode, EncoderSignature.FWverMajor, EncoderSignature.FWverMinor, EncoderType,
         EncoderSignature.PartNumber});
    if (c.extendedAirGap) {
        EncoderSignature.Asko = true;
        MemoAddLine(QStringLiteral("Encoder with extended air gap"));
    }
    EncoderSignature.AirGapK = c.K;
    EncoderSignature.AirGapN = c.N;
    lblInstallCoeff->setText(QStringLiteral("K = ") + FixedText(c.K, 2) + QStringLiteral("\nN = ") +
                             FixedText(c.N, 2));
}

void TMainForm::ApplyDefaultSpiClock() {
    {
        const QSignalBlocker quiet(cmbFreqSPI);
        cmbFreqSPI->setCurrentIndex(DefaultSpiClockIndex);
    }
    cmbFreqSPIChange();
}

void TMainForm::ShowEncoderKindControls() {
    cbDetailedStatus->setEnabled(EncoderType != TwoRingEncoder);
    const bool twoRings = EncoderType == TwoRingEncoder;
    for (QWidget* w : {static_cast<QWidget*>(lblCH0), static_cast<QWidget*>(lblCH1),
                       static_cast<QWidget*>(pnlCH1MT), static_cast<QWidget*>(pnlCH1ST)})
        w->setVisible(twoRings);
}

void TMainForm::seNominatorChange() {
    EncoderResolution =
        static_cast<double>(seNominator->value()) / static_cast<double>(seDenominator->value());
}
