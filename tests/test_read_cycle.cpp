// The read cycle as the window shows it: the lamps and their colours, the
// position labels (units in the user's number format, the raw frame), the
// status and diagnostics labels, what the window does after a failed
// reading (unticking the loop, a search after a broken link, a Connect
// needed after a lost link), and the continuous loop with its pacing. The
// reading's traffic, log lines and values are in test_workflow_reading.
#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "SimCrc8.h"
#include "SimFixture.h"
#include "SimulatedWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QtCharts/QLineSeries>
#include <functional>

namespace {

// A window connected to a simulated encoder of the given model.
struct ConnectedWindow : SimulatedWindow {
    explicit ConnectedWindow(const char* model, std::function<void(SimulatedAdapter&)> prepare = {})
        : SimulatedWindow(model, prepare) {
        PowerAndConnect();
        form.seDelayBetweenReadings->setValue(0);
        form.ClearMemo();
    }
    QString lastMemoLine() const { return form.Memo1->toPlainText().section('\n', -1); }
    void silence() {
        FaultSettings silent;
        silent.silent = true;
        sim.Server().SetFaults(silent);
    }
};

// A multi-turn frame reply of a type 2 encoder, its CRC right or spoilt.
QByteArray frameReply(const QByteArray& dataHex, bool spoilCrc = false) {
    const quint8 crc = BitwiseCrc8(QByteArray::fromHex(dataHex)) ^ (spoilCrc ? 0x5A : 0);
    return dataHex + QByteArray::number(crc, 16).rightJustified(2, '0').toUpper() + "00\r";
}

QRgb colourOf(QWidget* panel) {
    return panel->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}

// Runs `action` once from the event processing of a running loop, as soon
// as `ready` holds.
void whenReady(QObject* owner, std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [=] {
        if (ready()) {
            timer->stop();
            action();
        }
    });
    timer->start(0);
}

} // namespace

class TestReadCycle : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void positionInUnits_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<int>("turns");
        QTest::addColumn<QString>("expected");
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("1.5 turns") << english << 1 << QString("540.000 deg");
        QTest::newRow("thousands") << english << 10 << QString("3,780.000 deg");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << 10
                                << QString("3.780,000 deg");
        QTest::newRow("negative turns") << english << -3 << QString("-900.000 deg");
    }

    void positionInUnits() {
        QFETCH(QLocale, locale);
        QFETCH(int, turns);
        QFETCH(QString, expected);
        ConnectedWindow w("t2-mt17");
        w.encoder([&](SimulatedEncoder& e) { e.SetPosition(turns, 65536); });
        w.form.FormatSettings = locale;
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.lblPosUnit->text(), expected);
        QCOMPARE(w.form.lblPosMT->text(), QString::number(turns));
        QCOMPARE(w.form.lblPosST->text(), QStringLiteral("65536"));
        QCOMPARE(w.form.EncPosDegST, 180.0);
        QCOMPARE(w.form.EncPosDegOld, (turns + 0.5) * 360);
    }

    void lampsAndTheErrorLog() {
        ConnectedWindow w("t2-mt17");
        w.form.cbLogErrors->setChecked(true);
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true), e.SetWarningActive(true); });
        w.form.btnReadEncoderClick();
        QCOMPARE(colourOf(w.form.pnlComm), QRgb(0x00BB00));
        QCOMPARE(colourOf(w.form.pnlEncErr), QRgb(0xFF0000));
        QCOMPARE(colourOf(w.form.pnlEncWarn), QRgb(0xFFAA00));
        // The reading's flag lines reach the memo.
        QCOMPARE(w.form.Memo1->toPlainText(), QStringLiteral("Error!\nWarning!"));

        w.sim.Adapter().OverrideReply("?07:000", " " + frameReply("0001800003", true).toLower());
        w.form.btnReadEncoderClick();
        QCOMPARE(colourOf(w.form.pnlComm), QRgb(0x004400));
        QCOMPARE(colourOf(w.form.pnlCRC), QRgb(0xEE82EE));
        QCOMPARE(colourOf(w.form.pnlEncErr), QRgb(0x808080));
        QCOMPARE(w.form.lblPosRX->text(),
                 QString::fromLatin1(frameReply("0001800003", true).trimmed()));
    }

    void timeOutRestartsTheSearchAndStopsReading() {
        ConnectedWindow w("t2-mt17");
        w.form.btnReadEncoderClick();
        const double previous = w.form.EncPosDegOld;
        w.form.cbReadEncConstantly->setChecked(true);
        w.silence();
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(5, 0); });
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.cbReadEncConstantly->isChecked());
        QVERIFY(w.form.initTimer->isActive());
        QCOMPARE(w.form.EncPosDegOld, previous);
        QCOMPARE(w.form.FrameCounter, 2.0);
    }

    // A retry that comes faster than the search timer's interval must not
    // keep pushing a pending search back, or the port is never reopened.
    void aPendingSearchIsNotPostponed() {
        ConnectedWindow w("t2-mt17");
        w.form.initTimer->setInterval(1000);
        w.form.RestartAdapterSearch();
        QTest::qWait(300);
        w.form.RestartAdapterSearch();
        // A restarted timer would have about 1000 ms left; a coarse timer
        // may fire up to 5 % late.
        QVERIFY(w.form.initTimer->remainingTime() <= 760);
    }

    // After a lost link the adapter found again may have another encoder
    // behind it: nothing of the old one is shown as current, and reading
    // waits for a Connect.
    void readingNeedsAConnectAfterALostLink() {
        ConnectedWindow w("t7-mt18");
        w.form.btnReadEncoderClick();
        QVERIFY(w.form.lblPosUnit->text().contains(" / ")); // two rings
        w.sim.Adapter().SetEncoderProfile(*FindEncoderProfile("t2-mt17"));
        w.form.RestartAdapterSearch();
        w.form.initTimerTimer();
        QVERIFY(COMPortHandle);
        QVERIFY(!w.form.btnReadEncoder->isEnabled());
        QVERIFY(!w.form.cbReadEncConstantly->isEnabled());
        QCOMPARE(w.form.lblEncoderInfo->text(), QStringLiteral("Encoder information"));
        QCOMPARE(w.form.lblPosUnit->text(), QStringLiteral("Position in units"));
        QCOMPARE(w.form.lblPosMT->text(), QStringLiteral("Position MT"));
        QCOMPARE(colourOf(w.form.pnlEncErr), QRgb(0x808080));

        // A reading asked for by a workflow sends nothing.
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnReadEncoderClick();
        QVERIFY(w.sim.Adapter().ReceivedCommands().isEmpty());
        QCOMPARE(w.lastMemoLine(),
                 QStringLiteral("No encoder connected: press \"Connect Encoder\"."));

        w.form.btnPowerONClick();
        w.form.btnConnectEncoderClick();
        QVERIFY(w.form.btnReadEncoder->isEnabled());
        QCOMPARE(EncoderType, quint8(2));
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.lblPosUnit->text().contains(" / "));
    }

    // The adapter's decoded status reports the encoder's status while it
    // signals an error; a warning alone is no error.
    void decodedStatusOfAWarningOnlyEncoderShowsNoError() {
        ConnectedWindow w("t2-mt17");
        w.form.cbDetailedStatus->setChecked(true);
        w.encoder([](SimulatedEncoder& e) { e.SetWarningActive(true); });
        w.form.btnReadEncoderClick();
        QCOMPARE(colourOf(w.form.pnlEncErr), QRgb(0x808080));

        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        w.form.btnReadEncoderClick();
        QCOMPARE(colourOf(w.form.pnlEncErr), QRgb(0xFF0000));
        QVERIFY(w.form.lblDetailedStatusTxt->text().contains("Error System"));
    }

    void wrongLengthOfTheDecodedReplyDoesNotRestartTheSearch() {
        ConnectedWindow w("t2-mt17");
        w.form.cbDetailedStatus->setChecked(true);
        w.form.cbReadEncConstantly->setChecked(true);
        w.sim.Adapter().OverrideReply("d", "S:0000 M:0001 P:01000\r");
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.cbReadEncConstantly->isChecked());
        QVERIFY(!w.form.initTimer->isActive());
        QCOMPARE(w.form.EncPosDegOld, 0.0);
    }

    void statusTextsOfBothRegisterSizes() {
        {
            ConnectedWindow w("t2-mt17");
            w.form.cbDetailedStatus->setChecked(true);
            w.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0x0303); });
            w.form.btnReadEncoderClick();
            QCOMPARE(w.form.lblDetailedStatus->text(), QStringLiteral("0000001100000011"));
            QCOMPARE(w.form.DetailedStatusText,
                     QStringLiteral("Error Magnetic pattern\r\nWarning Magnetic Pattern\r\n"
                                    "Error Acceleration\r\nWarning High Speed\r\n"));
            QCOMPARE(w.form.lblDetailedStatusTxt->text().count('\n'), 4);
            QCOMPARE(colourOf(w.form.lblDetailedStatusTxt), QRgb(0xFFAA00));

            // The persistent register remembers what the frames no longer show.
            w.form.cbPersistentStatus->setChecked(true);
            w.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0); });
            w.form.btnReadEncoderClick();
            QCOMPARE(w.form.lblDetailedStatus->text(), QStringLiteral("0000001100000011"));
        }

        ConnectedWindow u4("t5-st21");
        u4.form.lblDetailedStatusTxt->setText(QStringLiteral("old"));
        u4.form.btnReadEncoderClick();
        QCOMPARE(u4.form.lblDetailedStatus->text(), QString(32, QLatin1Char('0')));
        QCOMPARE(u4.form.lblDetailedStatusTxt->text(), QString());
        QCOMPARE(colourOf(u4.form.lblDetailedStatusTxt), QRgb(0xFFFFFF));
    }

    void diagnosticsCountersOnFirmwareFour() {
        ConnectedWindow w("t6-mt19");
        w.form.Page->setCurrentWidget(w.form.tabDiagnostics);
        w.sim.Adapter().OverrideReply("R:0002:00000010", "0x9:0x0000FF38\r");
        w.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x38, RegisterFault::AccessDenied); });
        w.form.btnReadEncoderClick();
        const quint32 cycles = w.encoder([](SimulatedEncoder& e) { return e.PowerCycles(); });
        QCOMPARE(w.form.lblDiagNumPwrCyc->text(),
                 QString("Number of power cycles: %1").arg(cycles));
        QCOMPARE(w.form.lblDiagOpTimeMin->text(), QStringLiteral("Operational time (minutes): 0"));
        QCOMPARE(w.form.lblDiagTempMin->text(), QStringLiteral("Operational temperature min: 4"));
        QCOMPARE(w.form.lblDiagTempMax->text(), QStringLiteral("Operational temperature max: 57"));
        QCOMPARE(w.form.lblDecodingSafetyMargin_RT->text(), QStringLiteral("Safety RT: -200"));
    }

    void diagnosticsCountersNotAvailable() {
        {
            ConnectedWindow w("t6-mt19", [](SimulatedAdapter& adapter) {
                EncoderProfile profile = *FindEncoderProfile(QStringLiteral("t6-mt19"));
                profile.hasRuntimeLog = false;
                adapter.SetEncoderProfile(profile);
            });
            w.form.Page->setCurrentWidget(w.form.tabDiagnostics);
            w.form.btnReadEncoderClick();
            QCOMPARE(w.form.lblDiagNumPwrCyc->text(),
                     QStringLiteral("Number of power cycles: N/A"));
            QCOMPARE(w.form.lblDiagTempMax->text(),
                     QStringLiteral("Operational temperature max: N/A"));
            QVERIFY(w.form.lblDecodingSafetyMargin_PER->text().startsWith("Safety PER: "));
        }

        ConnectedWindow firmware2("t2-mt17");
        firmware2.form.Page->setCurrentWidget(firmware2.form.tabDiagnostics);
        firmware2.sim.Adapter().ClearReceivedCommands();
        firmware2.form.btnReadEncoderClick();
        QCOMPARE(firmware2.form.lblDiagNumPwrCyc->text(), QStringLiteral("..."));
        // The frame, and the supply refresh of the first good reading.
        QCOMPARE(firmware2.sim.Adapter().ReceivedCommands(), QList<QByteArray>({"?07:000", "e"}));
    }

    void twoChannelEncoder() {
        ConnectedWindow w("t7-mt18");
        w.encoder([](SimulatedEncoder& e) { e.SetPosition(1, 0), e.SetChannel1Offset(65536); });
        w.form.cbDetailedStatus->setChecked(true);
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.cbDetailedStatus->isChecked());
        QCOMPARE(w.form.lblPosST_CH1->text(), QStringLiteral("65536"));
        QCOMPARE(w.form.lblPosUnit->text(), QStringLiteral("360.000 deg / 450.000 deg"));

        // A failed channel-1 read ends the cycle but does not search again.
        w.form.cbReadEncConstantly->setChecked(true);
        w.silence();
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.cbReadEncConstantly->isChecked());
        QVERIFY(!w.form.initTimer->isActive());
    }

    void continuousLoopEndsWhenTheUserUnticks() {
        ConnectedWindow w("t2-mt17");
        w.form.cbReadEncConstantly->setChecked(true);
        double clickedAt = 0;
        whenReady(
            &w.form, [&] { return w.form.FrameCounter >= 5; },
            [&] {
                clickedAt = w.form.FrameCounter;
                w.form.cbReadEncConstantly->click(); // its own handler reads once more
            });
        w.form.cbReadEncConstantlyClick();
        QVERIFY(!w.form.cbReadEncConstantly->isChecked());
        QCOMPARE(w.form.FrameCounter, clickedAt + 1);
    }

    // The loop shows its readings at the screen's pace; when it stops, the
    // labels, lamps, memo and chart show the latest reading, and no memo
    // line or chart point is lost or out of order.
    void loopShowsTheLatestReadingWhenItStops() {
        ConnectedWindow w("t2-mt17");
        w.form.cbLogErrors->setChecked(true);
        w.form.Page->setCurrentWidget(w.form.tabSignalLevelTemperature);
        w.form.rbDrawPos->setChecked(true);
        w.encoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(60);
            e.SetWarningActive(true);
        });
        w.form.cbReadEncConstantly->setChecked(true);
        whenReady(
            &w.form, [&] { return w.form.FrameCounter >= 600; },
            [&] { w.form.cbReadEncConstantly->setChecked(false); });
        w.form.cbReadEncConstantlyClick();
        const int readings = int(w.form.FrameCounter);
        QCOMPARE(w.form.lblPosST->text(), QString::number(EncoderPosition.ST_value));
        QCOMPARE(w.form.lblPosRX->text(),
                 QString::fromLatin1(EncoderPosition.RxData.trimmed().toUpper()));
        QCOMPARE(colourOf(w.form.pnlEncWarn), QRgb(0xFFAA00));
        QCOMPARE(colourOf(w.form.pnlComm), QRgb(readings % 2 ? 0x00BB00 : 0x004400));
        QCOMPARE(w.form.Memo1->toPlainText().split('\n'), QStringList(readings, "Warning!"));
        QCOMPARE(w.form.SeriesBlue->count(), 500);
        QCOMPARE(w.form.SeriesBlue->points().first().x(), double(readings - 499));
        QCOMPARE(w.form.SeriesBlue->points().last(),
                 QPointF(readings, w.form.EncoderPosition_unit));
    }

    void pausedLoopTurnsWithoutReadingUntilTheProgramEnds() {
        ConnectedWindow w("t2-mt17");
        w.form.seDelayBetweenReadings->setValue(10);
        QCOMPARE(w.form.CycReadWait, 10);
        w.form.cbReadEncConstantly->setChecked(true);
        int passes = 0;
        whenReady(
            &w.form,
            [&] {
                w.form.EnableConstReading = false;
                return ++passes == 5;
            },
            [] { SetApplicationTerminating(true); });
        w.form.cbReadEncConstantlyClick();
        SetApplicationTerminating(false);
        QVERIFY(w.form.cbReadEncConstantly->isChecked());
        QCOMPARE(w.form.FrameCounter, 1.0); // only the pass before the pause read
    }
};

QTEST_MAIN(TestReadCycle)
#include "test_read_cycle.moc"
