#pragma once
// The controls of the main window, one public member per named control. Each
// control's Qt object name is its member name, so tests and accessibility
// tools find it. TMainForm::CreateControls (MainForm_Layout.cpp) creates and
// places them; the window owns them through the Qt parent chain.

#include "UserInteraction.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

struct TMainFormControls {
    // --- Top panel: logo, adapter and encoder info ---
    QFrame* pnl1Top = nullptr;
    QLabel* Image1 = nullptr;
    QGroupBox* gInterfaceInfo = nullptr;
    QLabel* lblComPort = nullptr;
    QLabel* lblInterfaceVer = nullptr;
    QFrame* pnlComm = nullptr; // activity lamp, toggled by each reading
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblEncoderInfo = nullptr;
    QFrame* pnl2Mid = nullptr;

    // --- Position panel ---
    QFrame* pnl1 = nullptr;
    QLabel* lblPosUnit = nullptr;
    QLabel* pnlEncWarn = nullptr;
    QLabel* pnlEncErr = nullptr;

    // --- Page control and log memo ---
    QTabWidget* Page = nullptr;
    QWidget* tabInit = nullptr;
    QWidget* tabSignalLevelTemperature = nullptr;
    QWidget* tabConfig = nullptr;
    QWidget* tabSelfCal = nullptr;
    QWidget* tabDiagnostics = nullptr;
    QWidget* tabTest = nullptr;
    QWidget* tabDebug = nullptr;
    QWidget* tabErrMap = nullptr;
    QCheckBox* cbLogErrors = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

    // --- Tab "Initialization" ---
    QCheckBox* cbDravonelJQLOMA = nullptr;
    TRadioGroup* rgPowerSel = nullptr; // items "3.3 V" (0), "5 V" (1)
    QPushButton* btnPowerON = nullptr;
    QPushButton* btnPowerOFF = nullptr;
    QLabel* lblPower = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cmbFreqSPI = nullptr;
    QLabel* lblNCS_SCK_delay = nullptr;
    QSpinBox* seNCS_SCK_delay = nullptr;
    QPushButton* btnConnectEncoder = nullptr;
    QPushButton* btnReadEncoder = nullptr;
    QLabel* lbl3 = nullptr;
    QSpinBox* seDelayBetweenReadings = nullptr;
    QCheckBox* cbReadEncConstantly = nullptr;
    QLabel* Label5 = nullptr;
    QSpinBox* seNominator = nullptr;
    QSpinBox* seDenominator = nullptr;
    QLineEdit* edUnit = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* lblPosRX = nullptr;
    QLabel* pnlCRC = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* lblPosMT = nullptr;
    QFrame* Panel3 = nullptr;
    QLabel* lblPosST = nullptr;
    QLabel* lblCH0 = nullptr;
    QLabel* lblCH1 = nullptr;
    QFrame* pnlCH1MT = nullptr;
    QLabel* lblPosMT_CH1 = nullptr;
    QFrame* pnlCH1ST = nullptr;
    QLabel* lblPosST_CH1 = nullptr;
    QLabel* lblSoftwareUpdateStatus1 = nullptr;
    QPushButton* btnEnableUpdateCheck = nullptr;

    // --- Tab "Signal level" ---
    QLabel* lblSignalLevel = nullptr;
    QLabel* lblTemperature = nullptr;
    QChartView* ChartSignalLevel = nullptr;
    QValueAxis* ChartSignalLevelAxisBottom = nullptr;
    QValueAxis* ChartSignalLevelAxisLeft = nullptr;
    QValueAxis* ChartSignalLevelAxisRight = nullptr; // no series uses it, so it stays hidden
    QLineSeries* SeriesGreen = nullptr;
    QLineSeries* SeriesBlue = nullptr;
    QPushButton* btnSaveSignalLvlChart = nullptr;
    QRadioButton* rbDrawAirGap = nullptr;
    QRadioButton* rbDrawPos = nullptr;
    QRadioButton* rbDrawTemp = nullptr;
    QRadioButton* rbDrawNone = nullptr;

    // --- Tab "Configuration" ---
    QLabel* Label1 = nullptr;
    QLineEdit* edPosOffset = nullptr;
    QPushButton* btnWriteZero = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edFilterPosVal = nullptr;
    QPushButton* btnWriteFilter = nullptr;
    QLabel* lblMTerrArc = nullptr;
    QLineEdit* edMTerrArc = nullptr;
    QPushButton* btnMTerrArcWrite = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edMultiturnPreset = nullptr;
    QPushButton* btnApplyMT = nullptr;
    QPushButton* btnSaveFlash = nullptr;
    QPushButton* btnFactoryReset = nullptr;
    QGroupBox* grpUlvaxZero = nullptr;
    QPushButton* btnUlvaxSetZero = nullptr;
    QLabel* lblUlvaxZeroStatus = nullptr;

    // --- Tab "Self-Calibration" ---
    QLabel* lbl1 = nullptr;
    QLineEdit* edSelfCalArc = nullptr;
    QLabel* lblSelfCalTmo = nullptr;
    QLineEdit* edSelfCalTimeout = nullptr;
    QPushButton* btnSelfCalStart = nullptr;
    QProgressBar* pbSelfCalProgress = nullptr;
    QPushButton* btnSelfCalReadStatus = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLabel* pnlAselfCalFinished = nullptr;
    QLabel* pnlAselfCalSucessfull = nullptr;
    QLabel* pnlAselfCalTimeout = nullptr;
    QLabel* pnlAselfCalOutOfRange = nullptr;
    QLabel* pnlAselfCalNoCorrection = nullptr;
    QLabel* pnlASelfCalUserErrMap = nullptr;
    QLabel* pnlASelfCalEncoderError = nullptr;
    QLabel* pnlASelfCalNumericalErr = nullptr;
    QLabel* pnlASelfCalRadialDisp = nullptr;
    QLabel* pnlASelfCalWriteErr = nullptr;
    QLabel* pnlAselfCalParamOutOfRange = nullptr;
    QPlainTextEdit* mmSelfCalStatus = nullptr;

    // --- Tab "Diagnostics" ---
    QLabel* lblDiagNumPwrCyc = nullptr;
    QLabel* lblDiagOpTimeMin = nullptr;
    QLabel* lblDiagTempMin = nullptr;
    QLabel* lblDiagTempMax = nullptr;
    QLabel* lblDecodingSafetyMargin_RT = nullptr;
    QLabel* lblDecodingSafetyMargin_PER = nullptr;
    QPushButton* btnDecodingSafetyReset = nullptr;
    QCheckBox* cbDetailedStatus = nullptr;
    QCheckBox* cbPersistentStatus = nullptr;
    QPushButton* btnClearPersistentStatus = nullptr;
    QLabel* lblDetailedStatus = nullptr;
    QLabel* lblDetailedStatusTxt = nullptr;
    QPushButton* btnReadWriteAccessRegister = nullptr;
    QPushButton* btnResetDravonelProtocol = nullptr;
    QGroupBox* grpInstallCoeff = nullptr;
    QLabel* lblInstallCoeff = nullptr;

    // --- Tab "Test" ---
    QCheckBox* cbShranjujMeritveDebug = nullptr;
    QPlainTextEdit* mmFileName = nullptr;
    QCheckBox* cbLogComms = nullptr;
    QFrame* pnlTest = nullptr;
    QPushButton* btnPositionNoise = nullptr;
    QPlainTextEdit* mmTestRezultat = nullptr;
    QGroupBox* GroupBoxPowerCycle = nullptr;
    QLabel* lblonoff = nullptr;
    QSpinBox* seSteviloIzklopov = nullptr;
    QLabel* lblonoffdelay = nullptr;
    QSpinBox* seIzklopDelayMin = nullptr;
    QSpinBox* seIzklopDelayMax = nullptr;
    QCheckBox* cbCiklirajStacionarno = nullptr;
    QCheckBox* cbCiklirajIzklope = nullptr;
    QCheckBox* cbErrorDebugLatch = nullptr;

    // --- Tab "Debug" ---
    QChartView* ChartDebug = nullptr;
    QValueAxis* ChartDebugAxisBottom = nullptr;
    QValueAxis* ChartDebugAxisLeft = nullptr;
    QLineSeries* SeriesDebug = nullptr;
    QScatterSeries* Series2 = nullptr;
    QLabel* lblKodaNaGrafu = nullptr; // child of ChartDebug, drawn over the plot
    QFrame* shBgFFT = nullptr;        // spectrum bars: geometry in tabDebug coordinates
    QFrame* shLevo = nullptr;
    QFrame* shCenter = nullptr;
    QFrame* shDesno = nullptr;
    QPushButton* btnDebugUnlock = nullptr;

    // --- Tab "Error Map" ---
    QPushButton* btnReadErrMap = nullptr;
    QProgressBar* ErrMapProgressBar = nullptr;
    QPushButton* btnErrorMapSaveFile = nullptr;
    QChartView* chartErrMap = nullptr;
    QValueAxis* chartErrMapAxisBottom = nullptr;
    QValueAxis* chartErrMapAxisLeft = nullptr;
    QLineSeries* Series1 = nullptr;

    // --- Non-visual members (all created stopped) ---
    QTimer* initTimer = nullptr;       // 200 ms, adapter search
    QTimer* tmrCommDebug = nullptr;    // 500 ms, communication log to Memo1
    QTimer* tmrSelfCalWait = nullptr;  // 500 ms, self-calibration progress
    QTimer* timerOnOff = nullptr;      // 100 ms, power-cycling test
    QTimer* tmrStartupTimer = nullptr; // 6000 ms, update check
    SaveDialogRequest SaveDialog1;     // shared save dialog of the chart exports
};
