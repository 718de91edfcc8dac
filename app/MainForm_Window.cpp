// The window's life: start-up, the key chords that reveal hidden controls,
// closing, and the log memo helpers.
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "QtUserInteraction.h"
#include "Serial_driver.h"
#include "SoftwareUpdateCheck.h"
#include "SystemIdentity.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cmath>

namespace {

constexpr int TestTab = 5;
constexpr int DebugTab = 6;
constexpr int ErrorMapTab = 7;

const QString DesignCaption = QStringLiteral("Ulvax-2 & Ulvax-4 SPI Dravonel");

// Memo text uses LF line ends; the adapter and the log use CR LF.
QString memoText(const QByteArray& text) {
    QString result = QString::fromLatin1(text);
    while (result.contains(QLatin1String("\r\n")))
        result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

// A fixed-pitch font keeps the register table and the comms log aligned; a
// tab stop of two characters keeps "name<TAB>True" on one line. Set with the
// memo's first line, so the window does not load the font while it starts.
void setLogFont(QPlainTextEdit* memo) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    if (memo->font() != font)
        memo->setFont(font);
    memo->setTabStopDistance(QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')) * 2);
}

} // namespace

TMainForm::TMainForm(UserInteraction* userInteraction, QWidget* parent) : QWidget(parent) {
    if (!userInteraction) {
        ownInteraction = std::make_unique<QtUserInteraction>();
        userInteraction = ownInteraction.get();
    }
    interaction = userInteraction;
    SetApplicationTerminating(false);
    CreateControls();
    for (QLabel* label :
         {lblEncoderInfo, lblPosUnit, lblPosRX, lblPosMT, lblPosST, lblPosMT_CH1, lblPosST_CH1})
        EncoderStartTexts.insert(label, label->text());
    StartUp();
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    UpdateStatus = nullptr; // it shows statuses in this window
    COMPorts.clear();
    COMPortList.clear();
    CloseCOMPort();
    if (hourglassShown)
        QGuiApplication::restoreOverrideCursor();
}

void TMainForm::ConnectHandlers() {
    connect(initTimer, &QTimer::timeout, this, &TMainForm::initTimerTimer);
    connect(tmrCommDebug, &QTimer::timeout, this, &TMainForm::tmrCommDebugTimer);
    connect(cbLogComms, &QCheckBox::clicked, this, &TMainForm::cbLogCommsClick);
    ConnectWorkflowHandlers();
    ConnectUpdateHandlers();
    // Key preview: the window sees every key release before its controls.
    qApp->installEventFilter(this);
}

// What the window needs before it first shows: its caption, its tab bar and
// the state the adapter search starts from. The rest follows the first paint.
void TMainForm::StartUp() {
    setWindowTitle(DesignCaption + QStringLiteral(" (VER: ") + OwnVersionText() +
                   QStringLiteral("; PC: ") + ComputerName() + QStringLiteral("; USR: ") +
                   UserName() + QStringLiteral(")"));
    Page->setCurrentIndex(0);
    developerUser = UserName().toUpper() == QLatin1String("TALVE");
    if (!developerUser)
        for (int tab : {TestTab, DebugTab, ErrorMapTab})
            Page->setTabVisible(tab, false);
    CloseCOMPort();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    hourglassShown = true;
    Q714VerzijaFW = 0;
    COMPorts.clear();
    COMPortList.clear();
    EncPosDegOld = 0.0;
    EncoderResolution = 1.0;
    CycReadWait = seDelayBetweenReadings->value();
    ResetSoftwareUpdateCheckState(); // family name as key, no status until the check
    // A window that is never painted (started minimised) finishes anyway.
    QTimer::singleShot(FinishStartUpLatestMs, this, &TMainForm::FinishStartUp);
}

// The first paint is on its way to the display: the rest of the start-up
// follows as soon as the event loop is free.
void TMainForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!startUpFinished)
        QMetaObject::invokeMethod(this, &TMainForm::FinishStartUp, Qt::QueuedConnection);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const QScreen* shownOn = screen();
    if (!shownOn)
        return;
    const QSize frame = frameGeometry().size() - size();
    FitToScreen(shownOn->availableGeometry().size() - frame);
}

void TMainForm::FinishStartUp() {
    if (startUpFinished)
        return;
    startUpFinished = true;
    CreateHiddenTabControls();
    ConnectHandlers();
    if (developerUser)
        ShowDeveloperControls();
    initTimer->start();
    tmrStartupTimer->start();
}

void TMainForm::ShowDeveloperControls() {
    for (QWidget* control :
         {static_cast<QWidget*>(cbDravonelJQLOMA), static_cast<QWidget*>(pnlTest),
          static_cast<QWidget*>(btnPositionNoise), static_cast<QWidget*>(seNCS_SCK_delay),
          static_cast<QWidget*>(lblNCS_SCK_delay)})
        control->setVisible(true);
}

void TMainForm::HideHourglass() {
    if (!hourglassShown)
        return;
    QGuiApplication::restoreOverrideCursor();
    hourglassShown = false;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: releases anywhere in the window reach the chords first. A
    // release travelling up to the window passes here more than once, which
    // is harmless: every chord only shows controls.
    if (event->type() == QEvent::KeyRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (widget && widget->window() == this && !key->isAutoRepeat())
            HandleKeyChord(key->key(), key->modifiers());
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::HandleKeyChord(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_A && modifiers == Qt::ControlModifier) {
        Page->setTabVisible(TestTab, true);
        Page->setTabVisible(ErrorMapTab, true);
    } else if (key == Qt::Key_K && modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        ShowDeveloperControls();
        for (int tab = 0; tab < Page->count(); ++tab)
            Page->setTabVisible(tab, true);
        grpInstallCoeff->setVisible(true);
    } else if (key == Qt::Key_J && modifiers == (Qt::ShiftModifier | Qt::AltModifier)) {
        if (Page->isTabVisible(DebugTab))
            btnDebugUnlock->setVisible(true);
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (ShraniFajl && cbShranjujMeritveDebug->isChecked())
        ShraniFajl->close();
    SetApplicationTerminating(true);
    event->accept();
}

// Memo lines wait in `pendingMemoLines` while a loop reads back to back and
// are shown together with the rest of the display; otherwise at once.
void TMainForm::MemoAddLine(const QString& text) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    queueMemoText(line);
}

// The communication log consists of whole lines ending with CR LF: it starts
// on a fresh line of the memo, and its last line end ends the memo's line.
void TMainForm::MemoAppendVerbatim(const QByteArray& text) {
    if (text.isEmpty())
        return;
    QString lines = memoText(text);
    if (lines.endsWith(QLatin1Char('\n')))
        lines.chop(1);
    queueMemoText(lines);
}

void TMainForm::queueMemoText(const QString& lines) {
    pendingMemoLines.append(lines);
    if (pendingMemoLines.size() > MemoMaxLines)
        pendingMemoLines.remove(0, pendingMemoLines.size() - MemoMaxLines);
    if (!DisplayDeferred)
        FlushMemo();
}

void TMainForm::FlushMemo() {
    if (pendingMemoLines.isEmpty())
        return;
    if (Memo1->document()->isEmpty())
        setLogFont(Memo1);
    // One paragraph per entry; the memo drops its oldest lines beyond
    // MemoMaxLines by itself.
    Memo1->appendPlainText(pendingMemoLines.join(QLatin1Char('\n')));
    pendingMemoLines.clear();
}

void TMainForm::ClearMemo() {
    pendingMemoLines.clear();
    Memo1->clear();
}

void TMainForm::ShowMessage(const QString& text) {
    interaction->showMessage(text);
}

// Check boxes whose handlers must also run when a workflow changes them are
// connected on `toggled`; the others on `clicked` (the user's click only).
void TMainForm::ConnectWorkflowHandlers() {
    connect(btnPowerON, &QPushButton::clicked, this, &TMainForm::btnPowerONClick);
    connect(btnPowerOFF, &QPushButton::clicked, this, &TMainForm::btnPowerOFFClick);
    connect(cmbFreqSPI, &QComboBox::activated, this, &TMainForm::cmbFreqSPIChange);
    connect(seNCS_SCK_delay, &QSpinBox::valueChanged, this, &TMainForm::seNCS_SCK_delayChange);
    connect(cbDravonelJQLOMA, &QCheckBox::toggled, this, &TMainForm::cbDravonelJQLOMAClick);
    connect(cbDetailedStatus, &QCheckBox::toggled, this, &TMainForm::cbDetailedStatusClick);
    connect(cbPersistentStatus, &QCheckBox::toggled, this, &TMainForm::cbPersistentStatusClick);
    connect(btnConnectEncoder, &QPushButton::clicked, this, &TMainForm::btnConnectEncoderClick);
    connect(seNominator, &QSpinBox::valueChanged, this, &TMainForm::seNominatorChange);
    connect(seDenominator, &QSpinBox::valueChanged, this, &TMainForm::seNominatorChange);
    ConnectReadingHandlers();
    ConnectConfigurationHandlers();
    ConnectSelfCalibrationHandlers();
    ConnectDiagnosticsHandlers();
    ConnectErrorMapHandlers();
    ConnectDebugHandlers();
    ConnectPowerCyclingHandlers();
    ConnectPositionNoiseHandlers();
}

NumberFormat TMainForm::Format() const {
    return {FormatSettings, DecimalSeparator};
}

QString TMainForm::FixedText(double value, int decimals, int significant) const {
    return Format().Fixed(value, decimals, significant);
}

QString TMainForm::GroupedText(double value, int decimals, int significant) const {
    return Format().Grouped(value, decimals, significant);
}
