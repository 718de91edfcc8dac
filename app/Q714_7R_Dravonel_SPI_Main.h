#pragma once
// The main window: one fixed-size window with eight tabs and a log memo. Its
// workflows are the event handlers below; each area lives in its own .cpp:
//   MainForm_Layout.cpp        window construction, controls, layout
//   MainForm_Window.cpp        start-up, key chords, closing, memo helpers
//   MainForm_Adapter.cpp       adapter search and communication log
//   MainForm_Power.cpp         power, SPI clock, NCS-SCK delay, protocol
//                              variant, status check boxes
//   MainForm_Connect.cpp       connect workflow
//   MainForm_ReadCycle.cpp     read cycle and continuous reading
//   MainForm_SignalLevel.cpp   signal level tab, charts and chart export
//   MainForm_Display.cpp       display of readings at the screen's pace
//   MainForm_Update.cpp        start-up update check
//   MainForm_Configuration.cpp configuration tab and the tab-change refresh
//   MainForm_SelfCalibration.cpp  self-calibration tab
//   MainForm_Diagnostics.cpp   diagnostics tab actions
//   MainForm_ErrorMap.cpp      error map tab
//   MainForm_Debug.cpp         debug step of the read cycle, debug
//                              recording, Debug tab view
//   MainForm_PowerCycling.cpp  power-cycling test
//   MainForm_PositionNoise.cpp position-noise measurement

#include "ChartTrace.h"
#include "MainForm_Controls.h"
#include "NumberFormat.h"
#include "PowerCycling.h"
#include "Reading.h"
#include "WindowFrontEnd.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QRandomGenerator>
#include <QStringList>
#include <QWidget>
#include <memory>

class QFile;
struct AdapterIdentity;
struct ConnectResult;
class QScrollArea;
class QTextStream;
class UserInteraction;

// What the position panel shows of a reading, kept until it is shown.
struct TShownPosition {
    QByteArray RxData;
    qint32 MT = 0;
    quint32 ST = 0;
    double Unit = 0.0;
    double UnitCh1 = 0.0;
    bool TwoChannels = false;
    bool Pending = false;
};

class TMainForm : public QWidget, public TMainFormControls {
    Q_OBJECT

public:
    // The window talks to the user through `interaction` (real dialogs when
    // null). Tests pass a scripted one.
    explicit TMainForm(UserInteraction* interaction = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    UserInteraction& Interaction() { return *interaction; }
    // The window as the workflows' front-end.
    FrontEnd& Front() { return frontEnd; }

    // The window builds the controls of the tabs not showing at start, links
    // its handlers and starts its timers right after its first paint, so it
    // appears sooner; at the latest FinishStartUpLatestMs after it was made.
    // Tests call it directly. Does nothing the second time.
    void FinishStartUp();
    static constexpr int FinishStartUpLatestMs = 200;

    // Makes the content scroll when `available` (the screen's free area less
    // the window frame) cannot show the whole window; nothing changes on a
    // screen that can. Runs when the window is shown.
    void FitToScreen(const QSize& available);

    // --- Window state shared by several workflows ---
    QStringList COMPorts;     // candidate port names, natural order, no duplicates
    QStringList COMPortList;  // what to open for each entry of COMPorts
    QByteArray Q714Version;   // identity reply of the adapter, printable
    qint32 Q714VerzijaFW = 0; // adapter firmware, major * 100 + minor
    qint32 Q714RevizijaFW = 0;
    QByteArray SerijskaQ714; // adapter serial number
    qint32 Q714PowerReadCounter = 0;
    qint32 CycReadWait = 50; // pause of the continuous loop, ms
    bool EnableConstReading = false;
    double EncoderResolution = 1.0; // units per count
    double EncPosDegOld = 0.0;
    double EncoderPosition_unit = 0.0;
    double EncoderCH1Position_unit = 0.0;
    double EncPosDegST = 0.0;
    // The power-cycling test's state; its fields keep their names here.
    PowerCyclingState PowerCycling;
    double& EncPosDegOldMTtest = PowerCycling.EncPosDegOldMTtest;
    bool& PowerOnStatus = PowerCycling.PowerOnStatus;
    double& CikliranjeSmer = PowerCycling.CikliranjeSmer;
    bool& CikliranjeSmerInit = PowerCycling.CikliranjeSmerInit;
    // Readings since the chart was cleared: the x of its points. A double
    // counts exactly past 2^24 readings, where a float would stop.
    double FrameCounter = 0.0;
    float AirGap = 0.0f;
    bool StatBeriSignalLevel = false;
    qint32 EncDolzinaKode = 8;         // code length of the ring, 5 to 9
    std::unique_ptr<QFile> ShraniFajl; // open debug-record file while recording
    quint32 ShraniStart = 0;
    quint8 SelfCalCounterStart = 0;
    QByteArray SelfCalResultStart;
    // Decimal and thousands separators for displayed numbers; starts from
    // the user's locale.
    QLocale FormatSettings;
    // A decimal separator that a workflow has fixed for the rest of the run
    // (null: the one of FormatSettings).
    QChar DecimalSeparator;

    // The log memo. Every call adds whole lines: `text` is its own line (CR LF
    // inside it breaks it into several); the communication log is appended
    // as it stands, starting on a fresh line. The memo keeps the most recent
    // MemoMaxLines lines.
    static constexpr int MemoMaxLines = 20000;
    void MemoAddLine(const QString& text);
    void MemoAppendVerbatim(const QByteArray& text);
    // Shows memo lines held back while DisplayDeferred was set.
    void FlushMemo();
    void ClearMemo();
    // Set while a loop reads back to back: the display follows at the
    // screen's pace instead of after every reading.
    bool DisplayDeferred = false;
    // Modal message box through the interaction interface.
    void ShowMessage(const QString& text);

    // --- Handlers (workflows) ---
    void initTimerTimer();
    void tmrCommDebugTimer();
    // Appends the communication log to the memo verbatim and empties it.
    void MoveCommLogToMemo();
    void cbLogCommsClick();
    // Re-runs the adapter search at the timer's next tick after a broken link.
    void RestartAdapterSearch();
    // Set by a successful Connect, cleared by every adapter search: the
    // encoder behind a port found anew may be another one.
    bool EncoderConnected = false;
    void ForgetConnectedEncoder();
    // The design texts of the encoder information and position labels.
    QHash<QLabel*, QString> EncoderStartTexts;
    static constexpr QRgb LampOffColour = 0x808080;

    // Adapter settings (MainForm_Power.cpp)
    void btnPowerONClick();
    void btnPowerOFFClick();
    void cmbFreqSPIChange();
    void seNCS_SCK_delayChange();
    void cbDravonelJQLOMAClick();
    void cbDetailedStatusClick();
    void cbPersistentStatusClick();

    // Connect workflow (MainForm_Connect.cpp)
    void btnConnectEncoderClick();
    void PageChange();
    void seNominatorChange();

    // Read cycle (MainForm_ReadCycle.cpp)
    // -- read cycle declarations --
    void btnReadEncoderClick();
    void cbReadEncConstantlyClick();
    void seDelayBetweenReadingsChange();
    // The status texts of the last cycle, one per line ending with CR LF.
    QString DetailedStatusText;
    // Whether the last cycle read the position (its flags may still show
    // errors the encoder reported).
    bool LastReadingOk = false;
    // What a read cycle reads, from the window's controls and state.
    ReadingOptions ReadCycleOptions() const;
    // Shows a good reading everywhere (position, lamps, status, the tabs'
    // values) and records it when recording.
    void ShowReading(const Reading& reading);
    // The debug view, the supply state and the recorded row of a reading.
    void ShowDebugStep(const Reading& reading);

    // Display of readings (MainForm_Display.cpp). A single reading shows at
    // once. A loop that reads back to back runs each cycle through
    // LoopReadCycle: the cycle's texts, colours, memo lines and chart points
    // are held back, and the window shows the latest of them at most about
    // 60 times a second, so reading never waits on painting.
    void LoopReadCycle();
    // Shows everything held back now.
    void ShowLatestReading();
    // Sets a label's text, or holds it back while the display is deferred.
    void SetDisplayText(QLabel* label, const QString& text);
    // Sets a panel's colour (0xRRGGBB) the same way.
    void SetDisplayColour(QWidget* panel, QRgb colour);
    static constexpr int DisplayIntervalMs = 16;
    // The position panel of the latest good reading, shown by
    // ShowPositionPanel (MainForm_ReadCycle.cpp).
    TShownPosition ShownPosition;
    void ShowPositionPanel();

    // Signal level tab, charts and chart export (MainForm_SignalLevel.cpp)
    // -- signal level declarations --
    void rbDrawAirGapClick();
    void rbDrawPosClick();
    void rbDrawTempClick();
    void rbDrawNoneClick();
    void lblSignalLevelClick();
    void btnSaveSignalLvlChartClick();
    // Draws the chart into a 16-bit image of its size and writes it as PNG
    // (the extension is forced to ".png"); false after an error box.
    bool SaveChartAsPNG(QChartView* chart, const QString& fileName);
    // The signal level tab's part of a reading: labels and chart points.
    void ShowTemperature();
    void ShowSignalLevel();
    void ConnectSignalLevelHandlers();
    // The chart's points, shown by ShowSignalChart with the automatic axes
    // fitted to them.
    TChartTrace TraceBlue;
    TChartTrace TraceGreen;
    void ShowSignalChart();
    // Whether the axes of ChartSignalLevel follow the data.
    bool SignalChartBottomAutomatic = true;
    bool SignalChartLeftAutomatic = false;

    // Start-up update check (MainForm_Update.cpp)
    void tmrStartupTimerTimer();
    // Shows a status of the check in lblSoftwareUpdateStatus1 and the memo,
    // painted at once.
    void ShowUpdateStatus(const QString& text);
    void btnEnableUpdateCheckClick();
    void ConnectUpdateHandlers();

    // Configuration tab (MainForm_Configuration.cpp); PageChange lives there
    void btnWriteZeroClick();
    void btnWriteFilterClick();
    void btnMTerrArcWriteClick();
    void btnApplyMTClick();
    void btnSaveFlashClick();
    void btnFactoryResetClick();
    void btnUlvaxSetZeroClick();
    void ConnectConfigurationHandlers();

    // Self-calibration tab (MainForm_SelfCalibration.cpp)
    void btnSelfCalStartClick();
    void tmrSelfCalWaitTimer();
    void btnSelfCalReadStatusClick();
    // Tab-change refresh of the arc and time-out fields, then Read status.
    void RefreshSelfCalibrationPage();
    void ConnectSelfCalibrationHandlers();

    // Diagnostics tab (MainForm_Diagnostics.cpp)
    void btnClearPersistentStatusClick();
    void btnDecodingSafetyResetClick();
    void btnReadWriteAccessRegisterClick();
    void btnResetDravonelProtocolClick();
    void ConnectDiagnosticsHandlers();

    // Error map tab (MainForm_ErrorMap.cpp)
    void btnReadErrMapClick();
    void btnErrorMapSaveFileClick();
    void ConnectErrorMapHandlers();
    // When the progress bar was last painted at once (steady clock, ms).
    qint64 ErrMapProgressPaintedMs = 0;

    // The window's number format settings as one value.
    NumberFormat Format() const;
    // Fixed-point text with the window's decimal separator: `decimals`
    // decimals after rounding to `significant` significant digits.
    QString FixedText(double value, int decimals, int significant = 5) const;
    // Number text with the window's separators: thousands grouped, `decimals`
    // decimals after rounding to `significant` significant digits.
    QString GroupedText(double value, int decimals, int significant) const;

    // Debug recording and view (MainForm_Debug.cpp), power-cycling test
    // (MainForm_PowerCycling.cpp), position noise (MainForm_PositionNoise.cpp)
    void cbShranjujMeritveDebugClick();
    void btnDebugUnlockClick();
    void UpdateDebugSpectrum();
    // Draws the Debug tab from DebugData when a deferred reading left it due.
    void ShowDebugView();
    bool DebugViewDue = false;
    static float TukeyWeight(qint32 n, qint32 N, float alpha);
    // Whole seconds of a recording that lasted `elapsedMs`, halves to even.
    static qint64 RecordDurationSeconds(quint32 elapsedMs);
    // Where debug-record files go; empty: the program's own folder when the
    // user may write there, otherwise the user's documents folder.
    QString DebugRecordFolder;
    void cbCiklirajIzklopeClick();
    void timerOnOffTimer();
    void seIzklopDelayMinChange();
    QRandomGenerator PowerCycleRandom; // phase lengths of the power-cycling test
    void btnPositionNoiseClick();
    void ConnectDebugHandlers();
    void ConnectPowerCyclingHandlers();
    void ConnectPositionNoiseHandlers();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls(); // MainForm_Layout.cpp
    void CreateHiddenTabControls();
    void ConnectHandlers(); // MainForm_Window.cpp
    void ConnectWorkflowHandlers();
    void ConnectReadingHandlers(); // MainForm_ReadCycle.cpp
    void StartUp();
    void ShowDeveloperControls();
    void HideHourglass();
    void HandleKeyChord(int key, Qt::KeyboardModifiers modifiers);
    void EnableAdapterControls(bool enabled);
    void ShowAdapter(const AdapterIdentity& adapter);

    void ShowSupplyState(const QByteArray& state);
    void ShowConnectedEncoder(const ConnectResult& connected);
    void EnablePresentRegisterControls();
    void ApplyEncoderScaling(qint32 countsPerTurn);
    void ShowInstallationCoefficients(const ConnectResult& connected);
    void ShowEncoderKindControls();

    void queueMemoText(const QString& lines);
    void ToggleActivityLamp();
    QHash<QLabel*, QString> pendingTexts;
    QHash<QWidget*, QRgb> pendingColours;
    QElapsedTimer displayClock;
    bool searchRunning = false;
    QScrollArea* windowScroller = nullptr;
    QStringList pendingMemoLines;
    bool hourglassShown = false;
    bool developerUser = false;
    bool startUpFinished = false;
    std::unique_ptr<UserInteraction> ownInteraction;
    UserInteraction* interaction = nullptr;
    TWindowFrontEnd frontEnd{*this};
};
