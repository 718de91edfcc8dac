// The read cycle: one reading of the encoder shown everywhere at once (raw
// reply, counts, position in units, lamps, status bits and texts, diagnostics
// counters), and the continuous reading loop around it.
#include "Enkoderji_splosno.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "Ulvax_konstante.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <array>
#include <chrono>
#include <cmath>

namespace {

constexpr quint8 TwoChannelEncoder = 7;
constexpr quint32 DiagnosticsFirmwareMajor = 4;
constexpr int ShortestDelayMs = 10; // shorter pauses mean no pause at all

const QString NotConnectedText = QStringLiteral("No encoder connected: press \"Connect Encoder\".");

constexpr QRgb LampOff = 0x808080;
constexpr QRgb ErrorLampOn = 0xFF0000;
constexpr QRgb WarningLampOn = 0xFFAA00;
constexpr QRgb CrcLampOn = 0xEE82EE;
constexpr QRgb StatusTextShown = 0xFFAA00;
constexpr QRgb StatusTextEmpty = 0xFFFFFF;

constexpr int UnitDecimals = 3;
constexpr int UnitSignificantDigits = 10;

// One row of a status-text table: the text shows when all `bits` are set.
struct TStatusTextRow {
    quint32 bits;
    const char* text;
};
using TStatusTextTable = std::array<TStatusTextRow, 16>;

// Status register of 2 bytes. Bits 9 and 8 say error or warning, bits 1
// and 0 which of the pattern or motion conditions.
constexpr TStatusTextTable TwoByteStatusTexts = {{
    {1u << 15, "Error Multiturn"},
    {1u << 14, "Error Signal Clipping"},
    {1u << 13, "Warning Signal High 2"},
    {1u << 12, "Error Sensor"},
    {1u << 11, "Error SSync"},
    {1u << 10, "Error Configuration"},
    {1u << 7, "Warning Signal High"},
    {1u << 6, "Warning Signal Low"},
    {1u << 5, "Error Signal Lost"},
    {1u << 4, "Warning Temperature"},
    {1u << 3, "Error Poiwer"},
    {1u << 2, "Error System"},
    {(1u << 9) | (1u << 1), "Error Magnetic pattern"},
    {(1u << 8) | (1u << 1), "Warning Magnetic Pattern"},
    {(1u << 9) | (1u << 0), "Error Acceleration"},
    {(1u << 8) | (1u << 0), "Warning High Speed"},
}};

// Status register of 4 bytes; bits 16 to 31 have no text.
constexpr TStatusTextTable FourByteStatusTexts = {{
    {1u << 15, "Warning 8000"},
    {1u << 14, "Warning Temperature"},
    {1u << 13, "Warning Signal Low"},
    {1u << 12, "Warning Signal High"},
    {1u << 11, "Warning Magnetic Pattern"},
    {1u << 10, "Warning High Speed"},
    {1u << 9, "Error Multiturn"},
    {1u << 8, "Error Acceleration"},
    {1u << 7, "Error Magnetic Pattern"},
    {1u << 6, "Error Signal Lost"},
    {1u << 5, "Error Signal High"},
    {1u << 4, "Error System"},
    {1u << 3, "Error Power"},
    {1u << 2, "Error Configuration"},
    {1u << 1, "Error 0002"},
    {1u << 0, "Error 0001"},
}};

void setLamp(TMainForm& form, QWidget* lamp, bool on, QRgb onColour) {
    form.SetDisplayColour(lamp, on ? onColour : LampOff);
}

quint32 regDataUnsigned32() {
    return (quint32(RegData[0]) << 24) | (quint32(RegData[1]) << 16) | (quint32(RegData[2]) << 8) |
           quint32(RegData[3]);
}

qint16 regDataSigned16() {
    return static_cast<qint16>((RegData[2] << 8) | RegData[3]);
}

qint8 regDataSigned8() {
    return static_cast<qint8>(RegData[3]);
}

void stopReadingAfterFailure(TMainForm& form) {
    form.MemoAddLine(LastError);
    form.cbReadEncConstantly->setChecked(false);
}

bool readSecondChannel(TMainForm& form) {
    LastError.clear();
    if (!Dravonel_ReadTwoChannelPosition()) {
        stopReadingAfterFailure(form);
        return false;
    }
    const TEncoderPosition& p = EncoderPosition;
    form.SetDisplayText(form.lblPosMT_CH1, QString::number(p.CH1_MT_value));
    form.SetDisplayText(form.lblPosST_CH1, QString::number(p.CH1_ST_value));
    form.EncoderCH1Position_unit = double(p.CH1_MTST_value) * form.EncoderResolution;
    form.cbDetailedStatus->setChecked(false); // two channels are always read as raw frames
    return true;
}

bool readPosition(TMainForm& form) {
    LastError.clear();
    quint8 trailingByte = 0;
    const bool read = form.cbDetailedStatus->isChecked() ? Dravonel_ReadStatusPosition()
                                                         : Dravonel_ReadPosition(trailingByte);
    if (read)
        return true;
    stopReadingAfterFailure(form);
    if (EncoderPosition.ErrComm < 0)
        form.RestartAdapterSearch(); // the link is broken
    return false;
}

QString positionInUnitsText(const TMainForm& form, const TShownPosition& shown) {
    const QString unit = QLatin1Char(' ') + form.edUnit->text();
    const auto units = [&](double value) {
        return form.GroupedText(value, UnitDecimals, UnitSignificantDigits) + unit;
    };
    QString text = units(shown.Unit);
    if (shown.TwoChannels)
        text += QStringLiteral(" / ") + units(shown.UnitCh1);
    return text;
}

// The position panel's values are kept as numbers and turned into text only
// when they are shown, not for every reading of a loop.
void showPosition(TMainForm& form) {
    const TEncoderPosition& p = EncoderPosition;
    form.EncoderPosition_unit = double(p.MTST_value) * form.EncoderResolution;
    form.EncPosDegST = double(p.ST_value) * form.EncoderResolution;
    form.ShownPosition = {p.RxData,
                          p.MT_value,
                          p.ST_value,
                          form.EncoderPosition_unit,
                          form.EncoderCH1Position_unit,
                          EncoderType == TwoChannelEncoder,
                          true};
    if (!form.DisplayDeferred)
        form.ShowPositionPanel();
}

void showLamps(TMainForm& form) {
    setLamp(form, form.pnlEncErr, EncoderPosition.ErrBit, ErrorLampOn);
    setLamp(form, form.pnlEncWarn, EncoderPosition.WarnBit, WarningLampOn);
    setLamp(form, form.pnlCRC, EncoderPosition.ErrCRC, CrcLampOn);
}

QString detailedStatusBits() {
    return QString::fromLatin1(
        IntToBin(8 * REG_SIZE_DRAVONEL_PERSISTENT_STATUS, EncoderStatus.DetailedStatus));
}

void showDetailedStatusBits(TMainForm& form) {
    form.SetDisplayText(form.lblDetailedStatus, detailedStatusBits());
}

void logEncoderFlags(TMainForm& form) {
    if (!form.cbLogErrors->isChecked())
        return;
    if (EncoderPosition.ErrBit)
        form.MemoAddLine(QStringLiteral("Error!"));
    if (EncoderPosition.WarnBit)
        form.MemoAddLine(QStringLiteral("Warning!"));
    if (EncoderPosition.ErrCRC)
        form.MemoAddLine(QStringLiteral("CRC!"));
    if (EncoderStatus.DetailedStatus != 0)
        form.MemoAddLine(QStringLiteral("Status: ") + detailedStatusBits());
}

void readPersistentStatus(TMainForm& form) {
    if (!Present_PERSISTENT_STATUS || !form.cbPersistentStatus->isChecked())
        return;
    if (!Dravonel_ReadPersistentStatus())
        form.MemoAddLine(LastError); // the frame's status stays
    showDetailedStatusBits(form);
}

void showStatusTexts(TMainForm& form) {
    form.DetailedStatusText = TMainForm::StatusBitTexts(EncoderStatus.DetailedStatus,
                                                        REG_SIZE_DRAVONEL_PERSISTENT_STATUS);
    QString lines = form.DetailedStatusText;
    form.SetDisplayText(form.lblDetailedStatusTxt,
                        lines.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    form.SetDisplayColour(form.lblDetailedStatusTxt,
                          form.DetailedStatusText.isEmpty() ? StatusTextEmpty : StatusTextShown);
}

// Once an exchange of the cycle has found the link broken (time-out, no port
// or write error), the cycle's remaining optional reads are left out: each
// would only wait out another time-out while the window cannot react. The
// next cycle tries again.
bool linkBroken() {
    return EncoderPosition.ErrComm < 0;
}

// Reads one counter and shows it; a failed read leaves RegData zeroed, so
// the label then shows 0. A counter left out keeps what its label shows.
template <typename Value>
void showCounter(TMainForm& form, QLabel* label, const char* caption, quint32 address, qint32 size,
                 Value (*value)()) {
    if (linkBroken())
        return;
    if (!Dravonel_ReadRegister(address, size))
        form.MemoAddLine(LastError);
    form.SetDisplayText(label, QLatin1String(caption) + QString::number(value()));
}

void showRuntimeLog(TMainForm& form) {
    showCounter(form, form.lblDiagNumPwrCyc,
                "Number of power cycles: ", REG_ADDR_DRAVONEL_U4_RUNTIME_LOG, 4, regDataUnsigned32);
    showCounter(form, form.lblDiagOpTimeMin,
                "Operational time (minutes): ", REG_ADDR_DRAVONEL_OPERATING_MINUTES, 4,
                regDataUnsigned32);
    showCounter(form, form.lblDiagTempMin,
                "Operational temperature min: ", REG_ADDR_DRAVONEL_TEMPERATURE_LOWEST, 1,
                regDataSigned8);
    showCounter(form, form.lblDiagTempMax,
                "Operational temperature max: ", REG_ADDR_DRAVONEL_TEMPERATURE_HIGHEST, 2,
                regDataSigned16);
}

void showRuntimeLogNotAvailable(TMainForm& form) {
    form.SetDisplayText(form.lblDiagNumPwrCyc, QStringLiteral("Number of power cycles: N/A"));
    form.SetDisplayText(form.lblDiagOpTimeMin, QStringLiteral("Operational time (minutes): N/A"));
    form.SetDisplayText(form.lblDiagTempMin, QStringLiteral("Operational temperature min: N/A"));
    form.SetDisplayText(form.lblDiagTempMax, QStringLiteral("Operational temperature max: N/A"));
}

void showDiagnosticsCounters(TMainForm& form) {
    if (Present_U4_RUNTIME_LOG)
        showRuntimeLog(form);
    else
        showRuntimeLogNotAvailable(form);
    showCounter(form, form.lblDecodingSafetyMargin_RT,
                "Safety RT: ", REG_ADDR_DRAVONEL_SAFE_MARGIN_RT, 2, regDataSigned16);
    showCounter(form, form.lblDecodingSafetyMargin_PER,
                "Safety PER: ", REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER, 2, regDataSigned16);
}

} // namespace

void TMainForm::ConnectReadingHandlers() {
    connect(btnReadEncoder, &QPushButton::clicked, this, &TMainForm::btnReadEncoderClick);
    // On `clicked` only: a workflow unticking the box must not start a loop.
    connect(cbReadEncConstantly, &QCheckBox::clicked, this, &TMainForm::cbReadEncConstantlyClick);
    connect(seDelayBetweenReadings, &QSpinBox::valueChanged, this,
            &TMainForm::seDelayBetweenReadingsChange);
    ConnectSignalLevelHandlers();
}

void TMainForm::btnReadEncoderClick() {
    FrameCounter += 1.0;
    LastReadingOk = false;
    ToggleActivityLamp();
    if (!EncoderConnected) {
        // After a lost link the encoder behind the adapter may be another
        // one: its type and resolution are not known until it is connected.
        MemoAddLine(NotConnectedText);
        cbReadEncConstantly->setChecked(false);
        return;
    }
    if (EncoderType == TwoChannelEncoder && !readSecondChannel(*this))
        return;
    if (!readPosition(*this))
        return;
    LastReadingOk = true;
    showPosition(*this);
    showLamps(*this);
    showDetailedStatusBits(*this);
    logEncoderFlags(*this);
    const bool signalTab = Page->currentWidget() == tabSignalLevelTemperature;
    const bool recording = cbShranjujMeritveDebug->isChecked();
    if (signalTab || recording)
        TemperatureStep();
    if ((signalTab || StatBeriSignalLevel || recording) && Present_SIGNAL_LEVEL && !linkBroken())
        SignalLevelStep();
    if (!linkBroken())
        readPersistentStatus(*this);
    showStatusTexts(*this);
    if (Page->currentWidget() == tabDiagnostics &&
        EncoderSignature.FWverMajor == DiagnosticsFirmwareMajor)
        showDiagnosticsCounters(*this);
    MoveCommLogToMemo();
    ReadCycleDebugStep();
    EncPosDegOld = EncoderPosition_unit;
    if (!DisplayDeferred)
        ShowSignalChart();
}

void TMainForm::ShowPositionPanel() {
    if (!ShownPosition.Pending)
        return;
    ShownPosition.Pending = false;
    const TShownPosition& shown = ShownPosition;
    lblPosRX->setText(QString::fromLatin1(TrimText(shown.RxData).toUpper()));
    lblPosMT->setText(QString::number(shown.MT));
    lblPosST->setText(QString::number(shown.ST));
    lblPosUnit->setText(positionInUnitsText(*this, shown));
}

QString TMainForm::StatusBitTexts(quint32 status, qint32 registerSize) {
    QString text;
    if (registerSize != 2 && registerSize != 4)
        return text;
    const TStatusTextTable& table = registerSize == 2 ? TwoByteStatusTexts : FourByteStatusTexts;
    for (const TStatusTextRow& row : table) {
        if ((status & row.bits) == row.bits)
            text += QLatin1String(row.text) + QLatin1String("\r\n");
    }
    return text;
}

// Runs on every click of the box, ticked or unticked, so an untick still
// reads once more; the loop ends once the box is unticked (by the user, by a
// failed read or by a workflow) or the program ends.
void TMainForm::cbReadEncConstantlyClick() {
    EnableConstReading = true;
    do {
        if (EnableConstReading)
            LoopReadCycle();
        QCoreApplication::processEvents();
        if (CycReadWait >= ShortestDelayMs)
            DelayProcessMessages(CycReadWait);
    } while (cbReadEncConstantly->isChecked() && !ApplicationTerminating());
    ShowLatestReading();
}

void TMainForm::seDelayBetweenReadingsChange() {
    CycReadWait = seDelayBetweenReadings->value();
}
