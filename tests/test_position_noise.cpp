// The position-noise measurement: the statistics, the result text and the
// clipboard line, the progress caption, a run that ends early, and a shaft
// resting at the zero of the turn.
#include "PositionNoise.h"
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Calls `watch` at every pass of the event loop of a running measurement.
void duringTheRun(QObject* owner, std::function<void()> watch) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, watch);
    timer->start(0);
}

struct NoiseWindow : RestingEncoderWindow {
    explicit NoiseWindow(int noise = 0, quint32 singleturn = 1000) {
        encoder([&](SimulatedEncoder& e) {
            e.SetNoiseCounts(noise);
            e.SetPosition(0, singleturn);
        });
        form.rbDrawPos->setChecked(true);
    }
    QStringList result() const { return form.mmTestRezultat->toPlainText().split('\n'); }
    // The value of the result line with this label.
    QString figure(const QString& label) const {
        for (const QString& line : result())
            if (line.startsWith(label + QStringLiteral(":\t")))
                return line.section(QLatin1Char('\t'), 1);
        return QStringLiteral("(no line %1)").arg(label);
    }
    double number(const QString& label) const {
        return figure(label).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
    }
    QString signalLevel(quint32 singleturn) {
        return QString::number(
            encoder([&](SimulatedEncoder& e) { return e.SignalLevelAt(singleturn); }));
    }
};

} // namespace

class TestPositionNoise : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void statistics() {
        const TPositionNoise equal =
            PositionNoiseStatistics(std::vector<float>(5000, 1000.0f), 131072);
        QCOMPARE(equal.Count, 5000);
        QCOMPARE(equal.Min, 1000.0);
        QCOMPARE(equal.Max, 1000.0);
        QCOMPARE(equal.Mean, 1000.0);
        QCOMPARE(equal.Sigma, 0.0);
        QVERIFY(!equal.AcrossZero);

        std::vector<float> alternating;
        for (int i = 0; i < 5000; ++i)
            alternating.push_back(i % 2 ? 1002.0f : 1000.0f);
        const TPositionNoise two = PositionNoiseStatistics(alternating, 131072);
        QCOMPARE(two.Mean, 1001.0);
        QCOMPARE(two.Sigma, 1.0);
        QCOMPARE(two.Max - two.Min, 2.0);

        const TPositionNoise none = PositionNoiseStatistics({}, 131072);
        QCOMPARE(none.Count, 0);
        QCOMPARE(none.Sigma, 0.0);
    }

    // Counts on both sides of the zero of the turn are a few counts apart,
    // not a turn; they are taken relative to the first sample.
    void statisticsAcrossTheZeroOfTheTurn() {
        const TPositionNoise wrapped = PositionNoiseStatistics({1, 131071, 0, 2, 131070}, 131072);
        QVERIFY(wrapped.AcrossZero);
        QCOMPARE(wrapped.Min, -2.0);
        QCOMPARE(wrapped.Max, 2.0);
        QCOMPARE(wrapped.Mean, 0.0);
        const TPositionNoise high = PositionNoiseStatistics({131071, 0, 131070}, 131072);
        QCOMPARE(high.Max, 131072.0);
        QCOMPARE(high.Min, 131070.0);
        QCOMPARE(PositionNoiseStatistics({5, 131071}, 0).Max, 131071.0); // turn unknown
    }

    void restingShaftWithoutNoise() {
        NoiseWindow w;
        QStringList captions;
        duringTheRun(&w.form, [&] {
            if (captions.isEmpty() || captions.last() != w.form.btnPositionNoise->text())
                captions << w.form.btnPositionNoise->text();
            QVERIFY(!w.form.btnPositionNoise->isEnabled());
        });
        w.form.btnPositionNoise->click();
        QVERIFY(w.form.rbDrawNone->isChecked());
        const QString level = w.signalLevel(1000);
        QCOMPARE(w.result(), (QStringList{"vzorcev:\t5000", "minn:\t1000,0", "maxx:\t1000,0",
                                          "raztros:\t0,0", "povprecje:\t1000,0", "6 sigma:\t0,0",
                                          "Sig Lvl:\t" + level, "", level + "\t0,0"}));
        QCOMPARE(QGuiApplication::clipboard()->text(), level + "\t0,0\r\n");
        QCOMPARE(captions.value(0), QStringLiteral("Position Noise")); // the first reading
        QCOMPARE(captions.value(1), QStringLiteral("0 %"));
        QCOMPARE(captions.last(), QStringLiteral("100 %"));
        QVERIFY(captions.contains(QStringLiteral("50 %")));
        QCOMPARE(w.form.btnPositionNoise->text(), QStringLiteral("Position Noise"));
        QVERIFY(w.form.btnPositionNoise->isEnabled());
        QCOMPARE(w.form.FormatSettings.decimalPoint(), QStringLiteral("."));
    }

    // Noise of up to 2 counts, each deviation equally likely: sigma sqrt(2).
    void sixSigmaOfTheSimulatedNoise() {
        NoiseWindow w(2);
        w.form.FormatSettings = QLocale(QLocale::German, QLocale::Germany);
        w.form.btnPositionNoiseClick();
        QVERIFY2(qAbs(w.number("6 sigma") - 6 * std::sqrt(2.0)) < 0.5,
                 qPrintable(w.figure("6 sigma")));
        QVERIFY(qAbs(w.number("povprecje") - 1000) < 0.2);
        QCOMPARE(w.number("raztros"), 4.0);
        QCOMPARE(w.form.FormatSettings.decimalPoint(), QStringLiteral(".")); // from now on
    }

    void shaftAtTheZeroOfTheTurn() {
        NoiseWindow w(2, 0);
        w.form.btnPositionNoiseClick();
        QVERIFY(w.number("raztros") <= 4);
        QVERIFY(qAbs(w.number("povprecje")) < 1);
        QCOMPARE(w.result().size(), 10);
        QVERIFY(w.result().last().contains(QStringLiteral("relative to the first")));
    }

    // The adapter stops answering after some readings: the figures cover the
    // readings taken, and the signal level the one reading of it.
    void earlyEndCoversOnlyTheReadingsTaken() {
        NoiseWindow w;
        int taken = 0;
        duringTheRun(&w.form, [&] {
            if (taken == 0 && w.form.FrameCounter >= 150) {
                taken = static_cast<int>(w.form.FrameCounter);
                w.Silence();
            }
        });
        const double before = w.form.FrameCounter;
        w.form.btnPositionNoiseClick();
        QVERIFY(taken > 0);
        const int readings = taken - static_cast<int>(before);
        QCOMPARE(w.figure("vzorcev"), QString::number(readings));
        QCOMPARE(w.figure("minn"), QStringLiteral("1000,0"));
        QCOMPARE(w.figure("Sig Lvl"), w.signalLevel(1000));
        QVERIFY(w.MemoLines().contains(QStringLiteral("USB Comm Err -1")));
        QCOMPARE(w.form.btnPositionNoise->text(), QStringLiteral("Position Noise"));
    }
};

QTEST_MAIN(TestPositionNoise)
#include "test_position_noise.moc"
