// The main window: its controls, the normal and developer views, the key
// chords, the caption and closing.
#include "Orodja.h"
#include "QtUserInteraction.h"
#include "WindowFixture.h"

#include "Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHostInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

namespace {

bool shown(QWidget* w) {
    return !w->isHidden();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    void release(TMainForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::keyRelease(&form, key, modifiers);
    }

private slots:
    void everyNamedControlExists() {
        WindowFixture window;
        const char* names[] = {"pnl1Top",
                               "Image1",
                               "gInterfaceInfo",
                               "lblComPort",
                               "lblInterfaceVer",
                               "pnlComm",
                               "GroupBox1",
                               "lblEncoderInfo",
                               "pnl2Mid",
                               "pnl1",
                               "lblPosUnit",
                               "pnlEncWarn",
                               "pnlEncErr",
                               "Page",
                               "cbLogErrors",
                               "Memo1",
                               "tabInit",
                               "cbDravonelJQLOMA",
                               "rgPowerSel",
                               "btnPowerON",
                               "btnPowerOFF",
                               "lblPower",
                               "Label4",
                               "cmbFreqSPI",
                               "lblNCS_SCK_delay",
                               "seNCS_SCK_delay",
                               "btnConnectEncoder",
                               "btnReadEncoder",
                               "lbl3",
                               "seDelayBetweenReadings",
                               "cbReadEncConstantly",
                               "Label5",
                               "seNominator",
                               "seDenominator",
                               "edUnit",
                               "Panel1",
                               "lblPosRX",
                               "pnlCRC",
                               "Panel2",
                               "lblPosMT",
                               "Panel3",
                               "lblPosST",
                               "lblCH0",
                               "lblCH1",
                               "pnlCH1MT",
                               "lblPosMT_CH1",
                               "pnlCH1ST",
                               "lblPosST_CH1",
                               "lblSoftwareUpdateStatus1",
                               "btnEnableUpdateCheck",
                               "tabSignalLevelTemperature",
                               "lblSignalLevel",
                               "lblTemperature",
                               "ChartSignalLevel",
                               "btnSaveSignalLvlChart",
                               "rbDrawAirGap",
                               "rbDrawPos",
                               "rbDrawTemp",
                               "rbDrawNone",
                               "tabConfig",
                               "Label1",
                               "edPosOffset",
                               "btnWriteZero",
                               "Label3",
                               "edFilterPosVal",
                               "btnWriteFilter",
                               "lblMTerrArc",
                               "edMTerrArc",
                               "btnMTerrArcWrite",
                               "Label2",
                               "edMultiturnPreset",
                               "btnApplyMT",
                               "btnSaveFlash",
                               "btnFactoryReset",
                               "grpUlvaxZero",
                               "btnUlvaxSetZero",
                               "lblUlvaxZeroStatus",
                               "tabSelfCal",
                               "lbl1",
                               "edSelfCalArc",
                               "lblSelfCalTmo",
                               "edSelfCalTimeout",
                               "btnSelfCalStart",
                               "pbSelfCalProgress",
                               "btnSelfCalReadStatus",
                               "GroupBox4",
                               "pnlAselfCalFinished",
                               "pnlAselfCalSucessfull",
                               "pnlAselfCalTimeout",
                               "pnlAselfCalOutOfRange",
                               "pnlAselfCalNoCorrection",
                               "pnlASelfCalUserErrMap",
                               "pnlASelfCalEncoderError",
                               "pnlASelfCalNumericalErr",
                               "pnlASelfCalRadialDisp",
                               "pnlASelfCalWriteErr",
                               "pnlAselfCalParamOutOfRange",
                               "mmSelfCalStatus",
                               "tabDiagnostics",
                               "lblDiagNumPwrCyc",
                               "lblDiagOpTimeMin",
                               "lblDiagTempMin",
                               "lblDiagTempMax",
                               "lblDecodingSafetyMargin_RT",
                               "lblDecodingSafetyMargin_PER",
                               "btnDecodingSafetyReset",
                               "cbDetailedStatus",
                               "cbPersistentStatus",
                               "btnClearPersistentStatus",
                               "lblDetailedStatus",
                               "lblDetailedStatusTxt",
                               "btnReadWriteAccessRegister",
                               "btnResetDravonelProtocol",
                               "grpInstallCoeff",
                               "lblInstallCoeff",
                               "tabTest",
                               "cbShranjujMeritveDebug",
                               "mmFileName",
                               "cbLogComms",
                               "pnlTest",
                               "btnPositionNoise",
                               "mmTestRezultat",
                               "GroupBoxPowerCycle",
                               "lblonoff",
                               "seSteviloIzklopov",
                               "lblonoffdelay",
                               "seIzklopDelayMin",
                               "seIzklopDelayMax",
                               "cbCiklirajStacionarno",
                               "cbCiklirajIzklope",
                               "cbErrorDebugLatch",
                               "tabDebug",
                               "ChartDebug",
                               "lblKodaNaGrafu",
                               "shBgFFT",
                               "shLevo",
                               "shCenter",
                               "shDesno",
                               "btnDebugUnlock",
                               "tabErrMap",
                               "btnReadErrMap",
                               "ErrMapProgressBar",
                               "btnErrorMapSaveFile",
                               "chartErrMap",
                               "initTimer",
                               "tmrCommDebug",
                               "tmrSelfCalWait",
                               "timerOnOff",
                               "tmrStartupTimer"};
        QStringList missing;
        for (const char* name : names) {
            if (!window.Form().findChild<QObject*>(QLatin1String(name)))
                missing << QLatin1String(name);
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1String(", "))));
    }

    // Caption, default, range, hint and visibility of every control of the
    // window in the normal view, as designed.
    void controlsStartAsDesigned_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char* control, const char* property, const QVariant& value) {
            QTest::addRow("%s.%s", control, property)
                << QString::fromLatin1(control) << QByteArray(property) << value;
        };
        const auto text = [&](const char* control, const char* caption) {
            row(control, "text", QString::fromUtf8(caption));
        };
        const auto title = [&](const char* control, const char* caption) {
            row(control, "title", QString::fromUtf8(caption));
        };
        const auto hint = [&](const char* control, const char* caption) {
            row(control, "toolTip", QString::fromUtf8(caption));
        };
        const auto spin = [&](const char* control, int value, int minimum, int maximum) {
            row(control, "value", value);
            row(control, "minimum", minimum);
            row(control, "maximum", maximum);
        };
        const auto hidden = [&](const char* control) { row(control, "hidden", true); };
        const auto disabled = [&](const char* control) { row(control, "enabled", false); };

        // Top panel, position panel and log area.
        title("gInterfaceInfo", " Interface info ");
        text("lblComPort", "Com Port");
        text("lblInterfaceVer", "Interface Version");
        title("GroupBox1", " Encoder info ");
        text("lblEncoderInfo", "Encoder information");
        hint("pnl1", "Press Ctrl+A for data logging options");
        text("lblPosUnit", "Position in units");
        text("pnlEncWarn", "warning");
        text("pnlEncErr", "error");
        text("cbLogErrors", "Log Encoder Errors");
        row("cbLogErrors", "checked", false);
        // Initialization.
        text("cbDravonelJQLOMA", "Dravonel LOMA and Brix");
        hidden("cbDravonelJQLOMA");
        row("cbDravonelJQLOMA", "checked", false);
        title("rgPowerSel", " Power ");
        text("btnPowerON", "ON");
        disabled("btnPowerON");
        text("btnPowerOFF", "OFF");
        row("btnPowerOFF", "enabled", true);
        text("lblPower", "...");
        text("Label4", "SPI clock frequency");
        row("cmbFreqSPI", "currentIndex", 4);
        row("cmbFreqSPI", "currentText", QStringLiteral("5 = 1.5 MHz"));
        text("lblNCS_SCK_delay", "NCS-SCK delay (us)");
        hidden("lblNCS_SCK_delay");
        spin("seNCS_SCK_delay", 15, 1, 900);
        hidden("seNCS_SCK_delay");
        text("btnConnectEncoder", "Connect Encoder");
        row("btnConnectEncoder", "enabled", true);
        text("btnReadEncoder", "Read Position");
        disabled("btnReadEncoder");
        text("lbl3", "Delay between readings (ms)");
        spin("seDelayBetweenReadings", 50, 0, 10000);
        row("seDelayBetweenReadings", "singleStep", 10);
        text("cbReadEncConstantly", "Read constantly");
        disabled("cbReadEncConstantly");
        text("Label5", "Encoder resolution");
        spin("seNominator", 360, -10000000, 10000000);
        hint("seNominator", "Nominator");
        spin("seDenominator", 1, 1, 10000000);
        hint("seDenominator", "Denominator");
        text("edUnit", "deg");
        hint("edUnit", "Units");
        hint("Panel1", "Raw position data from the encoder");
        text("lblPosRX", "Position RX");
        text("pnlCRC", "CRC Error");
        hint("Panel2", "Encoder Multiturn position");
        text("lblPosMT", "Position MT");
        hint("Panel3", "Encoder Singleturn position");
        text("lblPosST", "Position ST");
        text("lblCH0", "CH 0\n(outer ring)");
        hidden("lblCH0");
        text("lblCH1", "CH 1\n(inner ring)");
        hidden("lblCH1");
        hint("pnlCH1MT", "Encoder Multiturn position");
        hidden("pnlCH1MT");
        text("lblPosMT_CH1", "Position MT CH1");
        hint("pnlCH1ST", "Encoder Singleturn position");
        hidden("pnlCH1ST");
        text("lblPosST_CH1", "Position ST CH1");
        text("lblSoftwareUpdateStatus1", "(SW update status)");
        text("btnEnableUpdateCheck", "Enable update checking");
        row("btnEnableUpdateCheck", "enabled", true);
        // Signal level.
        text("lblSignalLevel", "Signal level");
        text("lblTemperature", "Temperature");
        text("btnSaveSignalLvlChart", "Save");
        text("rbDrawAirGap", "Draw Air Gap");
        text("rbDrawPos", "Draw Position");
        text("rbDrawTemp", "Draw Temperature");
        text("rbDrawNone", "Off");
        row("rbDrawNone", "checked", true);
        // Configuration.
        const char* filterHint = "NOTE: Filter settings are effective after power cycle.";
        text("Label1", "Position offset");
        text("edPosOffset", "");
        text("btnWriteZero", "Write Zero");
        text("Label3", "Position filter");
        for (const char* control : {"Label3", "edFilterPosVal", "btnWriteFilter"})
            hint(control, filterHint);
        text("edFilterPosVal", "");
        text("btnWriteFilter", "Write Filter");
        text("lblMTerrArc", "Multiturn error arc");
        text("edMTerrArc", "");
        text("btnMTerrArcWrite", "Write MT arc");
        text("Label2", "Multiturn preset");
        text("edMultiturnPreset", "");
        text("btnApplyMT", "Apply MT");
        text("btnSaveFlash", "Save to NVRAM");
        text("btnFactoryReset", "Factory Reset");
        title("grpUlvaxZero", " Zero preset  ");
        text("btnUlvaxSetZero", "Set zero here");
        hint("btnUlvaxSetZero", "Preset zero position on current encoder position");
        text("lblUlvaxZeroStatus", "...");
        row("lblUlvaxZeroStatus", "wordWrap", true);
        // Self-calibration.
        text("lbl1", "Partial Arc (deg)");
        text("edSelfCalArc", "");
        text("lblSelfCalTmo", "Timeout (sec)");
        text("edSelfCalTimeout", "");
        text("btnSelfCalStart", "Start self-cal");
        row("pbSelfCalProgress", "maximum", 23);
        text("btnSelfCalReadStatus", "Read status");
        title("GroupBox4", "Self-calibration status");
        text("pnlAselfCalFinished", "Procedure finished");
        text("pnlAselfCalSucessfull", "Calibration successfull");
        text("pnlAselfCalTimeout", "Timeout expired");
        text("pnlAselfCalOutOfRange", "Calibration out of range");
        text("pnlAselfCalNoCorrection", "No correction necessary");
        text("pnlASelfCalUserErrMap", "User Error map in use");
        text("pnlASelfCalEncoderError", "Encoder in Error state");
        text("pnlASelfCalNumericalErr", "Numerical error");
        text("pnlASelfCalRadialDisp", "Radial displacement too high");
        text("pnlASelfCalWriteErr", "NVRAM Write error");
        text("pnlAselfCalParamOutOfRange", "Input Arc Length out of range");
        // Diagnostics.
        for (const char* control :
             {"lblDiagNumPwrCyc", "lblDiagOpTimeMin", "lblDiagTempMin", "lblDiagTempMax",
              "lblDecodingSafetyMargin_RT", "lblDecodingSafetyMargin_PER"})
            text(control, "...");
        text("btnDecodingSafetyReset", "Reset");
        text("cbDetailedStatus", "Detailed status");
        text("cbPersistentStatus", "Persistent Status");
        text("btnClearPersistentStatus", "Clear");
        text("lblDetailedStatus", "Detailed Status");
        text("lblDetailedStatusTxt", "Status txt");
        text("btnReadWriteAccessRegister", "Read Write access register");
        text("btnResetDravonelProtocol", "Reset Dravonel protocol");
        title("grpInstallCoeff", " Koeficienti za montažo ");
        hidden("grpInstallCoeff");
        row("lblInstallCoeff", "wordWrap", true);
        // Test.
        text("cbShranjujMeritveDebug", "Record debug data to file");
        text("cbLogComms", "Log comms");
        hidden("pnlTest");
        text("btnPositionNoise", "Position Noise");
        hidden("btnPositionNoise");
        hint("btnPositionNoise", "Pomeri statistiko pozicijskega šuma");
        row("mmTestRezultat", "plainText", QStringLiteral("mmTestRezultat"));
        title("GroupBoxPowerCycle", " Power Cycling test ");
        text("lblonoff", "Number on/off cycles");
        spin("seSteviloIzklopov", 5000, 0, 100000);
        text("lblonoffdelay", "Delay (ms)");
        spin("seIzklopDelayMin", 150, 10, 10000);
        hint("seIzklopDelayMin", "Random between MIN");
        spin("seIzklopDelayMax", 400, 10, 10000);
        hint("seIzklopDelayMax", "Random between MAX");
        text("cbCiklirajStacionarno", "Pri miru");
        text("cbCiklirajIzklope", "Start");
        text("cbErrorDebugLatch", "Error v enkoderju avtomatsko latch-a debug podatke");
        // Debug and error map.
        text("lblKodaNaGrafu", "Koda");
        text("btnDebugUnlock", "Unlock");
        hidden("btnDebugUnlock");
        text("btnReadErrMap", "Read Error Map");
        hidden("ErrMapProgressBar");
        text("btnErrorMapSaveFile", "Save to file");
        // Timers: design intervals.
        row("initTimer", "interval", 200);
        row("tmrCommDebug", "interval", 500);
        row("tmrSelfCalWait", "interval", 500);
        row("timerOnOff", "interval", 100);
        row("tmrStartupTimer", "interval", 6000);
        for (const char* timer : {"tmrCommDebug", "tmrSelfCalWait", "timerOnOff"})
            row(timer, "active", false);
    }

    void controlsStartAsDesigned() {
        QFETCH(QString, control);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        WindowFixture window(QStringLiteral("someone"));
        QObject* object = window.Form().findChild<QObject*>(control);
        QVERIFY2(object, qPrintable(control));
        QVariant actual;
        if (property == "hidden")
            actual = qobject_cast<QWidget*>(object)->isHidden();
        else
            actual = object->property(property.constData());
        QVERIFY2(actual.isValid(), property.constData());
        QCOMPARE(actual, expected);
    }

    void listsAndTabsStartAsDesigned() {
        WindowFixture window(QStringLiteral("someone"));
        TMainForm& form = window.Form();
        QStringList frequencies;
        for (int i = 0; i < form.cmbFreqSPI->count(); ++i)
            frequencies << form.cmbFreqSPI->itemText(i);
        QCOMPARE(frequencies,
                 QStringList({"1 = 94 kHz", "2 = 188 kHz", "3 = 375 kHz", "4 = 750 kHz",
                              "5 = 1.5 MHz", "6 =  3 MHz", "7 =  6 MHz", "8 = 12 MHz"}));
        QCOMPARE(form.rgPowerSel->Count(), 2);
        QCOMPARE(form.rgPowerSel->Item(0)->text(), QStringLiteral("3.3 V"));
        QCOMPARE(form.rgPowerSel->Item(1)->text(), QStringLiteral("5 V"));
        QCOMPARE(form.rgPowerSel->ItemIndex(), 1);
        const QStringList tabs = {
            "Initialization", "Signal level", "Configuration", "Self-Calibration",
            "Diagnostics",    "Test",         "Debug",         "Error Map"};
        const QStringList names = {"tabInit",        "tabSignalLevelTemperature",
                                   "tabConfig",      "tabSelfCal",
                                   "tabDiagnostics", "tabTest",
                                   "tabDebug",       "tabErrMap"};
        for (int i = 0; i < tabs.size(); ++i) {
            QCOMPARE(form.Page->tabText(i), tabs[i]);
            QCOMPARE(form.Page->widget(i)->objectName(), names[i]);
        }
        QVERIFY(form.lblSoftwareUpdateStatus1->alignment() & Qt::AlignRight);
    }

    // With all eight tabs shown, every caption is readable whole, without
    // scroll arrows.
    void everyTabCaptionFitsTheFixedWindow() {
        WindowFixture window(QStringLiteral("TALVE"));
        TMainForm& form = window.Form();
        form.show();
        QTabBar* bar = form.Page->tabBar();
        for (int i = 0; i < bar->count(); ++i) {
            const QRect tab = bar->tabRect(i);
            QVERIFY2(tab.right() < form.Page->width(), qPrintable(bar->tabText(i)));
            QVERIFY2(bar->fontMetrics().horizontalAdvance(bar->tabText(i)) < tab.width(),
                     qPrintable(bar->tabText(i)));
        }
    }

    void startsWithTheDesignedState() {
        WindowFixture window;
        TMainForm& form = window.Form();
        QCOMPARE(form.size(), QSize(801, 586));
        QCOMPARE(form.Page->count(), 8);
        QCOMPARE(form.Page->currentIndex(), 0);
        QCOMPARE(form.lblComPort->text(), QStringLiteral("Com Port"));
        QVERIFY(!form.btnPowerON->isEnabled());
        QVERIFY(form.btnPowerOFF->isEnabled());
        QVERIFY(!form.btnReadEncoder->isEnabled());
        QCOMPARE(form.CycReadWait, 50);
        QCOMPARE(form.EncoderResolution, 1.0);
        QCOMPARE(form.initTimer->interval(), 200);
        QCOMPARE(form.tmrStartupTimer->interval(), 6000);
        QCOMPARE(form.seNCS_SCK_delay->value(), 15);
        QCOMPARE(form.seNCS_SCK_delay->minimum(), 1);
        QCOMPARE(form.seNCS_SCK_delay->maximum(), 900);
    }

    // The tabs not showing at start get their controls, the window its
    // handlers and timers, once the first paint has gone out.
    void finishesStartingRightAfterTheFirstPaint() {
        WindowFixture window(QStringLiteral("tester"), WindowFixture::PrivateRuntimeFolder,
                             WindowFixture::StartUpAwaitingFirstPaint);
        TMainForm& form = window.Form();
        QCOMPARE(form.Page->count(), 8);
        QCOMPARE(form.Page->tabText(7), QStringLiteral("Error Map"));
        QVERIFY(form.btnReadEncoder && form.Memo1 && form.lblComPort);
        QVERIFY(!form.lblSignalLevel && !form.btnReadErrMap && !form.cbShranjujMeritveDebug);
        QVERIFY(!form.initTimer->isActive() && !form.tmrStartupTimer->isActive());

        QPaintEvent paint(form.rect());
        QCoreApplication::sendEvent(&form, &paint);
        QVERIFY(!form.btnReadErrMap); // not while the paint is going on
        QCoreApplication::processEvents();
        QVERIFY(form.lblSignalLevel && form.btnReadErrMap && form.cbShranjujMeritveDebug);
        QCOMPARE(form.btnReadErrMap->parentWidget(), form.tabErrMap);
        QVERIFY(form.initTimer->isActive() && form.tmrStartupTimer->isActive());
        form.initTimer->stop();
        form.tmrStartupTimer->stop();
        // The handlers are connected: the key chord shows the Test tab.
        release(form, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(form.Page->isTabVisible(5));

        const QWidget* errorMapButton = form.btnReadErrMap;
        form.FinishStartUp(); // a second call builds nothing twice
        QCOMPARE(form.btnReadErrMap, errorMapButton);
        QCOMPARE(form.tabErrMap->findChildren<QPushButton*>().size(), 2);
    }

    // Started minimised, the window is not painted and starts anyway.
    void finishesStartingWithoutAPaint() {
        WindowFixture window(QStringLiteral("tester"), WindowFixture::PrivateRuntimeFolder,
                             WindowFixture::StartUpAwaitingFirstPaint);
        TMainForm& form = window.Form();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnReadErrMap != nullptr, 10000);
        QVERIFY(form.initTimer->isActive());
        form.initTimer->stop();
        form.tmrStartupTimer->stop();
    }

    void closingBeforeTheStartUpHasFinished() {
        WindowFixture window(QStringLiteral("tester"), WindowFixture::PrivateRuntimeFolder,
                             WindowFixture::StartUpAwaitingFirstPaint);
        window.Form().close();
        QVERIFY(ApplicationTerminating());
    }

    // Tab moves from the last tab's controls on to the log, as it would had
    // every tab been built before the log.
    void tabOrderEndsWithTheLog() {
        WindowFixture window(QStringLiteral("TALVE"));
        TMainForm& form = window.Form();
        QList<QWidget*> chain;
        for (QWidget* w = form.nextInFocusChain(); w != &form && chain.size() < 5000;
             w = w->nextInFocusChain()) {
            QCOMPARE(w->nextInFocusChain()->previousInFocusChain(), w);
            chain.append(w);
        }
        QVERIFY(chain.size() < 5000); // the chain comes back to the window
        const qsizetype log = chain.indexOf(form.cbLogErrors);
        QVERIFY(log >= 0 && chain.indexOf(form.Memo1) > log);
        for (QWidget* tab : {form.tabInit, form.tabSignalLevelTemperature, form.tabErrMap})
            for (QWidget* control : tab->findChildren<QWidget*>())
                if (control->focusPolicy() & Qt::TabFocus)
                    QVERIFY2(chain.indexOf(control) < log, qPrintable(control->objectName()));
        QVERIFY(chain.indexOf(form.btnReadErrMap) > chain.indexOf(form.btnReadEncoder));
    }

    // On a screen too small for the fixed window (1366 x 768 at 150 %), its
    // content scrolls instead of being cut off; where it fits (a few pixels
    // short count as fitting) nothing changes.
    void aSmallScreenScrollsTheContent() {
        WindowFixture fits;
        fits.Form().FitToScreen(QSize(800, 600));
        fits.Form().FitToScreen(QSize(1920, 1080));
        QVERIFY(!fits.Form().findChild<QScrollArea*>());
        QCOMPARE(fits.Form().size(), QSize(801, 586));
        QCOMPARE(fits.Form().Page->parentWidget(), &fits.Form());

        WindowFixture small;
        TMainForm& form = small.Form();
        form.FitToScreen(QSize(911, 480));
        auto* scroller = form.findChild<QScrollArea*>("WindowScroller");
        QVERIFY(scroller);
        QCOMPARE(form.size(), QSize(801, 480));
        QCOMPARE(scroller->widget()->size(), QSize(801, 586));
        QVERIFY(scroller->widget()->isAncestorOf(form.Memo1));
        form.show();
        QApplication::processEvents();
        QScrollBar* bar = scroller->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        const QPoint bottom = form.Page->mapTo(&form, form.Page->rect().bottomLeft());
        QVERIFY(bottom.y() < form.height());
        QVERIFY(form.Page->isVisible());
    }

    void captionNamesVersionComputerAndUser() {
        OverrideOwnVersionText(QStringLiteral("4.9.0.111"));
        OverrideComputerName(QStringLiteral("PRODUCTION-LINE-BENCH-3"));
        WindowFixture window(QStringLiteral("someone"));
        QCOMPARE(window.Form().windowTitle(),
                 QStringLiteral("Ulvax-2 & Ulvax-4 SPI Dravonel (VER: 4.9.0.111; "
                                "PC: PRODUCTION-LINE; USR: someone)"));
    }

    void ownVersionIsTheBuildsFourPartVersion() {
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                    .match(OwnVersionText())
                    .hasMatch());
        QVERIFY(ComputerName().size() <= 15);
    }

    void captionWithoutVersionResource() {
        OverrideOwnVersionText(QStringLiteral(""));
        WindowFixture window(QStringLiteral("someone"));
        QVERIFY(window.Form().windowTitle().contains(QLatin1String(" (VER: ; PC: ")));
    }

    void normalViewHidesTestDebugAndErrorMap() {
        WindowFixture window(QStringLiteral("someone"));
        TMainForm& form = window.Form();
        for (int tab = 0; tab < 5; ++tab)
            QVERIFY(form.Page->isTabVisible(tab));
        for (int tab : {5, 6, 7})
            QVERIFY(!form.Page->isTabVisible(tab));
        QVERIFY(!shown(form.cbDravonelJQLOMA));
        QVERIFY(!shown(form.seNCS_SCK_delay));
    }

    void developerViewForTalveInAnyCase_data() {
        QTest::addColumn<QString>("user");
        QTest::newRow("upper") << QStringLiteral("TALVE");
        QTest::newRow("lower") << QStringLiteral("talve");
        QTest::newRow("mixed") << QStringLiteral("TaLvE");
    }

    void developerViewForTalveInAnyCase() {
        QFETCH(QString, user);
        WindowFixture window(user);
        TMainForm& form = window.Form();
        for (int tab = 0; tab < 8; ++tab)
            QVERIFY(form.Page->isTabVisible(tab));
        for (QWidget* w :
             {static_cast<QWidget*>(form.cbDravonelJQLOMA), static_cast<QWidget*>(form.pnlTest),
              static_cast<QWidget*>(form.btnPositionNoise),
              static_cast<QWidget*>(form.seNCS_SCK_delay),
              static_cast<QWidget*>(form.lblNCS_SCK_delay)})
            QVERIFY2(shown(w), qPrintable(w->objectName()));
        QVERIFY(!shown(form.grpInstallCoeff));
    }

    void ctrlAShowsTestAndErrorMapButNotDebug() {
        WindowFixture window(QStringLiteral("someone"));
        TMainForm& form = window.Form();
        release(form, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!form.Page->isTabVisible(5));
        release(form, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(form.Page->isTabVisible(5));
        QVERIFY(form.Page->isTabVisible(7));
        QVERIFY(!form.Page->isTabVisible(6));
        release(form, Qt::Key_J, Qt::ShiftModifier | Qt::AltModifier);
        QVERIFY(!shown(form.btnDebugUnlock));
    }

    void ctrlShiftKShowsEverythingThenShiftAltJUnlocks() {
        WindowFixture window(QStringLiteral("someone"));
        TMainForm& form = window.Form();
        release(form, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        for (int tab = 0; tab < 8; ++tab)
            QVERIFY(form.Page->isTabVisible(tab));
        QVERIFY(shown(form.grpInstallCoeff));
        QVERIFY(shown(form.cbDravonelJQLOMA));
        QVERIFY(shown(form.pnlTest));
        QVERIFY(!shown(form.btnDebugUnlock));
        release(form, Qt::Key_J, Qt::ShiftModifier | Qt::AltModifier);
        QVERIFY(shown(form.btnDebugUnlock));
    }

    void chordsWorkWhateverControlHasTheFocus() {
        WindowFixture window(QStringLiteral("someone"));
        TMainForm& form = window.Form();
        QTest::keyRelease(form.edUnit, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(form.Page->isTabVisible(5));
    }

    void logCommsTickClearsMemoAndFlushesTheLog() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.Memo1->setPlainText(QStringLiteral("old line"));
        form.cbLogComms->click();
        QVERIFY(CommLogEnabled);
        QVERIFY(form.Memo1->toPlainText().isEmpty());
        QVERIFY(form.tmrCommDebug->isActive());
        CommLogText = "TX:v\r\nRX:Q714-7R\r\n";
        form.tmrCommDebugTimer();
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("TX:v\nRX:Q714-7R"));
        QVERIFY(CommLogText.isEmpty());
    }

    void logCommsUntickKeepsMemoAndStopsFlushing() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.cbLogComms->click();
        form.Memo1->setPlainText(QStringLiteral("kept"));
        form.cbLogComms->click();
        QVERIFY(!CommLogEnabled);
        QVERIFY(!form.tmrCommDebug->isActive());
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("kept"));
        CommLogText = "TX:v\r\n";
        form.tmrCommDebugTimer();
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("kept"));
    }

    // Ordinary memo lines and the moved communication log each keep their
    // own lines, in every order, with no empty line between them.
    void memoLinesNeverRunTogether() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.MemoAppendVerbatim("TX:v\r\nRX:Q714-7R v1.12\r\r\n");
        form.MemoAddLine(QStringLiteral("USB Comm Err -1"));
        form.MemoAppendVerbatim("Dravonel_ReadPosition\r\nTX:?07:000\r\nRX:\r\n");
        form.MemoAddLine(QStringLiteral("Trying again with non-inverted CRC..."));
        form.MemoAppendVerbatim("TX:e\r\nRX:5.0V\r\r\n");
        form.MemoAppendVerbatim("TX:x\r\nRX:OK\r\r\n");
        form.MemoAddLine(QStringLiteral("Line one\r\nLine two"));
        form.MemoAddLine(QString());
        form.MemoAddLine(QStringLiteral("last"));
        const QStringList expected = {"TX:v",
                                      "RX:Q714-7R v1.12",
                                      "USB Comm Err -1",
                                      "Dravonel_ReadPosition",
                                      "TX:?07:000",
                                      "RX:",
                                      "Trying again with non-inverted CRC...",
                                      "TX:e",
                                      "RX:5.0V",
                                      "TX:x",
                                      "RX:OK",
                                      "Line one",
                                      "Line two",
                                      "",
                                      "last"};
        QCOMPARE(form.Memo1->toPlainText().split(QLatin1Char('\n')), expected);
    }

    // Lines held back while reading back to back come out in order, and the
    // memo keeps only the most recent lines.
    void memoKeepsTheMostRecentLines() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.DisplayDeferred = true;
        for (int i = 0; i < TMainForm::MemoMaxLines + 10; ++i)
            form.MemoAddLine(QString::number(i));
        QVERIFY(form.Memo1->toPlainText().isEmpty());
        form.DisplayDeferred = false;
        form.MemoAppendVerbatim("TX:v\r\n");
        const QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), TMainForm::MemoMaxLines);
        QCOMPARE(lines.first(), QStringLiteral("11"));
        QCOMPARE(lines.last(), QStringLiteral("TX:v"));
        QVERIFY(!form.Memo1->isUndoRedoEnabled());
    }

    // The real message boxes quote device replies: never as markup.
    void messageBoxesShowTheirTextAsItStands() {
        QtUserInteraction real;
        QStringList seen;
        const auto inspectNextBox = [&] {
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                seen << (box->textFormat() == Qt::PlainText ? box->text() : QString());
                box->accept();
            });
        };
        inspectNextBox();
        real.showMessage(QStringLiteral("<img src=\"/dev/zero\">"));
        inspectNextBox();
        real.showError(QStringLiteral("<b>RCV</b>"));
        QCOMPARE(seen, QStringList({"<img src=\"/dev/zero\">", "<b>RCV</b>"}));
    }

    void closingWhileRecordingClosesTheRecordFile() {
        WindowFixture window;
        TMainForm& form = window.Form();
        QTemporaryFile record;
        QVERIFY(record.open());
        form.ShraniFajl = std::make_unique<QFile>(record.fileName());
        QVERIFY(form.ShraniFajl->open(QIODevice::WriteOnly));
        form.cbShranjujMeritveDebug->setChecked(true);
        form.close();
        QVERIFY(!form.ShraniFajl->isOpen());
        QVERIFY(ApplicationTerminating());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
