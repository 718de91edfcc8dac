// The signal level tab as the window shows it: temperature and signal-level
// labels, the chart's drawing modes with their points, colours, trimming and
// axes, air-gap zeroing by a click on the label and the PNG export of the
// chart. The temperatures, the air gap and the reads behind them are in
// test_workflow_signal_level.
#include "Q714_SPI_Dravonel.h"
#include "SimCrc8.h"
#include "SimFixture.h"
#include "SimulatedWindow.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <functional>

namespace {

// A window connected to a simulated encoder, showing the Signal level tab.
struct ConnectedWindow : SimulatedWindow {
    explicit ConnectedWindow(const char* model, std::function<void(SimulatedAdapter&)> prepare = {})
        : SimulatedWindow(model, prepare) {
        PowerAndConnect();
        form.Page->setCurrentWidget(form.tabSignalLevelTemperature);
        form.Memo1->clear();
    }
    void read(int cycles = 1) {
        for (int i = 0; i < cycles; ++i)
            form.btnReadEncoderClick();
    }
    void moveTo(quint32 counts) {
        encoder([&](SimulatedEncoder& e) { e.SetPosition(0, counts); });
        read();
    }
    void replyToFrames(quint16 word, quint32 field, bool spoilCrc = false) {
        const QByteArray data = hex(word, 4) + hex(field, 6);
        const quint8 crc = BitwiseCrc8(QByteArray::fromHex(data)) ^ (spoilCrc ? 0x5A : 0);
        sim.Adapter().OverrideReply("?07:000", data + hex(crc, 2) + "00\r");
    }
    static QByteArray hex(quint32 value, int digits) {
        return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
    }
};

constexpr quint32 NoFlags = 3; // the error and warning bits are active low

QColor pointColour(const QXYSeries* series, int index) {
    const QVariant colour =
        series->pointConfiguration(index).value(QXYSeries::PointConfiguration::Color);
    return colour.isValid() ? colour.value<QColor>() : series->color();
}

QList<double> xs(const QXYSeries* series) {
    QList<double> values;
    for (const QPointF& p : series->points())
        values << p.x();
    return values;
}

} // namespace

class TestSignalLevel : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void temperatureLabelAndPoints_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("word");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("blue");
        const QLocale en(QLocale::English, QLocale::UnitedStates);
        const QString sensorOnly = QStringLiteral("Temperature SEN: 31");
        QTest::newRow("25 degrees")
            << QByteArray("t4-st20") << 1312 << en
            << QString("SEN: 31 °C    EXT: 1312 (25.0 / 25.1 °C)") << QStringList{"25.0"};
        QTest::newRow("hot") << QByteArray("t4-st20") << 500 << en
                             << QString("SEN: 31 °C    EXT: 500 (76.6 / 77.2 °C)")
                             << QStringList{"76.6"};
        QTest::newRow("German") << QByteArray("t4-st20") << 1312
                                << QLocale(QLocale::German, QLocale::Germany)
                                << QString("SEN: 31 °C    EXT: 1312 (25,0 / 25,1 °C)")
                                << QStringList{"25.0"};
        QTest::newRow("no reading")
            << QByteArray("t4-st20") << 0 << en << sensorOnly << QStringList{};
        QTest::newRow("full scale")
            << QByteArray("t4-st20") << 2047 << en << sensorOnly << QStringList{"0.0"};
        QTest::newRow("beyond") << QByteArray("t3-st18") << 3000 << en << sensorOnly
                                << QStringList{"0.0"};
        QTest::newRow("negative") << QByteArray("t3-st18") << 0x8123 << en << sensorOnly
                                  << QStringList{};
        QTest::newRow("no thermistor")
            << QByteArray("t2-mt17") << 0 << en << sensorOnly << QStringList{};
    }

    void temperatureLabelAndPoints() {
        QFETCH(QByteArray, model);
        QFETCH(int, word);
        QFETCH(QLocale, locale);
        QFETCH(QString, label);
        QFETCH(QStringList, blue);
        ConnectedWindow w(model);
        w.form.FormatSettings = locale;
        w.form.rbDrawTemp->setChecked(true);
        w.replyToFrames(quint16(word), NoFlags);
        w.read();
        QCOMPARE(w.form.lblTemperature->text(), label);
        QCOMPARE(w.form.SeriesGreen->points(), QList<QPointF>({QPointF(1, 31)}));
        QStringList ys;
        for (const QPointF& p : w.form.SeriesBlue->points())
            ys << QString::number(p.y(), 'f', 1);
        QCOMPARE(ys, blue);
    }

    void temperatureChartKeepsTheLastFiveHundredCycles() {
        ConnectedWindow w("t4-st20");
        w.form.rbDrawTemp->setChecked(true);
        w.read(600);
        for (QLineSeries* series : {w.form.SeriesGreen, w.form.SeriesBlue}) {
            QCOMPARE(series->count(), 500);
            QCOMPARE(series->at(0).x(), 101.0);
            QCOMPARE(series->at(499).x(), 600.0);
        }
        QCOMPARE(w.form.ChartSignalLevelAxisBottom->min(), 101.0);
        QCOMPARE(w.form.ChartSignalLevelAxisBottom->max(), 600.0);
        QCOMPARE(w.form.ChartSignalLevelAxisLeft->min(), w.form.SeriesBlue->at(0).y());
        QCOMPARE(w.form.ChartSignalLevelAxisLeft->max(), 31.0);
    }

    // A shift of continuous reading passes 2^24 readings: the chart's points
    // keep moving on to the right.
    void chartKeepsMovingPastSixteenMillionReadings() {
        ConnectedWindow w("t4-st20");
        w.form.rbDrawTemp->setChecked(true);
        w.form.FrameCounter = 16777215;
        w.read(3);
        QCOMPARE(xs(w.form.SeriesGreen), QList<double>({16777216, 16777217, 16777218}));
        QCOMPARE(w.form.ChartSignalLevelAxisBottom->max(), 16777218.0);
    }

    void positionPointsAreColouredByTheirFlags() {
        ConnectedWindow w("t2-mt17");
        w.form.rbDrawPos->setChecked(true);
        const quint32 field = 0x100000;
        w.replyToFrames(0, field | NoFlags), w.read();
        w.replyToFrames(0, field | 1), w.read(); // error
        w.replyToFrames(0, field | NoFlags, true), w.read();
        w.replyToFrames(0, field | 2), w.read(); // warning
        QCOMPARE(xs(w.form.SeriesBlue), QList<double>({1, 2, 3, 4}));
        const QList<QColor> expected{0x0000FF, 0xFF0000, 0x800080, 0xFFAA00};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(pointColour(w.form.SeriesBlue, i), expected[i]);
        // A multi-turn position axis follows the data.
        QCOMPARE(w.form.ChartSignalLevelAxisLeft->min(), w.form.EncoderPosition_unit - 1);
        QCOMPARE(w.form.ChartSignalLevelAxisBottom->max(), 4.0);
    }

    void pointColourStaysWithItsPointWhenTrimmed() {
        ConnectedWindow w("t2-mt17");
        w.form.rbDrawPos->setChecked(true);
        for (int i = 0; i < 499; ++i)
            w.form.TraceBlue.Add(QPointF(i - 498, 0));
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        w.read();
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(false); });
        w.read(2);
        QCOMPARE(w.form.SeriesBlue->count(), 500);
        QCOMPARE(w.form.SeriesBlue->at(0).x(), -496.0);
        for (int i = 0; i < 500; ++i) {
            const bool red = w.form.SeriesBlue->at(i).x() == 1.0;
            QCOMPARE(pointColour(w.form.SeriesBlue, i), QColor(red ? 0xFF0000 : 0x0000FF));
        }
    }

    void airGapPointsOnlyWhenTheShaftMoves() {
        ConnectedWindow w("t2-mt17");
        w.form.rbDrawAirGap->setChecked(true);
        w.moveTo(1000);
        QCOMPARE(w.form.SeriesBlue->points(),
                 QList<QPointF>({QPointF(w.form.EncPosDegST, w.form.AirGap)}));
        w.moveTo(1000); // standing still
        w.moveTo(1030); // 0.08 degrees
        QCOMPARE(w.form.SeriesBlue->count(), 1);
        w.moveTo(500); // backwards: the point goes in front
        QCOMPARE(w.form.SeriesBlue->at(0), QPointF(500 * 360.0 / 131072, w.form.AirGap));
        w.encoder([](SimulatedEncoder& e) { e.SetWarningActive(true); });
        w.moveTo(2000);
        QCOMPARE(pointColour(w.form.SeriesBlue, 2), QColor(0xFFAA00));
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        w.moveTo(3000);
        QCOMPARE(w.form.SeriesBlue->count(), 3);

        // The trim before the step cuts the trace back one cycle late.
        for (int i = 0; i < 497; ++i)
            w.form.TraceBlue.Add(QPointF(100 + i * 0.1, 1));
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(false); });
        w.moveTo(110000);
        QCOMPARE(w.form.SeriesBlue->count(), 501);
        w.moveTo(120000);
        QCOMPARE(w.form.SeriesBlue->count(), 501);
        QCOMPARE(w.form.SeriesBlue->at(0).x(), 1000 * 360.0 / 131072);
    }

    void signalLevelLabel_data() {
        QTest::addColumn<quint32>("level");
        QTest::addColumn<double>("n");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("label");
        const QLocale en(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("example") << 1234u << 350 - 100 * std::log(1234.0) << en
                                 << QString("Signal level: 1234 / 350 um");
        QTest::newRow("five digits") << 1234u << 12345.6 - 100 * std::log(1234.0) << en
                                     << QString("Signal level: 1234 / 12,346 um");
        QTest::newRow("no signal") << 0u << 50.0 << en << QString("Signal level: 0 / 0 um");
    }

    void signalLevelLabel() {
        QFETCH(quint32, level);
        QFETCH(double, n);
        QFETCH(QLocale, locale);
        QFETCH(QString, label);
        ConnectedWindow w("t2-mt17");
        EncoderSignature.AirGapK = 100;
        EncoderSignature.AirGapN = n;
        w.form.FormatSettings = locale;
        w.sim.Adapter().OverrideReply("R:" + w.hex(quint32(REG_SIZE_DRAVONEL_SIGNAL_LEVEL), 4) +
                                          ":" + w.hex(REG_ADDR_DRAVONEL_SIGNAL_LEVEL, 8),
                                      "0x9:0x" + w.hex(level, 8) + "\r");
        w.read();
        QCOMPARE(w.form.lblSignalLevel->text(), label);
    }

    void signalLevelReadOnlyWhenAsked() {
        ConnectedWindow w("t2-mt17");
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.read();
        QCOMPARE(w.form.lblSignalLevel->text(), QStringLiteral("Signal level"));
        w.form.StatBeriSignalLevel = true; // the noise measurement asks for it
        w.read();
        QVERIFY(w.form.lblSignalLevel->text().startsWith(QStringLiteral("Signal level: ")));
        QCOMPARE(w.form.lblTemperature->text(), QStringLiteral("Temperature"));

        // A failed read changes neither the label nor the air gap.
        const QString label = w.form.lblSignalLevel->text();
        const float airGap = w.form.AirGap;
        const quint32 address = REG_ADDR_DRAVONEL_SIGNAL_LEVEL;
        w.encoder([&](SimulatedEncoder& e) {
            e.SetRegisterFault(address, RegisterFault::AccessDenied);
            e.SetPosition(0, 9000);
        });
        w.read();
        QCOMPARE(w.form.lblSignalLevel->text(), label);
        QCOMPARE(w.form.AirGap, airGap);
    }

    void airGapAxisByThePartNumber_data() {
        QTest::addColumn<QByteArray>("part");
        QTest::addColumn<double>("top");
        for (const char* letter : {"S", "T", "Z"})
            QTest::newRow(letter) << QByteArray("RX712KAN17M") + letter + "G000" << 800.0;
        QTest::newRow("D") << QByteArray("RX712KAN17MDG000") << 500.0;
        QTest::newRow("short") << QByteArray("RX712") << 500.0;
    }

    void airGapAxisByThePartNumber() {
        QFETCH(QByteArray, part);
        QFETCH(double, top);
        WindowFixture window;
        TMainForm& form = window.Form();
        EncoderSignature.PartNumber = part;
        form.rbDrawAirGap->setChecked(true);
        QCOMPARE(form.ChartSignalLevelAxisBottom->max(), 360.0);
        QCOMPARE(form.ChartSignalLevelAxisLeft->min(), 0.0);
        QCOMPARE(form.ChartSignalLevelAxisLeft->max(), top);
    }

    void modeButtonsResetTheCounterAndClearTheChart() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.rbDrawTemp->setChecked(true);
        form.TraceBlue.Add(QPointF(1, 1), QColor(Qt::red));
        form.ShowSignalChart();
        form.FrameCounter = 7;
        form.rbDrawNone->setChecked(true); // "Off" keeps the chart
        QCOMPARE(form.FrameCounter, 0.0);
        QCOMPARE(form.SeriesBlue->count(), 1);

        form.FrameCounter = 7;
        form.rbDrawPos->setChecked(true);
        QCOMPARE(form.FrameCounter, 0.0);
        QCOMPARE(form.SeriesBlue->count(), 0);
        QVERIFY(form.SeriesBlue->pointsConfiguration().isEmpty());
        QCOMPARE(form.ChartSignalLevelAxisLeft->max(), 361.0);
        EncoderSignature.Multiturn = true;
        form.rbDrawPosClick();
        QVERIFY(form.SignalChartLeftAutomatic && form.SignalChartBottomAutomatic);
    }

    void clickOnTheSignalLevelZeroesTheAirGap() {
        WindowFixture window;
        TMainForm& form = window.Form();
        form.Page->setCurrentWidget(form.tabSignalLevelTemperature);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.lblSignalLevel->setEnabled(true); // as for an encoder with the register
        EncoderSignature.AirGapN = 12.0;
        for (float airGap : {1.5f, -1.0f, 11.75f}) { // N: 10.5, 11.5, -0.25
            form.AirGap = airGap;
            QTest::mouseClick(form.lblSignalLevel, Qt::LeftButton);
        }
        QCOMPARE(window.interaction.messages,
                 QStringList({"AirGap N = 10", "AirGap N = 12", "AirGap N = 0"}));
        form.lblSignalLevel->setEnabled(false); // an encoder without the register
        QTest::mouseClick(form.lblSignalLevel, Qt::LeftButton);
        QCOMPARE(EncoderSignature.AirGapN, -0.25);
    }

    void exportWritesAReadablePngOnlyOnce() {
        WindowFixture window;
        TMainForm& form = window.Form();
        QTemporaryDir folder;
        EncoderSignature.SerialNumber = QByteArray("UX/2.17.041");
        form.SeriesBlue->append({QPointF(0, 0), QPointF(100, 500)});
        window.interaction.saveAnswers << folder.filePath("plot.txt") << folder.filePath("plot")
                                       << QString();
        for (int i = 0; i < 3; ++i)
            form.btnSaveSignalLvlChartClick();

        const SaveDialogRequest& request = window.interaction.saveRequests.first();
        QCOMPARE(request.title, QStringLiteral("Save data plot..."));
        QCOMPARE(request.proposedName, QStringLiteral("Air gap UX_2.17"));
        QCOMPARE(request.filter, QStringLiteral("Image (*.png)"));
        QCOMPARE(window.interaction.beeps.count(BeepKind::Question), 3);
        QCOMPARE(window.interaction.messages, QStringList({"Datoteka PNG že obstaja!"}));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"plot.png"}));
        const QImage image(folder.filePath("plot.png"));
        QCOMPARE(image.size(), form.ChartSignalLevel->size());
        int drawn = 0; // axes, labels and the line
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                drawn += image.pixelColor(x, y) != QColor(Qt::white);
        QVERIFY(drawn > 100);
        QVERIFY(window.interaction.errors.isEmpty());
    }

    void failedExportReportsAndLeavesNothing() {
        WindowFixture window;
        TMainForm& form = window.Form();
        QTemporaryDir folder;
        QVERIFY(!form.SaveChartAsPNG(form.ChartSignalLevel, folder.filePath("a.b/chart.jpeg")));
        QCOMPARE(window.interaction.errors,
                 QStringList({"Shranjevanje PNG slike ni bilo uspešno!"}));
        QVERIFY(QDir(folder.path()).isEmpty());
        QVERIFY(QDir(folder.path()).mkdir("a.b"));
        QVERIFY(form.SaveChartAsPNG(form.ChartSignalLevel, folder.filePath("a.b/chart.jpeg")));
        QVERIFY(form.SaveChartAsPNG(form.ChartSignalLevel, folder.filePath("a.b/plain")));
        QCOMPARE(QDir(folder.filePath("a.b")).entryList(QDir::Files),
                 QStringList({"chart.png", "plain.png"}));
    }
};

QTEST_MAIN(TestSignalLevel)
#include "test_signal_level.moc"
