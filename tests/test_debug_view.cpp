// The debug step of the read cycle and the Debug tab: when the record is read,
// the trace, the decoder's markers, the code caption, the spectrum bars'
// geometry, the supply refresh and the Unlock button with its chord. The
// readout, the code-length view and the spectrum's heights are in
// test_workflow_debug_record.
#include "DebugRecording.h"
#include "EncoderProfile.h"
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"
#include "Serial_driver.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cmath>

namespace {

constexpr int BarsBottom = 363;
constexpr double Pi = 3.14159265358979323846;

bool readsDebugRecord(const QList<QByteArray>& sent) {
    return sent.contains("R:0004:00020000") || sent.contains("R:0004:00000200");
}

struct DebugTabWindow : RestingEncoderWindow {
    explicit DebugTabWindow(const char* model) : RestingEncoderWindow(model) {
        form.Page->setCurrentWidget(form.tabDebug);
    }
    QList<QPointF> markers() const { return form.Series2->points(); }
};

// Samples 1..55 a sine of `cycles` periods over `window` samples; sample 0,
// which the spectrum does not use, far off.
void fillSine(int cycles, int window, double amplitude) {
    for (int i = 0; i < 56; ++i)
        DebugData.Samples[i] = static_cast<qint16>(
            std::lround(amplitude * std::sin(2 * Pi * cycles * (i - 1) / window)));
    DebugData.Samples[0] = 30000;
}

QList<int> barHeights(const TMainForm& form) {
    return {form.shLevo->height(), form.shCenter->height(), form.shDesno->height()};
}

QList<int> barTops(const TMainForm& form) {
    return {form.shLevo->y(), form.shCenter->y(), form.shDesno->y()};
}

} // namespace

class TestDebugView : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    // Every ready-made encoder gives a plausible picture: the trace, one
    // marker per code bit on it, and the bars standing on the bottom line.
    void liveViewOfEveryModel_data() {
        QTest::addColumn<QString>("model");
        for (const EncoderProfile& profile : EncoderCatalogue())
            QTest::newRow(qPrintable(profile.name)) << profile.name;
    }

    void liveViewOfEveryModel() {
        QFETCH(QString, model);
        DebugTabWindow w(qPrintable(model));
        w.form.btnReadEncoderClick();
        QVERIFY(readsDebugRecord(w.Sent()));
        const TDebugData& d = DebugData;
        const int codeLength = w.form.EncDolzinaKode;
        QCOMPARE(w.form.SeriesDebug->count(), int(d.SampleCount));
        if (d.SampleCount == 0) { // firmware without a known record layout
            QCOMPARE(w.markers().size(), 0);
            return;
        }
        QCOMPARE(w.form.SeriesDebug->at(4), QPointF(5, d.Samples[4]));
        QCOMPARE(w.markers().size(), codeLength);
        for (const QPointF& marker : w.markers())
            QCOMPARE(marker.y(), double(d.Samples[int(marker.x()) - 1]));
        const std::array<qint64, 3> heights = DebugSpectrumHeights(codeLength);
        QCOMPARE(barHeights(w.form),
                 (QList<int>{int(heights[0]), int(heights[1]), int(heights[2])}));
        for (QFrame* bar : {w.form.shLevo, w.form.shCenter, w.form.shDesno})
            QCOMPARE(bar->geometry().bottom() + 1, BarsBottom);
        QCOMPARE(w.form.lblKodaNaGrafu->text().count(QLatin1Char('\n')), 1);
    }

    void codeCaptionAndMarkersOfCodeLength9() {
        DebugTabWindow w("t6-mt19");
        QCOMPARE(w.form.EncDolzinaKode, 9);
        w.Script("R:0002:00020084", "0x9:0x000001F5\r");
        w.Script("R:0002:00020086", "0x9:0x00000003\r");
        w.Script("R:0001:0002008A", "0x9:0x09000000\r");
        w.form.btnReadEncoderClick();
        const QString spacer(8, QLatin1Char(' '));
        QString first, second;
        for (QChar bit : QStringLiteral("111110101"))
            first += bit + spacer;
        for (QChar bit : QStringLiteral("000000011"))
            second += bit + spacer;
        QCOMPARE(w.form.lblKodaNaGrafu->text(), first + QLatin1Char('\n') + second);
        // Markers every 6 samples from sample 9; the last would be sample 57.
        const QList<QPointF> markers = w.markers();
        QCOMPARE(markers.size(), 9);
        QCOMPARE(markers.first().x(), 9.0);
        QCOMPARE(markers[7].x(), 51.0);
        QCOMPARE(markers.last(), QPointF(56, DebugData.Samples[55]));
    }

    void markersOfTheDecoderSelection() {
        DebugTabWindow w("t6-mt19");
        w.Script("R:0001:0002008A", "0x9:0xFF000000\r"); // the "not read" preset
        w.form.btnReadEncoderClick();
        QCOMPARE(w.markers().size(), 0);
        QCOMPARE(w.form.SeriesDebug->count(), 56);
        w.Script("R:0001:0002008A", "0x9:0x00000000\r");
        w.form.btnReadEncoderClick();
        QCOMPARE(w.markers().first(), QPointF(1, DebugData.Samples[0]));
        QCOMPARE(w.markers()[1].x(), 6.0);
    }

    // The bars stand on the bottom line, as high as the spectrum says.
    void spectrumBarsGeometry() {
        RestingEncoderWindow w;
        w.form.EncDolzinaKode = 5; // window 49, bars for 4, 5 and 6 cycles
        fillSine(5, 49, 800);
        w.form.UpdateDebugSpectrum();
        QCOMPARE(barHeights(w.form), (QList<int>{200, 440, 200}));
        QCOMPARE(barTops(w.form), (QList<int>{163, -77, 163})); // no upper limit
        QCOMPARE(w.form.shCenter->x(), 538);

        DebugData.Samples.fill(0);
        w.form.UpdateDebugSpectrum();
        QCOMPARE(barHeights(w.form), (QList<int>{0, 0, 0}));
        QCOMPARE(barTops(w.form), (QList<int>{BarsBottom, BarsBottom, BarsBottom}));
    }

    // Reading constantly, the view follows at the screen's pace and ends on
    // the last record read.
    void continuousReadingEndsOnTheLatestRecord() {
        DebugTabWindow w("t6-mt19");
        w.encoder([](SimulatedEncoder& e) { e.SetSpeedRpm(30); });
        w.form.cbReadEncConstantly->setChecked(true);
        auto* stop = new QTimer(&w.form);
        QObject::connect(stop, &QTimer::timeout, &w.form, [&] {
            if (w.form.FrameCounter >= 20)
                w.form.cbReadEncConstantly->setChecked(false);
        });
        stop->start(0);
        w.form.cbReadEncConstantlyClick();
        QCOMPARE(w.form.SeriesDebug->count(), 56);
        for (int i = 0; i < 56; ++i)
            QCOMPARE(w.form.SeriesDebug->at(i).y(), double(DebugData.Samples[i]));
        QVERIFY(!w.form.DebugViewDue);
    }

    void recordIsReadOnlyOnTheDebugTabOrWhileRecording() {
        RestingEncoderWindow w("t6-mt19");
        w.form.btnReadEncoderClick();
        QVERIFY(!readsDebugRecord(w.Sent()));
        w.form.Page->setCurrentWidget(w.form.tabDebug);
        w.form.cbErrorDebugLatch->setChecked(true); // the encoder latches on its own
        w.form.btnReadEncoderClick();
        QVERIFY(readsDebugRecord(w.Sent()));
        QVERIFY(!w.Sent().contains("W:0001:000000BD:00000044"));
        w.form.cbErrorDebugLatch->setChecked(false);
        w.form.btnReadEncoderClick();
        QVERIFY(w.Sent().contains("W:0001:000000BD:00000044"));
    }

    // The readout's failure shows in the memo, and the view still shows the
    // record as it stands; its traffic never reaches the memo.
    void failedReadoutIsLoggedAndTheViewStillDraws() {
        DebugTabWindow w("t6-mt19");
        w.form.cbLogComms->click();
        w.form.btnReadEncoderClick();
        w.form.MoveCommLogToMemo();
        QVERIFY(!w.form.Memo1->toPlainText().contains("Dravonel_ReadDebugData"));
        QVERIFY(!w.form.Memo1->toPlainText().contains("R:0004:00020000"));
        w.form.Memo1->clear();
        w.Script("R:0004:00020000", "0x26:\r");
        w.form.btnReadEncoderClick();
        QVERIFY(w.form.Memo1->toPlainText().contains(
            "Invalid register address\nsCmd: R:0004:00020000"));
        QCOMPARE(w.form.SeriesDebug->count(), 56);
    }

    // "e" in the first good reading, then in every 1001st.
    void supplyRefreshEvery1001stReading() {
        RestingEncoderWindow w;
        QCOMPARE(w.form.Q714PowerReadCounter, 0);
        w.Script("e", "ON 5.0V 41mA\r");
        w.form.btnReadEncoderClick();
        QCOMPARE(w.Sent().count("e"), 1);
        QCOMPARE(w.form.lblPower->text(), QStringLiteral("ON 5.0V 41mA"));
        for (int i = 0; i < 1000; ++i)
            w.form.btnReadEncoderClick();
        QCOMPARE(w.Sent().count("e"), 1);
        w.form.btnReadEncoderClick();
        QCOMPARE(w.Sent().count("e"), 2);
        // A failed reading does not count.
        w.Silence();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.form.Q714PowerReadCounter, 1000);
    }

    void unlockButton() {
        RestingEncoderWindow w("t6-mt19");
        w.form.Page->setCurrentWidget(w.form.tabDebug);
        QTest::keyClick(w.form.Page, Qt::Key_J, Qt::ShiftModifier | Qt::AltModifier);
        QVERIFY(!w.form.btnDebugUnlock->isHidden());
        w.form.btnDebugUnlock->click();
        QCOMPARE(w.Sent(), (QList<QByteArray>{"x", "W:0001:00000049:00000044"}));
        QVERIFY(w.form.btnDebugUnlock->isHidden());

        QTest::keyClick(w.form.Page, Qt::Key_J, Qt::ShiftModifier | Qt::AltModifier);
        w.Script("W:0001:00000049:00000044", "0x96\r");
        w.form.btnDebugUnlock->click();
        QVERIFY(w.form.Memo1->toPlainText().startsWith("Access denied"));
        QVERIFY(w.form.btnDebugUnlock->isHidden());
    }
};

QTEST_MAIN(TestDebugView)
#include "test_debug_view.moc"
