// The adapter settings of the Initialization tab: encoder supply on and off,
// SPI clock, NCS-SCK delay and the protocol variant.
#include "AdapterCommands.h"
#include "Enkoderji_splosno.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Serial_driver.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QThread>

namespace {

constexpr qint32 MinimumAdapterForLomaAndBrix = 109;
constexpr int PowerSettleMs = 200;
constexpr int Item3V3 = 0;
constexpr int Item5V = 1;

QString powerSupplyProblem(const QByteArray& command, const QByteArray& reply) {
    return QStringLiteral("Setting power supply (") + QString::fromLatin1(command) +
           QStringLiteral(") not successfull! (") + QString::fromLatin1(KeepPrintable(reply)) +
           QStringLiteral(")");
}

} // namespace

qint32 TMainForm::Exchange(const QByteArray& command, QByteArray& reply) {
    return SerialTransaction(COMPortHandle, command, 0, reply);
}

void TMainForm::btnPowerONClick() {
    for (QLineSeries* series : {SeriesBlue, SeriesGreen}) {
        series->clear();
        series->clearPointsConfiguration();
    }
    const QByteArray supply =
        rgPowerSel->ItemIndex() == Item5V ? AdapterCommand::Supply5V : AdapterCommand::Supply3V3;
    QByteArray reply;
    EncoderPosition.ErrComm = Exchange(supply, reply);
    if (EncoderPosition.ErrComm < 0) {
        RestartAdapterSearch();
        return;
    }
    if (!reply.startsWith(supply))
        ShowMessage(powerSupplyProblem(supply, reply));

    Exchange(AdapterCommand::PowerOn, reply);
    MemoAddLine(QString::fromLatin1(KeepPrintable(reply)));
    if (!reply.startsWith(PowerOnAcknowledgement))
        ShowMessage(powerSupplyProblem(AdapterCommand::PowerOn, reply));

    // The supply needs a moment before its state means anything; the window
    // deliberately does not react meanwhile.
    QThread::msleep(PowerSettleMs);
    RefreshSupplyState();
    MemoAddLine(lblPower->text());
}

void TMainForm::RefreshSupplyState() {
    QByteArray reply;
    EncoderPosition.ErrComm = Exchange(AdapterCommand::SupplyState, reply);
    lblPower->setText(QString::fromLatin1(TrimText(reply)));
}

void TMainForm::btnPowerOFFClick() {
    QByteArray reply;
    EncoderPosition.ErrComm = Exchange(AdapterCommand::PowerOff, reply);
    if (EncoderPosition.ErrComm < 0)
        RestartAdapterSearch();
    else
        ClearMemo();
}

void TMainForm::cmbFreqSPIChange() {
    const int setting = cmbFreqSPI->currentIndex() + 1;
    QByteArray reply;
    if (Exchange(SpiClockCommand(setting), reply) == 0) {
        if (Exchange(AdapterCommand::ReadSpiClock, reply) == 0)
            MemoAddLine(QStringLiteral("Frequency: ") + QString::fromLatin1(TrimText(reply)));
    }
    if (reply.isEmpty())
        ShowMessage(QStringLiteral("Setting frequency %1 not successfull.").arg(setting));
}

void TMainForm::seNCS_SCK_delayChange() {
    const QByteArray command = NcsSckDelayCommand(seNCS_SCK_delay->value());
    QByteArray reply;
    const qint32 result = Exchange(command, reply);
    for (const QString& problem : SetupCommandProblems(command, result, reply))
        ShowMessage(problem);
    MemoAddLine(QStringLiteral("Setting: ") + QString::fromLatin1(KeepPrintable(reply)));
}

void TMainForm::SendSetupCommand(const QByteArray& command) {
    QByteArray reply;
    const qint32 result = Exchange(command, reply);
    for (const QString& problem : SetupCommandProblems(command, result, reply))
        MemoAddLine(problem);
    MemoAddLine(QStringLiteral("Setting: ") + QString::fromLatin1(KeepPrintable(reply)));
}

void TMainForm::cbDravonelJQLOMAClick() {
    const bool loma = cbDravonelJQLOMA->isChecked();
    cbDetailedStatus->setChecked(!loma); // runs its own handler when it changes
    cbDetailedStatus->setEnabled(!loma);
    if (loma) {
        if (Q714VerzijaFW < MinimumAdapterForLomaAndBrix)
            ShowMessage(QStringLiteral("Too old interface version! Use Q714-7R v1.09 or newer!"));
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
