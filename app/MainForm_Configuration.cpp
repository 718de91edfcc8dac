// The Configuration tab: the encoder's stored settings (position offset,
// position filter, multi-turn error arc, multi-turn preset), saving them to
// the encoder's NVRAM, the factory reset and "Set zero here"; and the
// tab-change handler that refreshes the Configuration and Self-Calibration
// tabs from the encoder.
#include "Enkoderji_splosno.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "TypedNumber.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <limits>

namespace {

constexpr unsigned long StoreSettleMs = 150; // the encoder writes its NVRAM meanwhile
constexpr qint64 ZeroMarginCounts = 2;       // the new zero lies this far behind the shaft

const QString NoStatus = QStringLiteral("...");

// A message with the line breaks of a message box.
QString asLines(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QString invalidSetting(const QString& name, const QString& text) {
    return QStringLiteral("Invalid %1 \"%2\": enter a whole number from 0 to %3.")
        .arg(name, text)
        .arg(std::numeric_limits<qint32>::max());
}

// The value of a setting edit to be written: a blank field writes 0; text
// that is not a whole number, or a negative or too large one, is refused with
// a message and nothing is sent (a typo must not move the encoder's zero).
bool settingToWrite(TMainForm& form, const QLineEdit* edit, const QString& name, quint32& value) {
    const TypedNumber number = ParseTypedNumber(edit->text());
    if (!number.NumberOrBlank() || number.ValueOr(0) < 0) {
        form.ShowMessage(invalidSetting(name, edit->text()));
        return false;
    }
    value = static_cast<quint32>(number.ValueOr(0));
    return true;
}

void refreshConfigurationPage(TMainForm& form) {
    quint32 setting = 0;
    if (Dravonel_ReadPositionOffset(setting))
        form.edPosOffset->setText(QString::number(setting));
    else
        form.MemoAddLine(LastError);
    if (Dravonel_ReadPositionFilter(setting))
        form.edFilterPosVal->setText(QString::number(setting));
    else
        form.MemoAddLine(LastError);
    if (!Present_MT_ERR_TRESHOLD)
        return;
    quint8 arc = 0;
    if (Dravonel_ReadMultiturnErrorArc(arc))
        form.edMTerrArc->setText(QString::number(arc));
    else
        form.MemoAddLine(LastError);
}

// Save to NVRAM and Factory Reset: the command, a pause for the encoder,
// the page refresh and the outcome. The read cycle pauses meanwhile.
void storeSettings(TMainForm& form, bool (*command)(), const QString& done, const QString& failed) {
    form.EnableConstReading = false;
    const bool stored = command();
    const QString failure = LastError;
    QThread::msleep(StoreSettleMs);
    form.PageChange();
    if (stored) {
        form.ShowMessage(done);
    } else {
        form.MemoAddLine(failure);
        form.ShowMessage(asLines(failed + QLatin1Char('\n') + failure));
    }
    form.EnableConstReading = true;
}

// What keeps the last reading from being a zero reference ("Timeout, CRC, "),
// empty when it is good.
QString readingErrors(const TMainForm& form) {
    const TEncoderPosition& p = EncoderPosition;
    QString errors;
    if (p.ErrTimeout)
        errors += QStringLiteral("Timeout, ");
    if (p.ErrBit)
        errors += QStringLiteral("Error bit, ");
    if (p.ErrCRC)
        errors += QStringLiteral("CRC, ");
    if (p.ErrComm != 0)
        errors += QStringLiteral("Comm, ");
    // A reply the read could not use (a "d" reply of the wrong length) raises
    // no flag; its position is an old one.
    if (!form.LastReadingOk)
        errors += QStringLiteral("Read, ");
    return errors;
}

// offset + counts - 2, wrapped into one revolution; 64-bit, so no sum of two
// 32-bit values overflows.
qint64 zeroOffsetAt(qint64 offset, qint64 singleturn, qint64 countsPerTurn) {
    const qint64 zero = offset + singleturn - ZeroMarginCounts;
    if (countsPerTurn <= 0)
        return zero;
    return ((zero % countsPerTurn) + countsPerTurn) % countsPerTurn;
}

void showZeroError(TMainForm& form) {
    if (!LastError.isEmpty())
        form.ShowMessage(asLines(
            QStringLiteral("Error writing new zero position. Errors encountered: ") + LastError));
}

} // namespace

void TMainForm::ConnectConfigurationHandlers() {
    connect(Page, &QTabWidget::currentChanged, this, &TMainForm::PageChange);
    connect(btnWriteZero, &QPushButton::clicked, this, &TMainForm::btnWriteZeroClick);
    connect(btnWriteFilter, &QPushButton::clicked, this, &TMainForm::btnWriteFilterClick);
    connect(btnMTerrArcWrite, &QPushButton::clicked, this, &TMainForm::btnMTerrArcWriteClick);
    connect(btnApplyMT, &QPushButton::clicked, this, &TMainForm::btnApplyMTClick);
    connect(btnSaveFlash, &QPushButton::clicked, this, &TMainForm::btnSaveFlashClick);
    connect(btnFactoryReset, &QPushButton::clicked, this, &TMainForm::btnFactoryResetClick);
    connect(btnUlvaxSetZero, &QPushButton::clicked, this, &TMainForm::btnUlvaxSetZeroClick);
}

// Refreshes the fields of the tab now showing, when it is the Configuration
// or the Self-Calibration tab.
void TMainForm::PageChange() {
    if (Page->currentWidget() == tabConfig)
        refreshConfigurationPage(*this);
    else if (Page->currentWidget() == tabSelfCal)
        RefreshSelfCalibrationPage();
}

void TMainForm::btnWriteZeroClick() {
    quint32 offset = 0;
    if (settingToWrite(*this, edPosOffset, QStringLiteral("position offset"), offset) &&
        !Dravonel_WritePositionOffset(offset))
        MemoAddLine(LastError);
}

// The new filter takes effect in the encoder after a power cycle.
void TMainForm::btnWriteFilterClick() {
    quint32 filter = 0;
    if (settingToWrite(*this, edFilterPosVal, QStringLiteral("position filter"), filter) &&
        !Dravonel_WritePositionFilter(filter))
        MemoAddLine(LastError);
}

void TMainForm::btnMTerrArcWriteClick() {
    quint32 arc = 0;
    if (settingToWrite(*this, edMTerrArc, QStringLiteral("multiturn error arc"), arc) &&
        !Dravonel_WriteMultiturnErrorArc(arc))
        MemoAddLine(LastError);
}

// The preset is the typed number's low 16 bits: -1 presets 65535, a blank
// field 0.
void TMainForm::btnApplyMTClick() {
    const TypedNumber number = ParseTypedNumber(edMultiturnPreset->text());
    if (!number.NumberOrBlank()) {
        ShowMessage(QStringLiteral("Invalid multiturn preset \"%1\": enter a whole number.")
                        .arg(edMultiturnPreset->text()));
        return;
    }
    if (!Dravonel_PresetMultiturnCounter(static_cast<quint16>(number.ValueOr(0))))
        MemoAddLine(LastError);
}

void TMainForm::btnSaveFlashClick() {
    storeSettings(*this, &Dravonel_SaveToFlash, QStringLiteral("Save data done!"),
                  QStringLiteral("Save data failed!"));
}

void TMainForm::btnFactoryResetClick() {
    storeSettings(*this, &Dravonel_FactoryReset, QStringLiteral("Factory reset done!"),
                  QStringLiteral("Factory reset failed!"));
}

// Moves the zero to the shaft's current position (2 counts behind it), saves
// it and presets the multi-turn counter to 0, before and after the save.
void TMainForm::btnUlvaxSetZeroClick() {
    EnableConstReading = false;
    lblUlvaxZeroStatus->setText(NoStatus);
    lblUlvaxZeroStatus->repaint();
    PageChange();
    btnReadEncoderClick();
    const QString errors = readingErrors(*this);
    const TypedNumber current = ParseTypedNumber(edPosOffset->text());
    if (!errors.isEmpty() || !current.NumberOrBlank()) {
        ShowMessage(errors.isEmpty()
                        ? invalidSetting(QStringLiteral("position offset"), edPosOffset->text())
                        : QStringLiteral("Unable to set zero position. Errors encountered: ") +
                              errors);
        EnableConstReading = true;
        return;
    }
    edMultiturnPreset->setText(QStringLiteral("0"));
    LastError.clear();
    if (MTbits > 0)
        btnApplyMTClick();

    const qint64 offset = current.ValueOr(0);
    const quint32 singleturn = EncoderPosition.ST_value;
    const QString before =
        QStringLiteral("Current zero pos: %1\nEncoder pos: %2\n").arg(offset).arg(singleturn);
    lblUlvaxZeroStatus->setText(before);
    const qint64 zero = zeroOffsetAt(offset, singleturn, STcounts);
    edPosOffset->setText(QString::number(zero));
    btnWriteZeroClick();
    showZeroError(*this);

    btnSaveFlashClick();
    lblUlvaxZeroStatus->setText(before +
                                QStringLiteral("New zero pos: %1\nMultiturn preset: 0").arg(zero));
    if (MTbits > 0)
        btnApplyMTClick();
    showZeroError(*this);
    EnableConstReading = true;
}
