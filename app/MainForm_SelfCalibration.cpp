// The Self-Calibration tab: starting a run with its arc and time-out, the
// progress timer that waits for its end, and "Read status", which shows the
// status bits as coloured panels together with the results.
#include "EditNumbers.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "SelfCalibration.h"
#include "Widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <array>

namespace {

QRgb colourOf(SelfCalSignal signal) {
    switch (signal) {
    case SelfCalSignal::Fault:
        return 0xFF0000;
    case SelfCalSignal::Positive:
        return 0x00FF00;
    case SelfCalSignal::Notice:
        return 0xFFAA00;
    case SelfCalSignal::Done:
        return 0x008000;
    case SelfCalSignal::Off:
        break;
    }
    return 0x808080;
}

std::array<QLabel*, SelfCalPanelCount> statusPanels(const TMainForm& f) {
    std::array<QLabel*, SelfCalPanelCount> panels{};
    panels[PanelParamOutOfRange] = f.pnlAselfCalParamOutOfRange;
    panels[PanelFinished] = f.pnlAselfCalFinished;
    panels[PanelOutOfRange] = f.pnlAselfCalOutOfRange;
    panels[PanelTimeout] = f.pnlAselfCalTimeout;
    panels[PanelSuccessful] = f.pnlAselfCalSucessfull;
    panels[PanelNoCorrection] = f.pnlAselfCalNoCorrection;
    panels[PanelUserErrMap] = f.pnlASelfCalUserErrMap;
    panels[PanelEncoderError] = f.pnlASelfCalEncoderError;
    panels[PanelNumericalErr] = f.pnlASelfCalNumericalErr;
    panels[PanelRadialDisp] = f.pnlASelfCalRadialDisp;
    panels[PanelWriteErr] = f.pnlASelfCalWriteErr;
    return panels;
}

SelfCalEdit editOf(const QLineEdit* edit) {
    return {edit->isEnabled(), edit->text()};
}

// The encoder answers nothing while it calibrates, so neither a new start nor
// a status read makes sense until the run has ended.
void enableSelfCalButtons(TMainForm& form, bool enabled) {
    form.btnSelfCalStart->setEnabled(enabled);
    form.btnSelfCalReadStatus->setEnabled(enabled);
}

} // namespace

void TMainForm::ConnectSelfCalibrationHandlers() {
    connect(btnSelfCalStart, &QPushButton::clicked, this, &TMainForm::btnSelfCalStartClick);
    connect(tmrSelfCalWait, &QTimer::timeout, this, &TMainForm::tmrSelfCalWaitTimer);
    connect(btnSelfCalReadStatus, &QPushButton::clicked, this,
            &TMainForm::btnSelfCalReadStatusClick);
}

// While a run is in progress the encoder answers nothing: the page keeps
// what it shows until the run has ended.
void TMainForm::RefreshSelfCalibrationPage() {
    if (tmrSelfCalWait->isActive())
        return;
    const SelfCalSettings settings = ReadSelfCalSettings(Front());
    if (settings.arc)
        edSelfCalArc->setText(QString::number(*settings.arc));
    else
        edSelfCalArc->setEnabled(false); // the encoder's own arc is used from now on
    if (settings.timeoutPresent) {
        if (settings.timeout) {
            edSelfCalTimeout->setText(QString::number(*settings.timeout));
        } else {
            edSelfCalTimeout->setText(QStringLiteral("0"));
            edSelfCalTimeout->setEnabled(false);
        }
    }
    btnSelfCalReadStatusClick();
}

// Numbers are checked before anything is sent; the read cycle pauses until
// the run has ended.
void TMainForm::btnSelfCalStartClick() {
    const std::optional<SelfCalEdits> edits =
        SelfCalOptionsOf(editOf(edSelfCalArc), editOf(edSelfCalTimeout), Front());
    if (!edits)
        return;
    if (edits->timeoutShown)
        edSelfCalTimeout->setText(QString::number(*edits->timeoutShown));
    const SelfCalOptions& options = edits->options;
    EnableConstReading = false;
    for (QLabel* panel : statusPanels(*this))
        SetPanelColor(panel, colourOf(SelfCalSignal::Off));
    SelfCalRun run;
    if (!StartSelfCalibration(options, run, Front()))
        return;
    pbSelfCalProgress->setMaximum(SelfCalProgressTicks(options.timeoutS));
    SelfCalResultStart = run.resultsAtStart;
    SelfCalCounterStart = run.counterAtStart;
    mmSelfCalStatus->setPlainText(SelfCalStartStatusText());
    pbSelfCalProgress->setValue(0);
    tmrSelfCalWait->start();
    enableSelfCalButtons(*this, false);
}

// Read failures during the run are not reported: the run then ends by the
// number of ticks.
void TMainForm::tmrSelfCalWaitTimer() {
    const int position = pbSelfCalProgress->value() + 1;
    pbSelfCalProgress->setValue(position);
    if (position >= pbSelfCalProgress->maximum() ||
        SelfCalibrationHasEnded({SelfCalResultStart, SelfCalCounterStart})) {
        tmrSelfCalWait->stop();
        enableSelfCalButtons(*this, true);
        btnSelfCalReadStatusClick();
        EnableConstReading = true;
    }
    LastError.clear();
}

void TMainForm::btnSelfCalReadStatusClick() {
    const SelfCalReport report = ReadSelfCalibrationStatus(SelfCalCounterStart, Front());
    if (!report.read)
        return;
    mmSelfCalStatus->setPlainText(SelfCalReportText(report));
    const std::array<QLabel*, SelfCalPanelCount> panels = statusPanels(*this);
    for (int panel = 0; panel < SelfCalPanelCount; ++panel) {
        if (report.panels[panel])
            SetPanelColor(panels[panel], colourOf(*report.panels[panel]));
    }
    pbSelfCalProgress->setValue(report.successful ? pbSelfCalProgress->maximum() : 0);
}
