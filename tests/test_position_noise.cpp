// The position-noise measurement as the window runs it: the button's caption
// showing the progress, the result in mmTestRezultat, the clipboard line, the
// chart mode set to none, the decimal point the window keeps afterwards, a
// run that ends early, and the result's decimal commas after "Save to file"
// fixed the window's decimal separator. The statistics, the result's lines
// and the run's readings are in test_workflow_position_noise.
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
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
    }

    // Afterwards the window keeps a decimal point, whatever its format was.
    void afterwardsTheWindowKeepsADecimalPoint() {
        NoiseWindow w;
        w.form.FormatSettings = QLocale(QLocale::German, QLocale::Germany);
        w.form.btnPositionNoiseClick();
        QCOMPARE(w.figure("minn"), QStringLiteral("1000,0"));
        QCOMPARE(w.form.FormatSettings.decimalPoint(), QStringLiteral("."));
    }

    // "Save to file" on the Error Map tab fixes the window's decimal
    // separator to "."; the result keeps its decimal commas all the same.
    void theResultKeepsDecimalCommasAfterSavingTheErrorMap() {
        NoiseWindow w;
        QTemporaryDir folder;
        w.form.Page->setCurrentWidget(w.form.tabErrMap);
        w.interaction().saveAnswers.enqueue(folder.filePath(QStringLiteral("map.csv")));
        w.form.btnErrorMapSaveFileClick();
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("map.csv"))));
        QCOMPARE(w.form.DecimalSeparator, QChar('.'));
        w.form.Page->setCurrentWidget(w.form.tabTest);
        w.form.btnPositionNoise->click();
        const QString level = w.signalLevel(1000);
        QCOMPARE(w.result(), (QStringList{"vzorcev:\t5000", "minn:\t1000,0", "maxx:\t1000,0",
                                          "raztros:\t0,0", "povprecje:\t1000,0", "6 sigma:\t0,0",
                                          "Sig Lvl:\t" + level, "", level + "\t0,0"}));
        QCOMPARE(QGuiApplication::clipboard()->text(), level + "\t0,0\r\n");
    }

    // The adapter stops answering after some readings: the run ends with the
    // readings taken, and the button is back.
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
        QVERIFY(w.MemoLines().contains(QStringLiteral("USB Comm Err -1")));
        QCOMPARE(w.form.btnPositionNoise->text(), QStringLiteral("Position Noise"));
    }
};

QTEST_MAIN(TestPositionNoise)
#include "test_position_noise.moc"
