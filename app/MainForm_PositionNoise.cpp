// The position-noise measurement: 5000 read cycles of a resting shaft, the
// spread, mean and six standard deviations of the single-turn count, the
// average signal level, and a summary line for the clipboard.
#include "Clipboard.h"
#include "Enkoderji_splosno.h"
#include "PositionNoise.h"
#include "Q714_7R_Dravonel_SPI_Main.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString ButtonCaption = QStringLiteral("Position Noise");

// A reading refused because no encoder is connected ends the run as well.
bool readingFailed(const TMainForm& form) {
    return EncoderPosition.ErrTimeout || EncoderPosition.ErrComm != 0 || !form.EncoderConnected;
}

} // namespace

void TMainForm::ConnectPositionNoiseHandlers() {
    connect(btnPositionNoise, &QPushButton::clicked, this, &TMainForm::btnPositionNoiseClick);
}

void TMainForm::btnPositionNoiseClick() {
    btnPositionNoise->setEnabled(false);
    rbDrawNone->setChecked(true); // the readings draw no chart points
    PositionNoiseHooks hooks;
    hooks.takeReading = [this](bool withSignalLevel) {
        StatBeriSignalLevel = withSignalLevel;
        LoopReadCycle(); // the display follows at the screen's pace
        QCoreApplication::processEvents();
        StatBeriSignalLevel = false;
        return readingFailed(*this);
    };
    hooks.progress = [this](int percent) {
        btnPositionNoise->setText(QString::number(percent) + QStringLiteral(" %"));
    };
    const PositionNoiseResult result = MeasurePositionNoise(Front(), hooks);
    ShowLatestReading();
    mmTestRezultat->setPlainText(result.report.join(QLatin1Char('\n')));
    CopyToClipboard(result.clipboardLine + QStringLiteral("\r\n"));
    // Afterwards the program keeps a decimal point.
    if (FormatSettings.decimalPoint() != QLatin1String("."))
        FormatSettings = QLocale(QLocale::English, QLocale::UnitedStates);
    btnPositionNoise->setText(ButtonCaption);
    btnPositionNoise->setEnabled(true);
}
