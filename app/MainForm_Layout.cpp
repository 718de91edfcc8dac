// Construction of the main window: every control with its name, caption,
// default, limits, hint and start-up visibility, placed at fixed positions in
// the 801 x 586 client area. Signals are connected elsewhere
// (MainForm_Window.cpp); nothing here reacts to the user.

#include "Q714_7R_Dravonel_SPI_Main.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QScrollArea>
#include <QTabBar>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <initializer_list>

namespace {

constexpr int kClientWidth = 801;
constexpr int kClientHeight = 586;

// Colours of the design (0xRRGGBB).
constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kStripe = 0x1F5FA8;
constexpr QRgb kLampOff = 0x808080;
constexpr QRgb kCommLampDark = 0x004400;
constexpr QRgb kSilver = 0xC0C0C0;
constexpr QRgb kNavy = 0x000080;
constexpr QRgb kSamplePick = 0xFF8040;
constexpr QRgb kSpectrumSide = 0x0000A8;
constexpr QRgb kSpectrumCentre = 0x00C100;
constexpr QRgb kErrMapLine = 0x209FDF; // the chart theme's first series colour

const QString kFilterHint =
    QStringLiteral("NOTE: Filter settings are effective after power cycle.");

template <class W> W* placed(W* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* newLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    return placed(NewPlainLabel(text, parent), name, geometry);
}

QPushButton* newButton(QWidget* parent, const char* name, const QString& caption,
                       const QRect& geometry) {
    return placed(new QPushButton(caption, parent), name, geometry);
}

QCheckBox* newCheckBox(QWidget* parent, const char* name, const QString& caption,
                       const QRect& geometry) {
    return placed(new QCheckBox(caption, parent), name, geometry);
}

QRadioButton* newRadioButton(QWidget* parent, const char* name, const QString& caption,
                             const QRect& geometry) {
    return placed(new QRadioButton(caption, parent), name, geometry);
}

QLineEdit* newEdit(QWidget* parent, const char* name, const QRect& geometry,
                   const QString& text = QString()) {
    return placed(new QLineEdit(text, parent), name, geometry);
}

QSpinBox* newSpinBox(QWidget* parent, const char* name, const QRect& geometry, int minimum,
                     int maximum, int value, int step = 1) {
    auto* spin = placed(new QSpinBox(parent), name, geometry);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

QPlainTextEdit* newMemo(QWidget* parent, const char* name, const QRect& geometry) {
    auto* memo = placed(new QPlainTextEdit(parent), name, geometry);
    memo->setReadOnly(true);
    return memo;
}

QGroupBox* newGroup(QWidget* parent, const char* name, const QString& caption,
                    const QRect& geometry) {
    return placed(new QGroupBox(caption, parent), name, geometry);
}

// A plain coloured area: stripes, shapes, the activity lamp.
QFrame* newColourFrame(QWidget* parent, const char* name, const QRect& geometry, QRgb colour) {
    auto* frame = placed(new QFrame(parent), name, geometry);
    SetPanelColor(frame, colour);
    return frame;
}

// A raised panel with a centred caption, coloured by the workflows as a lamp.
QLabel* newLamp(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                QRgb colour = kLampOff) {
    auto* lamp = newLabel(parent, name, caption, geometry);
    lamp->setFrameStyle(QFrame::Panel | QFrame::Raised);
    lamp->setAlignment(Qt::AlignCenter);
    SetPanelColor(lamp, colour);
    return lamp;
}

// A sunken panel showing one value in the label that fills it; both carry the hint.
QFrame* newValuePanel(QWidget* parent, const char* panelName, const char* labelName,
                      const QRect& geometry, const QString& caption, const QString& hint,
                      QLabel*& label) {
    auto* panel = placed(new QFrame(parent), panelName, geometry);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    panel->setToolTip(hint);
    label = newLabel(panel, labelName, caption,
                     QRect(6, 2, geometry.width() - 12, geometry.height() - 4));
    label->setToolTip(hint);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return panel;
}

void setBold(QWidget* widget, int pointSize = 0) {
    QFont font = widget->font();
    font.setBold(true);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    widget->setFont(font);
}

QTimer* newTimer(QObject* owner, const char* name, int intervalMs) {
    auto* timer = new QTimer(owner);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    timer->setSingleShot(false);
    return timer;
}

// A chart view with a white, flat chart without title and legend.
TChartView* newChartView(QWidget* parent, const char* name, const QRect& geometry) {
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setBackgroundBrush(QColor(Qt::white));
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(2, 6, 16, 2)); // room for the outermost axis labels
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    auto* view = placed(new TChartView(chart, parent), name, geometry);
    view->setFrameShape(QFrame::NoFrame);
    return view;
}

QValueAxis* newAxis(TChartView* view, const char* name, Qt::Alignment side, double minimum,
                    double maximum, const QString& title = QString()) {
    auto* axis = new QValueAxis(view->chart());
    axis->setObjectName(QLatin1String(name));
    axis->setRange(minimum, maximum);
    axis->setTitleText(title);
    view->AddAxis(axis, side);
    return axis;
}

template <class S>
S* newSeries(TChartView* view, const char* name, QValueAxis* xAxis, QValueAxis* yAxis) {
    auto* series = new S(view->chart());
    series->setObjectName(QLatin1String(name));
    view->AddSeries(series, xAxis, yAxis);
    return series;
}

void setLinePen(QXYSeries* series, QRgb colour, int width) {
    QPen pen(QColor::fromRgb(colour));
    pen.setWidth(width);
    series->setPen(pen);
    series->setColor(QColor::fromRgb(colour));
}

// The maker's logo, drawn: a ring with a pointer and the maker's name.
QPixmap drawLogo(const QSize& size) {
    QPixmap logo(size);
    logo.fill(Qt::white);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor blue = QColor::fromRgb(kStripe);
    const int ring = size.height() - 16;
    painter.setPen(QPen(blue, 5));
    painter.drawEllipse(QRect(6, 8, ring, ring));
    painter.setPen(QPen(blue, 3, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(6 + ring / 2.0, 8 + ring / 2.0);
    painter.drawLine(centre, centre + QPointF(ring * 0.3, -ring * 0.3));
    const QString name = QStringLiteral("NORVANE");
    const QRect nameArea(ring + 14, 0, size.width() - ring - 16, size.height());
    // The bold font of the value panels: the window needs it anyway, and
    // every other font would load a font engine of its own at start.
    QFont font;
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(nameArea, Qt::AlignVCenter | Qt::AlignLeft, name);
    return logo;
}

// The application's style with less horizontal padding around tab captions.
class CompactTabStyle : public QProxyStyle {
public:
    explicit CompactTabStyle(QObject* owner) : QProxyStyle(nullptr) { setParent(owner); }

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? value / 3 : value;
    }
};

// Builds the controls into the form and records them in its control members.
class ControlsBuilder {
public:
    ControlsBuilder(TMainFormControls& controls, QWidget* form) : c(controls), form(form) {}

    // What the window shows at start: the panels, the tab bar with every
    // tab's page, the first tab's controls and the log.
    void buildShownControls() {
        createTopPanel();
        createPositionPanel();
        createPage();
        createLogArea();
        createNonVisualMembers();
    }

    // The controls of the tabs not showing at start, into their pages.
    void buildHiddenTabs() {
        createSignalLevelTab();
        createConfigTab();
        createSelfCalTab();
        createDiagnosticsTab();
        createTestTab();
        createDebugTab();
        createErrMapTab();
        keepLogLastInFocusChain();
    }

private:
    TMainFormControls& c;
    QWidget* form;

    void createTopPanel();
    void createPositionPanel();
    void createPage();
    void fitTabCaptions(QTabBar* bar);
    void createLogArea();
    void keepLogLastInFocusChain();
    void createInitTab();
    void createInitPowerAndClock(QWidget* tab);
    void createInitReading(QWidget* tab);
    void createInitPositions(QWidget* tab);
    void createSignalLevelTab();
    void createSignalLevelChart(QWidget* tab);
    void createConfigTab();
    void createConfigValueRows(QWidget* tab);
    void createSelfCalTab();
    void createSelfCalStatusGroup(QWidget* tab);
    void createDiagnosticsTab();
    void createDiagnosticsCounters(QWidget* tab);
    void createDiagnosticsStatus(QWidget* tab);
    void createInstallCoeffGroup(QWidget* tab);
    void createTestTab();
    void createTestPanel(QWidget* tab);
    void createPowerCycleGroup(QWidget* panel);
    void createDebugTab();
    void createDebugChart(QWidget* tab);
    void createErrMapTab();
    void createNonVisualMembers();
    QWidget* addTab(const char* name, const QString& caption);
};

void ControlsBuilder::createTopPanel() {
    c.pnl1Top = newColourFrame(form, "pnl1Top", QRect(0, 0, kClientWidth, 81), kWhite);
    QWidget* top = c.pnl1Top;

    c.Image1 = newLabel(top, "Image1", QString(), QRect(8, 8, 160, 65));
    c.Image1->setPixmap(drawLogo(c.Image1->size()));
    c.Image1->setToolTip(QStringLiteral("www.norvane.example"));

    c.gInterfaceInfo =
        newGroup(top, "gInterfaceInfo", QStringLiteral(" Interface info "), QRect(176, 4, 220, 72));
    c.lblComPort = newLabel(c.gInterfaceInfo, "lblComPort", QStringLiteral("Com Port"),
                            QRect(10, 24, 204, 18));
    c.lblInterfaceVer = newLabel(c.gInterfaceInfo, "lblInterfaceVer",
                                 QStringLiteral("Interface Version"), QRect(10, 46, 204, 18));

    c.pnlComm = newColourFrame(top, "pnlComm", QRect(402, 36, 12, 12), kCommLampDark);

    c.GroupBox1 =
        newGroup(top, "GroupBox1", QStringLiteral(" Encoder info "), QRect(420, 4, 373, 72));
    c.lblEncoderInfo = newLabel(c.GroupBox1, "lblEncoderInfo",
                                QStringLiteral("Encoder information"), QRect(10, 22, 355, 44));
    c.lblEncoderInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    c.pnl2Mid = newColourFrame(form, "pnl2Mid", QRect(0, 81, kClientWidth, 8), kStripe);
}

void ControlsBuilder::createPositionPanel() {
    c.pnl1 = placed(new QFrame(form), "pnl1", QRect(0, 89, kClientWidth, 44));
    c.pnl1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    c.pnl1->setToolTip(QStringLiteral("Press Ctrl+A for data logging options"));

    c.lblPosUnit =
        newLabel(c.pnl1, "lblPosUnit", QStringLiteral("Position in units"), QRect(10, 3, 590, 38));
    setBold(c.lblPosUnit, 16);
    c.pnlEncWarn = newLamp(c.pnl1, "pnlEncWarn", QStringLiteral("warning"), QRect(616, 10, 84, 24));
    c.pnlEncErr = newLamp(c.pnl1, "pnlEncErr", QStringLiteral("error"), QRect(708, 10, 84, 24));
}

void ControlsBuilder::createPage() {
    c.Page = placed(new QTabWidget(form), "Page", QRect(4, 137, 578, 445));
    c.tabInit = addTab("tabInit", QStringLiteral("Initialization"));
    c.tabSignalLevelTemperature =
        addTab("tabSignalLevelTemperature", QStringLiteral("Signal level"));
    c.tabConfig = addTab("tabConfig", QStringLiteral("Configuration"));
    c.tabSelfCal = addTab("tabSelfCal", QStringLiteral("Self-Calibration"));
    c.tabDiagnostics = addTab("tabDiagnostics", QStringLiteral("Diagnostics"));
    c.tabTest = addTab("tabTest", QStringLiteral("Test"));
    c.tabDebug = addTab("tabDebug", QStringLiteral("Debug"));
    c.tabErrMap = addTab("tabErrMap", QStringLiteral("Error Map"));
    createInitTab();
    c.Page->setCurrentIndex(0);
    fitTabCaptions(c.Page->tabBar());
}

// With every tab shown, all eight captions must be readable in the fixed
// window without scroll arrows: tighter padding around the captions.
void ControlsBuilder::fitTabCaptions(QTabBar* bar) {
    bar->setStyle(new CompactTabStyle(bar));
    bar->setElideMode(Qt::ElideNone);
    bar->setUsesScrollButtons(false);
}

QWidget* ControlsBuilder::addTab(const char* name, const QString& caption) {
    auto* tab = new QWidget;
    tab->setObjectName(QLatin1String(name));
    c.Page->addTab(tab, caption);
    return tab;
}

// The log follows the controls of the last tab when the user moves on with
// the Tab key, as it would had the tabs been built before it.
void ControlsBuilder::keepLogLastInFocusChain() {
    QWidget* lastTabControl = form->previousInFocusChain();
    QWidget::setTabOrder(lastTabControl, c.cbLogErrors);
    QWidget::setTabOrder(c.cbLogErrors, c.Memo1);
}

void ControlsBuilder::createLogArea() {
    c.cbLogErrors = newCheckBox(form, "cbLogErrors", QStringLiteral("Log Encoder Errors"),
                                QRect(590, 137, 207, 20));
    c.Memo1 = newMemo(form, "Memo1", QRect(588, 159, 209, 423));
    c.Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c.Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A log left running over a shift must not eat the memory: no undo
    // history, and only the most recent lines are kept.
    c.Memo1->setUndoRedoEnabled(false);
    c.Memo1->setMaximumBlockCount(TMainForm::MemoMaxLines);
}

// --- Tab "Initialization" ---

void ControlsBuilder::createInitTab() {
    createInitPowerAndClock(c.tabInit);
    createInitReading(c.tabInit);
    createInitPositions(c.tabInit);

    c.lblSoftwareUpdateStatus1 =
        newLabel(c.tabInit, "lblSoftwareUpdateStatus1", QStringLiteral("(SW update status)"),
                 QRect(8, 352, 558, 18));
    c.lblSoftwareUpdateStatus1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.lblSoftwareUpdateStatus1->setTextFormat(Qt::PlainText); // texts from the network
    c.btnEnableUpdateCheck =
        newButton(c.tabInit, "btnEnableUpdateCheck", QStringLiteral("Enable update checking"),
                  QRect(366, 376, 200, 30));
}

void ControlsBuilder::createInitPowerAndClock(QWidget* tab) {
    c.rgPowerSel = placed(new TRadioGroup(QStringLiteral(" Power "),
                                          {QStringLiteral("3.3 V"), QStringLiteral("5 V")}, 2, tab),
                          "rgPowerSel", QRect(8, 4, 170, 52));
    c.rgPowerSel->SetItemIndex(1);
    c.btnPowerON = newButton(tab, "btnPowerON", QStringLiteral("ON"), QRect(188, 18, 64, 30));
    c.btnPowerON->setEnabled(false);
    c.btnPowerOFF = newButton(tab, "btnPowerOFF", QStringLiteral("OFF"), QRect(258, 18, 64, 30));
    c.lblPower = newLabel(tab, "lblPower", QStringLiteral("..."), QRect(332, 24, 234, 18));

    c.Label4 =
        newLabel(tab, "Label4", QStringLiteral("SPI clock frequency"), QRect(8, 70, 140, 18));
    c.cmbFreqSPI = placed(new QComboBox(tab), "cmbFreqSPI", QRect(150, 66, 130, 26));
    c.cmbFreqSPI->addItems({QStringLiteral("1 = 94 kHz"), QStringLiteral("2 = 188 kHz"),
                            QStringLiteral("3 = 375 kHz"), QStringLiteral("4 = 750 kHz"),
                            QStringLiteral("5 = 1.5 MHz"), QStringLiteral("6 =  3 MHz"),
                            QStringLiteral("7 =  6 MHz"), QStringLiteral("8 = 12 MHz")});
    c.cmbFreqSPI->setCurrentIndex(4);
    c.lblNCS_SCK_delay = newLabel(tab, "lblNCS_SCK_delay", QStringLiteral("NCS-SCK delay (us)"),
                                  QRect(300, 70, 150, 18));
    c.lblNCS_SCK_delay->hide();
    c.seNCS_SCK_delay = newSpinBox(tab, "seNCS_SCK_delay", QRect(452, 66, 80, 26), 1, 900, 15);
    c.seNCS_SCK_delay->hide();

    c.cbDravonelJQLOMA = newCheckBox(
        tab, "cbDravonelJQLOMA", QStringLiteral("Dravonel LOMA and Brix"), QRect(8, 100, 260, 22));
    c.cbDravonelJQLOMA->hide();
}

void ControlsBuilder::createInitReading(QWidget* tab) {
    c.btnConnectEncoder = newButton(tab, "btnConnectEncoder", QStringLiteral("Connect Encoder"),
                                    QRect(8, 128, 140, 30));
    c.btnReadEncoder =
        newButton(tab, "btnReadEncoder", QStringLiteral("Read Position"), QRect(156, 128, 140, 30));
    c.btnReadEncoder->setEnabled(false);
    c.cbReadEncConstantly = newCheckBox(
        tab, "cbReadEncConstantly", QStringLiteral("Read constantly"), QRect(310, 132, 160, 22));
    c.cbReadEncConstantly->setEnabled(false);

    c.lbl3 = newLabel(tab, "lbl3", QStringLiteral("Delay between readings (ms)"),
                      QRect(8, 172, 200, 18));
    c.seDelayBetweenReadings =
        newSpinBox(tab, "seDelayBetweenReadings", QRect(210, 168, 86, 26), 0, 10000, 50, 10);

    c.Label5 =
        newLabel(tab, "Label5", QStringLiteral("Encoder resolution"), QRect(8, 206, 140, 18));
    c.seNominator =
        newSpinBox(tab, "seNominator", QRect(150, 202, 110, 26), -10000000, 10000000, 360);
    c.seNominator->setToolTip(QStringLiteral("Nominator"));
    newLabel(tab, "lblResolutionSlash", QStringLiteral("/"), QRect(262, 206, 12, 18))
        ->setAlignment(Qt::AlignCenter);
    c.seDenominator = newSpinBox(tab, "seDenominator", QRect(276, 202, 110, 26), 1, 10000000, 1);
    c.seDenominator->setToolTip(QStringLiteral("Denominator"));
    c.edUnit = newEdit(tab, "edUnit", QRect(394, 202, 60, 26), QStringLiteral("deg"));
    c.edUnit->setToolTip(QStringLiteral("Units"));
}

void ControlsBuilder::createInitPositions(QWidget* tab) {
    const QString multiturnHint = QStringLiteral("Encoder Multiturn position");
    const QString singleturnHint = QStringLiteral("Encoder Singleturn position");

    c.Panel1 = newValuePanel(tab, "Panel1", "lblPosRX", QRect(96, 242, 300, 28),
                             QStringLiteral("Position RX"),
                             QStringLiteral("Raw position data from the encoder"), c.lblPosRX);
    c.pnlCRC = newLamp(tab, "pnlCRC", QStringLiteral("CRC Error"), QRect(404, 242, 90, 28));

    c.lblCH0 = newLabel(tab, "lblCH0", QStringLiteral("CH 0\n(outer ring)"), QRect(8, 274, 84, 36));
    c.lblCH0->hide();
    c.Panel2 = newValuePanel(tab, "Panel2", "lblPosMT", QRect(96, 278, 148, 28),
                             QStringLiteral("Position MT"), multiturnHint, c.lblPosMT);
    c.Panel3 = newValuePanel(tab, "Panel3", "lblPosST", QRect(248, 278, 148, 28),
                             QStringLiteral("Position ST"), singleturnHint, c.lblPosST);

    c.lblCH1 = newLabel(tab, "lblCH1", QStringLiteral("CH 1\n(inner ring)"), QRect(8, 310, 84, 36));
    c.lblCH1->hide();
    c.pnlCH1MT = newValuePanel(tab, "pnlCH1MT", "lblPosMT_CH1", QRect(96, 314, 148, 28),
                               QStringLiteral("Position MT CH1"), multiturnHint, c.lblPosMT_CH1);
    c.pnlCH1MT->hide();
    c.pnlCH1ST = newValuePanel(tab, "pnlCH1ST", "lblPosST_CH1", QRect(248, 314, 148, 28),
                               QStringLiteral("Position ST CH1"), singleturnHint, c.lblPosST_CH1);
    c.pnlCH1ST->hide();
}

// --- Tab "Signal level" ---

void ControlsBuilder::createSignalLevelTab() {
    QWidget* tab = c.tabSignalLevelTemperature;

    c.lblSignalLevel =
        newLabel(tab, "lblSignalLevel", QStringLiteral("Signal level"), QRect(8, 6, 558, 20));
    setBold(c.lblSignalLevel);
    c.lblTemperature =
        newLabel(tab, "lblTemperature", QStringLiteral("Temperature"), QRect(8, 28, 558, 20));
    setBold(c.lblTemperature);

    createSignalLevelChart(tab);

    c.rbDrawAirGap =
        newRadioButton(tab, "rbDrawAirGap", QStringLiteral("Draw Air Gap"), QRect(8, 384, 116, 22));
    c.rbDrawPos =
        newRadioButton(tab, "rbDrawPos", QStringLiteral("Draw Position"), QRect(128, 384, 120, 22));
    c.rbDrawTemp = newRadioButton(tab, "rbDrawTemp", QStringLiteral("Draw Temperature"),
                                  QRect(252, 384, 150, 22));
    c.rbDrawNone =
        newRadioButton(tab, "rbDrawNone", QStringLiteral("Off"), QRect(406, 384, 60, 22));
    c.rbDrawNone->setChecked(true);
    c.btnSaveSignalLvlChart =
        newButton(tab, "btnSaveSignalLvlChart", QStringLiteral("Save"), QRect(486, 380, 80, 30));
}

void ControlsBuilder::createSignalLevelChart(QWidget* tab) {
    TChartView* chart = newChartView(tab, "ChartSignalLevel", QRect(4, 52, 566, 322));
    c.ChartSignalLevel = chart;
    c.ChartSignalLevelAxisBottom =
        newAxis(chart, "ChartSignalLevelAxisBottom", Qt::AlignBottom, 0, 100);
    c.ChartSignalLevelAxisLeft =
        newAxis(chart, "ChartSignalLevelAxisLeft", Qt::AlignLeft, -1001, 1001);
    c.ChartSignalLevelAxisRight =
        newAxis(chart, "ChartSignalLevelAxisRight", Qt::AlignRight, -1000, 1000);
    // Both series plot against the left axis; an axis without series is not shown.
    c.ChartSignalLevelAxisRight->setVisible(false);

    c.SeriesGreen = newSeries<QLineSeries>(chart, "SeriesGreen", c.ChartSignalLevelAxisBottom,
                                           c.ChartSignalLevelAxisLeft);
    c.SeriesBlue = newSeries<QLineSeries>(chart, "SeriesBlue", c.ChartSignalLevelAxisBottom,
                                          c.ChartSignalLevelAxisLeft);
    setLinePen(c.SeriesGreen, 0x00AA00, 2);
    setLinePen(c.SeriesBlue, 0x0000FF, 2);
    // Points are drawn so that a point's own colour (error, warning) shows.
    for (QLineSeries* series : {c.SeriesGreen, c.SeriesBlue}) {
        series->setPointsVisible(true);
        series->setMarkerSize(4);
    }
}

// --- Tab "Configuration" ---

// One row per encoder setting: caption, value edit, write button.
void ControlsBuilder::createConfigValueRows(QWidget* tab) {
    struct SettingRow {
        QLabel*& label;
        const char* labelName;
        const char* caption;
        QLineEdit*& edit;
        const char* editName;
        QPushButton*& button;
        const char* buttonName;
        const char* buttonCaption;
    };
    const SettingRow rows[] = {
        {c.Label1, "Label1", "Position offset", c.edPosOffset, "edPosOffset", c.btnWriteZero,
         "btnWriteZero", "Write Zero"},
        {c.Label3, "Label3", "Position filter", c.edFilterPosVal, "edFilterPosVal",
         c.btnWriteFilter, "btnWriteFilter", "Write Filter"},
        {c.lblMTerrArc, "lblMTerrArc", "Multiturn error arc", c.edMTerrArc, "edMTerrArc",
         c.btnMTerrArcWrite, "btnMTerrArcWrite", "Write MT arc"},
        {c.Label2, "Label2", "Multiturn preset", c.edMultiturnPreset, "edMultiturnPreset",
         c.btnApplyMT, "btnApplyMT", "Apply MT"},
    };
    int y = 12;
    for (const SettingRow& row : rows) {
        row.label =
            newLabel(tab, row.labelName, QString::fromUtf8(row.caption), QRect(8, y + 4, 150, 18));
        row.edit = newEdit(tab, row.editName, QRect(160, y, 120, 26));
        row.button = newButton(tab, row.buttonName, QString::fromUtf8(row.buttonCaption),
                               QRect(290, y - 2, 120, 30));
        y += 38;
    }
}

void ControlsBuilder::createConfigTab() {
    QWidget* tab = c.tabConfig;
    createConfigValueRows(tab);
    for (QWidget* widget :
         std::initializer_list<QWidget*>{c.Label3, c.edFilterPosVal, c.btnWriteFilter})
        widget->setToolTip(kFilterHint);

    c.btnSaveFlash =
        newButton(tab, "btnSaveFlash", QStringLiteral("Save to NVRAM"), QRect(8, 174, 130, 30));
    c.btnFactoryReset = newButton(tab, "btnFactoryReset", QStringLiteral("Factory Reset"),
                                  QRect(146, 174, 130, 30));

    c.grpUlvaxZero =
        newGroup(tab, "grpUlvaxZero", QStringLiteral(" Zero preset  "), QRect(8, 220, 402, 120));
    c.btnUlvaxSetZero = newButton(c.grpUlvaxZero, "btnUlvaxSetZero",
                                  QStringLiteral("Set zero here"), QRect(10, 28, 130, 30));
    c.btnUlvaxSetZero->setToolTip(
        QStringLiteral("Preset zero position on current encoder position"));
    c.lblUlvaxZeroStatus = newLabel(c.grpUlvaxZero, "lblUlvaxZeroStatus", QStringLiteral("..."),
                                    QRect(150, 28, 242, 84));
    c.lblUlvaxZeroStatus->setWordWrap(true);
    c.lblUlvaxZeroStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// --- Tab "Self-Calibration" ---

void ControlsBuilder::createSelfCalTab() {
    QWidget* tab = c.tabSelfCal;

    c.lbl1 = newLabel(tab, "lbl1", QStringLiteral("Partial Arc (deg)"), QRect(8, 8, 190, 18));
    c.edSelfCalArc = newEdit(tab, "edSelfCalArc", QRect(8, 28, 120, 26));
    c.lblSelfCalTmo =
        newLabel(tab, "lblSelfCalTmo", QStringLiteral("Timeout (sec)"), QRect(8, 64, 190, 18));
    c.edSelfCalTimeout = newEdit(tab, "edSelfCalTimeout", QRect(8, 84, 120, 26));

    c.btnSelfCalStart =
        newButton(tab, "btnSelfCalStart", QStringLiteral("Start self-cal"), QRect(8, 126, 190, 30));
    c.pbSelfCalProgress =
        placed(new QProgressBar(tab), "pbSelfCalProgress", QRect(8, 164, 190, 22));
    c.pbSelfCalProgress->setRange(0, 23);
    c.pbSelfCalProgress->setValue(0);
    c.btnSelfCalReadStatus = newButton(tab, "btnSelfCalReadStatus", QStringLiteral("Read status"),
                                       QRect(8, 196, 190, 30));

    createSelfCalStatusGroup(tab);
}

void ControlsBuilder::createSelfCalStatusGroup(QWidget* tab) {
    c.GroupBox4 = newGroup(tab, "GroupBox4", QStringLiteral("Self-calibration status"),
                           QRect(210, 2, 358, 408));
    struct Indicator {
        QLabel*& panel;
        const char* name;
        const char* caption;
    };
    const Indicator indicators[] = {
        {c.pnlAselfCalFinished, "pnlAselfCalFinished", "Procedure finished"},
        {c.pnlAselfCalSucessfull, "pnlAselfCalSucessfull", "Calibration successfull"},
        {c.pnlAselfCalTimeout, "pnlAselfCalTimeout", "Timeout expired"},
        {c.pnlAselfCalOutOfRange, "pnlAselfCalOutOfRange", "Calibration out of range"},
        {c.pnlAselfCalNoCorrection, "pnlAselfCalNoCorrection", "No correction necessary"},
        {c.pnlASelfCalUserErrMap, "pnlASelfCalUserErrMap", "User Error map in use"},
        {c.pnlASelfCalEncoderError, "pnlASelfCalEncoderError", "Encoder in Error state"},
        {c.pnlASelfCalNumericalErr, "pnlASelfCalNumericalErr", "Numerical error"},
        {c.pnlASelfCalRadialDisp, "pnlASelfCalRadialDisp", "Radial displacement too high"},
        {c.pnlASelfCalWriteErr, "pnlASelfCalWriteErr", "NVRAM Write error"},
        {c.pnlAselfCalParamOutOfRange, "pnlAselfCalParamOutOfRange",
         "Input Arc Length out of range"},
    };
    int y = 24;
    for (const Indicator& indicator : indicators) {
        indicator.panel = newLamp(c.GroupBox4, indicator.name, QString::fromUtf8(indicator.caption),
                                  QRect(10, y, 338, 19));
        y += 21;
    }
    c.mmSelfCalStatus = newMemo(c.GroupBox4, "mmSelfCalStatus", QRect(10, y + 4, 338, 400 - y - 4));
}

// --- Tab "Diagnostics" ---

void ControlsBuilder::createDiagnosticsTab() {
    QWidget* tab = c.tabDiagnostics;
    createDiagnosticsCounters(tab);
    createDiagnosticsStatus(tab);
    createInstallCoeffGroup(tab);
}

// The runtime counters and safety margins, written by the read cycle.
void ControlsBuilder::createDiagnosticsCounters(QWidget* tab) {
    struct ValueLabel {
        QLabel*& label;
        const char* name;
    };
    const ValueLabel values[] = {
        {c.lblDiagNumPwrCyc, "lblDiagNumPwrCyc"},
        {c.lblDiagOpTimeMin, "lblDiagOpTimeMin"},
        {c.lblDiagTempMin, "lblDiagTempMin"},
        {c.lblDiagTempMax, "lblDiagTempMax"},
        {c.lblDecodingSafetyMargin_RT, "lblDecodingSafetyMargin_RT"},
        {c.lblDecodingSafetyMargin_PER, "lblDecodingSafetyMargin_PER"},
    };
    int y = 8;
    for (const ValueLabel& value : values) {
        value.label = newLabel(tab, value.name, QStringLiteral("..."), QRect(8, y, 280, 18));
        y += 22;
    }
    // Beside the "PER" margin, which it resets.
    c.btnDecodingSafetyReset =
        newButton(tab, "btnDecodingSafetyReset", QStringLiteral("Reset"), QRect(292, 114, 80, 26));
}

void ControlsBuilder::createDiagnosticsStatus(QWidget* tab) {
    c.cbDetailedStatus = newCheckBox(tab, "cbDetailedStatus", QStringLiteral("Detailed status"),
                                     QRect(8, 150, 180, 22));
    c.cbPersistentStatus = newCheckBox(tab, "cbPersistentStatus",
                                       QStringLiteral("Persistent Status"), QRect(8, 178, 180, 22));
    c.btnClearPersistentStatus = newButton(tab, "btnClearPersistentStatus", QStringLiteral("Clear"),
                                           QRect(192, 175, 80, 26));

    c.lblDetailedStatus = newLabel(tab, "lblDetailedStatus", QStringLiteral("Detailed Status"),
                                   QRect(8, 210, 558, 18));
    c.lblDetailedStatusTxt = newLabel(tab, "lblDetailedStatusTxt", QStringLiteral("Status txt"),
                                      QRect(8, 232, 364, 178));
    c.lblDetailedStatusTxt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    c.lblDetailedStatusTxt->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    c.lblDetailedStatusTxt->setMargin(3);
    SetPanelColor(c.lblDetailedStatusTxt, kWhite);

    c.btnReadWriteAccessRegister =
        newButton(tab, "btnReadWriteAccessRegister", QStringLiteral("Read Write access register"),
                  QRect(380, 232, 186, 30));
    c.btnResetDravonelProtocol =
        newButton(tab, "btnResetDravonelProtocol", QStringLiteral("Reset Dravonel protocol"),
                  QRect(380, 270, 186, 30));
}

// Installation coefficients: shown only in full developer mode.
void ControlsBuilder::createInstallCoeffGroup(QWidget* tab) {
    c.grpInstallCoeff = newGroup(tab, "grpInstallCoeff", QStringLiteral(" Koeficienti za montažo "),
                                 QRect(380, 4, 186, 90));
    c.lblInstallCoeff =
        newLabel(c.grpInstallCoeff, "lblInstallCoeff", QString(), QRect(10, 24, 166, 60));
    c.lblInstallCoeff->setWordWrap(true);
    c.lblInstallCoeff->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    c.grpInstallCoeff->hide();
}

// --- Tab "Test" ---

void ControlsBuilder::createTestTab() {
    QWidget* tab = c.tabTest;
    c.cbShranjujMeritveDebug =
        newCheckBox(tab, "cbShranjujMeritveDebug", QStringLiteral("Record debug data to file"),
                    QRect(8, 6, 260, 22));
    c.mmFileName = newMemo(tab, "mmFileName", QRect(8, 30, 400, 62));
    c.cbLogComms =
        newCheckBox(tab, "cbLogComms", QStringLiteral("Log comms"), QRect(420, 6, 146, 22));
    createTestPanel(tab);
}

void ControlsBuilder::createTestPanel(QWidget* tab) {
    c.pnlTest = newColourFrame(tab, "pnlTest", QRect(4, 100, 566, 310), kSilver);
    c.pnlTest->setFrameStyle(QFrame::Panel | QFrame::Raised);

    c.btnPositionNoise = newButton(c.pnlTest, "btnPositionNoise", QStringLiteral("Position Noise"),
                                   QRect(8, 8, 150, 30));
    c.btnPositionNoise->setToolTip(QStringLiteral("Pomeri statistiko pozicijskega šuma"));
    c.btnPositionNoise->hide();
    c.mmTestRezultat = newMemo(c.pnlTest, "mmTestRezultat", QRect(8, 44, 200, 226));
    c.mmTestRezultat->setPlainText(QStringLiteral("mmTestRezultat"));

    createPowerCycleGroup(c.pnlTest);

    c.cbErrorDebugLatch =
        newCheckBox(c.pnlTest, "cbErrorDebugLatch",
                    QStringLiteral("Error v enkoderju avtomatsko latch-a debug podatke"),
                    QRect(8, 280, 548, 22));
    c.pnlTest->hide();
}

void ControlsBuilder::createPowerCycleGroup(QWidget* panel) {
    c.GroupBoxPowerCycle =
        newGroup(panel, "GroupBoxPowerCycle", QStringLiteral(" Power Cycling test "),
                 QRect(218, 4, 340, 170));
    QWidget* group = c.GroupBoxPowerCycle;
    c.lblonoff =
        newLabel(group, "lblonoff", QStringLiteral("Number on/off cycles"), QRect(10, 32, 160, 18));
    c.seSteviloIzklopov =
        newSpinBox(group, "seSteviloIzklopov", QRect(176, 28, 100, 26), 0, 100000, 5000);
    c.lblonoffdelay =
        newLabel(group, "lblonoffdelay", QStringLiteral("Delay (ms)"), QRect(10, 66, 160, 18));
    c.seIzklopDelayMin =
        newSpinBox(group, "seIzklopDelayMin", QRect(176, 62, 76, 26), 10, 10000, 150);
    c.seIzklopDelayMin->setToolTip(QStringLiteral("Random between MIN"));
    c.seIzklopDelayMax =
        newSpinBox(group, "seIzklopDelayMax", QRect(256, 62, 76, 26), 10, 10000, 400);
    c.seIzklopDelayMax->setToolTip(QStringLiteral("Random between MAX"));
    c.cbCiklirajStacionarno = newCheckBox(group, "cbCiklirajStacionarno",
                                          QStringLiteral("Pri miru"), QRect(10, 100, 160, 22));
    c.cbCiklirajIzklope =
        newCheckBox(group, "cbCiklirajIzklope", QStringLiteral("Start"), QRect(10, 130, 160, 22));
}

// --- Tab "Debug" ---

void ControlsBuilder::createDebugTab() {
    QWidget* tab = c.tabDebug;
    createDebugChart(tab);

    // The spectrum bars stand on the bottom edge of their background (y = 363);
    // the debug view sets their top and height.
    c.shBgFFT = newColourFrame(tab, "shBgFFT", QRect(517, 47, 49, 316), kWhite);
    c.shBgFFT->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette outline = c.shBgFFT->palette();
    outline.setColor(QPalette::WindowText, Qt::black);
    c.shBgFFT->setPalette(outline);
    c.shLevo = newColourFrame(tab, "shLevo", QRect(525, 330, 9, 33), kSpectrumSide);
    c.shCenter = newColourFrame(tab, "shCenter", QRect(538, 330, 9, 33), kSpectrumCentre);
    c.shDesno = newColourFrame(tab, "shDesno", QRect(551, 330, 9, 33), kSpectrumSide);

    c.btnDebugUnlock =
        newButton(tab, "btnDebugUnlock", QStringLiteral("Unlock"), QRect(514, 376, 56, 30));
    c.btnDebugUnlock->hide();
}

void ControlsBuilder::createDebugChart(QWidget* tab) {
    TChartView* chart = newChartView(tab, "ChartDebug", QRect(4, 4, 506, 404));
    c.ChartDebug = chart;
    c.ChartDebugAxisBottom = newAxis(chart, "ChartDebugAxisBottom", Qt::AlignBottom, 0, 56);
    c.ChartDebugAxisLeft = newAxis(chart, "ChartDebugAxisLeft", Qt::AlignLeft, -1201, 1201);

    c.SeriesDebug =
        newSeries<QLineSeries>(chart, "SeriesDebug", c.ChartDebugAxisBottom, c.ChartDebugAxisLeft);
    setLinePen(c.SeriesDebug, kNavy, 2);
    c.Series2 =
        newSeries<QScatterSeries>(chart, "Series2", c.ChartDebugAxisBottom, c.ChartDebugAxisLeft);
    c.Series2->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    c.Series2->setMarkerSize(7); // three pixels each side of the point
    c.Series2->setColor(QColor::fromRgb(kSamplePick));
    c.Series2->setBorderColor(QColor::fromRgb(kSamplePick));

    // The code words are written over the plot, one bit above each group of samples.
    c.lblKodaNaGrafu =
        newLabel(c.ChartDebug, "lblKodaNaGrafu", QStringLiteral("Koda"), QRect(60, 8, 440, 42));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(15);
    c.lblKodaNaGrafu->setFont(font);
    c.lblKodaNaGrafu->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// --- Tab "Error Map" ---

void ControlsBuilder::createErrMapTab() {
    QWidget* tab = c.tabErrMap;
    c.btnReadErrMap =
        newButton(tab, "btnReadErrMap", QStringLiteral("Read Error Map"), QRect(8, 8, 140, 30));
    c.ErrMapProgressBar =
        placed(new QProgressBar(tab), "ErrMapProgressBar", QRect(158, 12, 258, 22));
    c.ErrMapProgressBar->setRange(0, 500);
    c.ErrMapProgressBar->setValue(0);
    c.ErrMapProgressBar->hide();
    c.btnErrorMapSaveFile = newButton(tab, "btnErrorMapSaveFile", QStringLiteral("Save to file"),
                                      QRect(426, 8, 140, 30));

    TChartView* chart = newChartView(tab, "chartErrMap", QRect(4, 46, 566, 364));
    c.chartErrMap = chart;
    // 0 to 512 in steps of 128: the ticks fall on whole points.
    c.chartErrMapAxisBottom = newAxis(chart, "chartErrMapAxisBottom", Qt::AlignBottom, 0, 512,
                                      QStringLiteral("Position (deg)"));
    c.chartErrMapAxisBottom->setLabelFormat(QStringLiteral("%d"));
    c.chartErrMapAxisLeft = newAxis(chart, "chartErrMapAxisLeft", Qt::AlignLeft, -100, 100,
                                    QStringLiteral("Correction (counts)"));
    c.Series1 =
        newSeries<QLineSeries>(chart, "Series1", c.chartErrMapAxisBottom, c.chartErrMapAxisLeft);
    c.Series1->setColor(QColor::fromRgb(kErrMapLine));
    // Square point markers on the line.
    QImage square(5, 5, QImage::Format_ARGB32);
    square.fill(c.Series1->color());
    c.Series1->setLightMarker(square);
}

// --- Timers and the save dialog ---

void ControlsBuilder::createNonVisualMembers() {
    c.initTimer = newTimer(form, "initTimer", 200);
    c.tmrCommDebug = newTimer(form, "tmrCommDebug", 500);
    c.tmrSelfCalWait = newTimer(form, "tmrSelfCalWait", 500);
    c.timerOnOff = newTimer(form, "timerOnOff", 100);
    c.tmrStartupTimer = newTimer(form, "tmrStartupTimer", 6000);

    c.SaveDialog1.filter = QStringLiteral("*.png (*.png)");
    c.SaveDialog1.defaultSuffix = QStringLiteral("png");
    c.SaveDialog1.confirmOverwrite = true;
}

} // namespace

void TMainForm::CreateControls() {
    // A fixed single border with the system menu and a close button only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowTitle(QStringLiteral("Ulvax-2 & Ulvax-4 SPI Dravonel"));

    ControlsBuilder(*this, this).buildShownControls();
}

void TMainForm::CreateHiddenTabControls() {
    ControlsBuilder(*this, this).buildHiddenTabs();
}

// The window keeps its fixed size where the screen can show it. A screen
// that cannot (a small one at a large scaling) would cut its bottom off with
// no way to reach it: there the window takes the size the screen has and its
// content scrolls. A few pixels short count as fitting, since the window's
// edges hold no control.
void TMainForm::FitToScreen(const QSize& available) {
    constexpr int ToleranceDesignPixels = 8;
    const QSize design(kClientWidth, kClientHeight);
    if (windowScroller || (design.width() <= available.width() + ToleranceDesignPixels &&
                           design.height() <= available.height() + ToleranceDesignPixels))
        return;
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("WindowContent"));
    content->setFixedSize(design);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const bool hidden = child->isHidden();
        child->setParent(content);
        child->setHidden(hidden);
    }
    windowScroller = new QScrollArea(this);
    windowScroller->setObjectName(QStringLiteral("WindowScroller"));
    windowScroller->setFrameShape(QFrame::NoFrame);
    windowScroller->setWidget(content);
    const QSize shown = design.boundedTo(available);
    setFixedSize(shown);
    windowScroller->setGeometry(QRect(QPoint(0, 0), shown));
    windowScroller->show();
}
