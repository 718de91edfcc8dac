// The read cycle: one reading of the encoder shown everywhere at once (raw
// reply, counts, position in units, lamps, status bits and texts, diagnostics
// counters), and the continuous reading loop around it.
#include "Enkoderji_splosno.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "Serial_driver.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

namespace {

constexpr quint32 DiagnosticsFirmwareMajor = 4;
constexpr int ShortestDelayMs = 10; // shorter pauses mean no pause at all

const QString NotConnectedText = QStringLiteral("No encoder connected: press \"Connect Encoder\".");

constexpr QRgb ErrorLampOn = 0xFF0000;
constexpr QRgb WarningLampOn = 0xFFAA00;
constexpr QRgb CrcLampOn = 0xEE82EE;
constexpr QRgb StatusTextShown = 0xFFAA00;
constexpr QRgb StatusTextEmpty = 0xFFFFFF;

constexpr int UnitDecimals = 3;
constexpr int UnitSignificantDigits = 10;

void setLamp(TMainForm& form, QWidget* lamp, bool on, QRgb onColour) {
    form.SetDisplayColour(lamp, on ? onColour : TMainForm::LampOffColour);
}

void showSecondChannel(TMainForm& form) {
    const TEncoderPosition& p = EncoderPosition;
    form.SetDisplayText(form.lblPosMT_CH1, QString::number(p.CH1_MT_value));
    form.SetDisplayText(form.lblPosST_CH1, QString::number(p.CH1_ST_value));
    form.EncoderCH1Position_unit = double(p.CH1_MTST_value) * form.EncoderResolution;
    form.cbDetailedStatus->setChecked(false); // two channels are always read as raw frames
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
// when they are shown, not for every reading of a loop. They are the frame's
// (a protocol-4 debug readout has since put the record's in EncoderPosition).
void showPosition(TMainForm& form, const Reading& reading) {
    form.EncoderPosition_unit = double(reading.frameMTST) * form.EncoderResolution;
    form.EncPosDegST = double(reading.frameST) * form.EncoderResolution;
    form.ShownPosition = {EncoderPosition.RxData,
                          reading.frameMT,
                          reading.frameST,
                          form.EncoderPosition_unit,
                          form.EncoderCH1Position_unit,
                          reading.twoChannels,
                          true};
    if (!form.DisplayDeferred)
        form.ShowPositionPanel();
}

void showLamps(TMainForm& form) {
    setLamp(form, form.pnlEncErr, EncoderPosition.ErrBit, ErrorLampOn);
    setLamp(form, form.pnlEncWarn, EncoderPosition.WarnBit, WarningLampOn);
    setLamp(form, form.pnlCRC, EncoderPosition.ErrCRC, CrcLampOn);
}

void showStatusTexts(TMainForm& form, const QString& texts) {
    form.DetailedStatusText = texts;
    QString lines = texts;
    form.SetDisplayText(form.lblDetailedStatusTxt,
                        lines.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    form.SetDisplayColour(form.lblDetailedStatusTxt,
                          texts.isEmpty() ? StatusTextEmpty : StatusTextShown);
}

// A counter left out keeps what its label shows.
void showCounter(TMainForm& form, QLabel* label, const char* caption,
                 const std::optional<qint64>& value) {
    if (value)
        form.SetDisplayText(label, QLatin1String(caption) + QString::number(*value));
}

void showDiagnosticsCounters(TMainForm& form, const DiagnosticsCounters& c) {
    if (c.runtimeLogPresent) {
        showCounter(form, form.lblDiagNumPwrCyc, "Number of power cycles: ", c.powerCycles);
        showCounter(form, form.lblDiagOpTimeMin,
                    "Operational time (minutes): ", c.operatingMinutes);
        showCounter(form, form.lblDiagTempMin, "Operational temperature min: ", c.temperatureMin);
        showCounter(form, form.lblDiagTempMax, "Operational temperature max: ", c.temperatureMax);
    } else {
        form.SetDisplayText(form.lblDiagNumPwrCyc, QStringLiteral("Number of power cycles: N/A"));
        form.SetDisplayText(form.lblDiagOpTimeMin,
                            QStringLiteral("Operational time (minutes): N/A"));
        form.SetDisplayText(form.lblDiagTempMin,
                            QStringLiteral("Operational temperature min: N/A"));
        form.SetDisplayText(form.lblDiagTempMax,
                            QStringLiteral("Operational temperature max: N/A"));
    }
    showCounter(form, form.lblDecodingSafetyMargin_RT, "Safety RT: ", c.safetyMarginRt);
    showCounter(form, form.lblDecodingSafetyMargin_PER, "Safety PER: ", c.safetyMarginPer);
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

ReadingOptions TMainForm::ReadCycleOptions() const {
    const QWidget* tab = Page->currentWidget();
    const bool recording = cbShranjujMeritveDebug->isChecked();
    ReadingOptions options;
    options.decodedStatus = cbDetailedStatus->isChecked();
    options.logFlags = cbLogErrors->isChecked();
    options.temperature = tab == tabSignalLevelTemperature || recording;
    options.signalLevel = tab == tabSignalLevelTemperature || StatBeriSignalLevel || recording;
    options.persistentStatus = cbPersistentStatus->isChecked();
    options.diagnostics =
        tab == tabDiagnostics && EncoderSignature.FWverMajor == DiagnosticsFirmwareMajor;
    options.debugRecord = tab == tabDebug || recording;
    options.debugLatch = !cbErrorDebugLatch->isChecked();
    options.unlockRefusedDebugRecord = ShraniFajl != nullptr;
    // The adapter's supply state in the first good reading and every 1001st.
    options.supplyState = Q714PowerReadCounter == 0;
    return options;
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
    ReadingHooks hooks;
    hooks.beforeDebugStep = [this] { MoveCommLogToMemo(); };
    hooks.afterDebugReadout = [] { CommLogText.clear(); }; // it would flood the log memo
    const Reading reading = TakeReading(ReadCycleOptions(), Front(), hooks);
    if (reading.channel1Read)
        showSecondChannel(*this);
    if (!reading.positionRead) {
        cbReadEncConstantly->setChecked(false);
        if (reading.linkBroken)
            RestartAdapterSearch();
        return;
    }
    LastReadingOk = true;
    ShowReading(reading);
    EncPosDegOld = EncoderPosition_unit;
    if (!DisplayDeferred)
        ShowSignalChart();
}

void TMainForm::ShowReading(const Reading& reading) {
    showPosition(*this, reading);
    showLamps(*this);
    if (reading.temperatureTaken)
        ShowTemperature();
    if (reading.signalLevelRead)
        ShowSignalLevel();
    SetDisplayText(lblDetailedStatus, DetailedStatusBits());
    showStatusTexts(*this, reading.statusTexts);
    if (reading.countersTaken)
        showDiagnosticsCounters(*this, reading.counters);
    ShowDebugStep(reading);
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
