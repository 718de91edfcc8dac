// The adapter settings of the Initialization tab: encoder supply on and off,
// SPI clock, NCS-SCK delay and the protocol variant.
#include "AdapterWorkflows.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QSpinBox>

namespace {
constexpr int Item3V3 = 0;
constexpr int Item5V = 1;
} // namespace

void TMainForm::btnPowerONClick() {
    for (QLineSeries* series : {SeriesBlue, SeriesGreen}) {
        series->clear();
        series->clearPointsConfiguration();
    }
    const EncoderSupplyVoltage voltage =
        rgPowerSel->ItemIndex() == Item5V ? EncoderSupplyVoltage::V5 : EncoderSupplyVoltage::V3_3;
    const SupplyResult supply = PowerOnEncoder(voltage, Front());
    if (supply.LinkBroken())
        RestartAdapterSearch();
    else
        ShowSupplyState(supply.state);
}

void TMainForm::ShowSupplyState(const QByteArray& state) {
    lblPower->setText(QString::fromLatin1(state));
}

void TMainForm::btnPowerOFFClick() {
    if (PowerOffEncoder().LinkBroken())
        RestartAdapterSearch();
    else
        ClearMemo();
}

void TMainForm::cmbFreqSPIChange() {
    SetSpiClock(cmbFreqSPI->currentIndex() + 1, Front());
}

void TMainForm::seNCS_SCK_delayChange() {
    SetNcsSckDelay(seNCS_SCK_delay->value(), Front());
}

void TMainForm::cbDravonelJQLOMAClick() {
    const bool loma = cbDravonelJQLOMA->isChecked();
    cbDetailedStatus->setChecked(!loma); // runs its own handler when it changes
    cbDetailedStatus->setEnabled(!loma);
    if (loma) {
        if (!AdapterSupportsLomaAndBrix(Q714VerzijaFW))
            ShowMessage(TooOldAdapterText);
        rgPowerSel->SetItemIndex(Item3V3);
    } else {
        rgPowerSel->SetItemIndex(Item5V);
    }
}

void TMainForm::cbDetailedStatusClick() {
    if (cbDetailedStatus->isChecked())
        cbPersistentStatus->setChecked(false);
}

void TMainForm::cbPersistentStatusClick() {
    if (cbPersistentStatus->isChecked())
        cbDetailedStatus->setChecked(false);
}
