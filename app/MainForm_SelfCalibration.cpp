// The Self-Calibration tab: starting a run with its arc and time-out, the
// progress timer that waits for its end, and "Read status", which shows the
// status bits as coloured panels together with the results.
#include "Enkoderji_splosno.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "TypedNumber.h"
#include "Ulvax_konstante.h"
#include "Widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <cmath>

namespace {

constexpr QRgb Gray = 0x808080;
constexpr QRgb Red = 0xFF0000;
constexpr QRgb BrightGreen = 0x00FF00;
constexpr QRgb Orange = 0xFFAA00;
constexpr QRgb Green = 0x008000;

constexpr qint32 DefaultArc = 360;      // degrees, for text that is no number
constexpr qint32 DefaultTimeout = 10;   // seconds, for text that is no number
constexpr qint32 LongestTimeout = 40;   // seconds; also replaces 0
constexpr double TicksPerSecond = 2.4;  // 500 ms ticks, with a fifth to spare
constexpr int TicksWithoutTimeout = 24; // 12 s when the time-out cannot be set
constexpr quint32 LastOldEndTestRevision = 9356;
constexpr quint32 RunCounterBits = 3; // bits 0 and 1 count finished runs

// Part numbers whose 12th character is one of these report three more results.
constexpr char ExtraResultCodes[] = "STUVWZ";
constexpr int ExtraResultCodeIndex = 11;

const QString NewLine = QStringLiteral("\n");

bool bitSet(quint32 status, int bit) {
    return (status >> bit) & 1u;
}

void setPanel(QWidget* panel, bool on, QRgb colour) {
    SetPanelColor(panel, on ? colour : Gray);
}

QString crlfAsLines(QString text) {
    return text.replace(QLatin1String("\r\n"), NewLine);
}

// The number in the edit, or `fallback` for text that is no number; false
// after a message when it lies outside 0 to `largest`.
bool numberInRange(TMainForm& form, const QLineEdit* edit, const QString& name, qint32 fallback,
                   qint32 largest, qint32& value) {
    const TypedNumber number = ParseTypedNumber(edit->text());
    value = number.ValueOr(fallback);
    if (number.kind != TypedNumber::OutOfRange && value >= 0 && value <= largest)
        return true;
    form.ShowMessage(QStringLiteral("Invalid %1 \"%2\": enter a whole number from 0 to %3.")
                         .arg(name, edit->text())
                         .arg(largest));
    return false;
}

// The arc to write (0: leave the encoder's), false when refused.
bool arcToStart(TMainForm& form, qint32& arc) {
    arc = 0;
    return !form.edSelfCalArc->isEnabled() ||
           numberInRange(form, form.edSelfCalArc, QStringLiteral("partial arc"), DefaultArc, 0xFFFF,
                         arc);
}

// The time-out to write (0: leave the encoder's), false when refused.
// Time-outs of 0 and above 40 s become 40 s.
bool timeoutToStart(TMainForm& form, qint32& timeout) {
    timeout = 0;
    if (!form.edSelfCalTimeout->isEnabled())
        return true;
    if (!numberInRange(form, form.edSelfCalTimeout, QStringLiteral("timeout"), DefaultTimeout, 0xFF,
                       timeout))
        return false;
    if (timeout == 0 || timeout > LongestTimeout) {
        timeout = LongestTimeout;
        form.edSelfCalTimeout->setText(QString::number(LongestTimeout));
    }
    return true;
}

int progressTicks(qint32 timeout) {
    return timeout > 0 ? static_cast<int>(std::lround(timeout * TicksPerSecond))
                       : TicksWithoutTimeout;
}

std::array<QLabel*, 11> statusPanels(const TMainForm& f) {
    return {f.pnlAselfCalParamOutOfRange, f.pnlAselfCalFinished,     f.pnlAselfCalOutOfRange,
            f.pnlAselfCalTimeout,         f.pnlAselfCalSucessfull,   f.pnlAselfCalNoCorrection,
            f.pnlASelfCalUserErrMap,      f.pnlASelfCalEncoderError, f.pnlASelfCalNumericalErr,
            f.pnlASelfCalRadialDisp,      f.pnlASelfCalWriteErr};
}

// The panels of a 1-byte status; true when the status is good.
bool showOneByteStatus(TMainForm& f, quint32 s) {
    setPanel(f.pnlAselfCalTimeout, bitSet(s, 2), Red);
    setPanel(f.pnlAselfCalOutOfRange, bitSet(s, 3), Red);
    setPanel(f.pnlAselfCalParamOutOfRange, bitSet(s, 4), Red);
    setPanel(f.pnlAselfCalNoCorrection, bitSet(s, 5), Orange);
    setPanel(f.pnlASelfCalUserErrMap, bitSet(s, 6), BrightGreen);
    return !bitSet(s, 2) && !bitSet(s, 3) && !bitSet(s, 4);
}

// The panels of a 4-byte status: bit 6 (failed) outranks bit 4 (successful);
// true when the status is good.
bool showFourByteStatus(TMainForm& f, quint32 s) {
    if (bitSet(s, 6))
        SetPanelColor(f.pnlAselfCalSucessfull, Red);
    else
        setPanel(f.pnlAselfCalSucessfull, bitSet(s, 4), BrightGreen);
    setPanel(f.pnlAselfCalNoCorrection, bitSet(s, 5), Orange);
    setPanel(f.pnlAselfCalTimeout, bitSet(s, 8), Red);
    setPanel(f.pnlASelfCalEncoderError, bitSet(s, 9), Red);
    setPanel(f.pnlASelfCalNumericalErr, bitSet(s, 12), Red);
    setPanel(f.pnlAselfCalOutOfRange, bitSet(s, 13), Red);
    setPanel(f.pnlASelfCalRadialDisp, bitSet(s, 15), Red);
    setPanel(f.pnlASelfCalUserErrMap, bitSet(s, 20), BrightGreen);
    setPanel(f.pnlASelfCalWriteErr, bitSet(s, 21), Red);
    return !bitSet(s, 6);
}

bool hasExtraResults() {
    const QByteArray& part = EncoderSignature.PartNumber;
    return part.size() > ExtraResultCodeIndex &&
           QByteArray(ExtraResultCodes).contains(part[ExtraResultCodeIndex]);
}

// The three results of extended-air-gap encoders; a failed read is logged
// and shown as 0.
void appendExtraResults(TMainForm& form) {
    struct ExtraResult {
        quint32 address;
        const char* label;
        bool isSigned;
    };
    static constexpr ExtraResult results[] = {
        {REG_ADDR_DRAVONEL_CAL_AVG_H, "Avg h = ", true},
        {REG_ADDR_DRAVONEL_CAL_ECC_SHIFT, "Ecc shift = ", false},
        {REG_ADDR_DRAVONEL_CAL_ECC_PHASE_EXTRA, "Ecc phase = ", false},
    };
    QString text = NewLine + QStringLiteral("----------------------");
    for (const ExtraResult& result : results) {
        quint16 word = 0;
        if (!Dravonel_ReadWord(result.address, word))
            form.MemoAddLine(LastError);
        const qint32 value = result.isSigned ? qint32(qint16(word)) : qint32(word);
        text += NewLine + QLatin1String(result.label) + QString::number(value);
    }
    form.mmSelfCalStatus->setPlainText(form.mmSelfCalStatus->toPlainText() + text);
}

// The end test of a tick: firmware after revision 9356 answers again once
// the run is over; older firmware only shows it by changed results.
bool runHasEnded(const TMainForm& form) {
    if (!Dravonel_ReadSelfCalResults())
        return false;
    return EncoderSignature.FWverSVN > LastOldEndTestRevision ||
           SelfCalResultsText.toLatin1() != form.SelfCalResultStart;
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
    quint16 arc = 0;
    if (Dravonel_ReadSelfCalArc(arc)) {
        edSelfCalArc->setText(QString::number(arc));
    } else {
        MemoAddLine(LastError);
        edSelfCalArc->setEnabled(false); // the encoder's own arc is used from now on
    }
    if (Present_SELF_CAL_TIMEOUT) {
        quint8 timeout = 0;
        if (Dravonel_ReadSelfCalTimeout(timeout)) {
            edSelfCalTimeout->setText(QString::number(timeout));
        } else {
            MemoAddLine(LastError);
            edSelfCalTimeout->setText(QStringLiteral("0"));
            edSelfCalTimeout->setEnabled(false);
        }
    }
    btnSelfCalReadStatusClick();
}

// Numbers are checked before anything is sent; the read cycle pauses until
// the run has ended.
void TMainForm::btnSelfCalStartClick() {
    qint32 arc = 0;
    qint32 timeout = 0;
    if (!arcToStart(*this, arc) || !timeoutToStart(*this, timeout))
        return;
    EnableConstReading = false;
    for (QLabel* panel : statusPanels(*this))
        SetPanelColor(panel, Gray);
    if (!Dravonel_ReadSelfCalResults()) {
        MemoAddLine(LastError);
        return;
    }
    SelfCalResultStart = SelfCalResultsText.toLatin1();
    SelfCalCounterStart = static_cast<quint8>(SelfCalStatus & RunCounterBits);
    pbSelfCalProgress->setMaximum(progressTicks(timeout));
    if (!Dravonel_StartSefCal(static_cast<quint16>(arc), static_cast<quint8>(timeout)))
        MemoAddLine(LastError);
    mmSelfCalStatus->setPlainText(QStringLiteral("Status: ") +
                                  QString::fromLatin1(IntToBin(8, SelfCalStatus)));
    pbSelfCalProgress->setValue(0);
    tmrSelfCalWait->start();
    enableSelfCalButtons(*this, false);
}

// Read failures during the run are not reported: the run then ends by the
// number of ticks.
void TMainForm::tmrSelfCalWaitTimer() {
    const int position = pbSelfCalProgress->value() + 1;
    pbSelfCalProgress->setValue(position);
    if (position >= pbSelfCalProgress->maximum() || runHasEnded(*this)) {
        tmrSelfCalWait->stop();
        enableSelfCalButtons(*this, true);
        btnSelfCalReadStatusClick();
        EnableConstReading = true;
    }
    LastError.clear();
}

void TMainForm::btnSelfCalReadStatusClick() {
    if (!Dravonel_ReadSelfCalResults()) {
        MemoAddLine(LastError);
        return;
    }
    const quint32 status = SelfCalStatus;
    mmSelfCalStatus->setPlainText(
        QStringLiteral("Status: ") +
        QString::fromLatin1(IntToBin(8 * REG_SIZE_DRAVONEL_CAL_STATUS, status)) + NewLine +
        crlfAsLines(SelfCalResultsText));
    const bool runFinished = (status & RunCounterBits) != SelfCalCounterStart;
    const bool good = REG_SIZE_DRAVONEL_CAL_STATUS == 4 ? showFourByteStatus(*this, status)
                                                        : showOneByteStatus(*this, status);
    const bool successful = runFinished && !EncoderPosition.ErrBit && good;
    setPanel(pnlAselfCalSucessfull, successful, BrightGreen);
    pbSelfCalProgress->setValue(successful ? pbSelfCalProgress->maximum() : 0);
    if (hasExtraResults())
        appendExtraResults(*this);
    setPanel(pnlAselfCalFinished, runFinished, Green);
}
