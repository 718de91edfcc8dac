// The main window: its controls, the normal and developer views, the key
// chords, the caption and closing.
#include "Orodja.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHostInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
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

    void captionNamesVersionComputerAndUser() {
        WindowFixture window(QStringLiteral("someone"));
        const QString expected = QStringLiteral("Ulvax-2 & Ulvax-4 SPI Dravonel (VER: ") +
                                 OwnVersionText() + QStringLiteral("; PC: ") + ComputerName() +
                                 QStringLiteral("; USR: someone)");
        QCOMPARE(window.Form().windowTitle(), expected);
        QVERIFY(!OwnVersionText().isEmpty());
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
