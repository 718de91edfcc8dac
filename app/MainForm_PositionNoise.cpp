// The position-noise measurement: 5000 read cycles of a resting shaft, the
// spread, mean and six standard deviations of the single-turn count, the
// average signal level, and a summary line for the clipboard.
#include "Enkoderji_splosno.h"
#include "Orodja.h"
#include "PositionNoise.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

namespace {

constexpr int NoiseReadings = 5000;
constexpr int SignalLevelEvery = 100; // readings per signal-level reading
constexpr int FigureDecimals = 1;
constexpr int FigureSignificantDigits = 10;
constexpr int SignalSignificantDigits = 6;

const QString ButtonCaption = QStringLiteral("Position Noise");
const QString AcrossZeroNote =
    QStringLiteral("(samples across the zero of the turn taken relative to the first one)");

struct TNoiseReadings {
    std::vector<float> samples;
    double signalSum = 0;
    int signalReadings = 0;

    double AverageSignalLevel() const {
        return signalReadings > 0 ? signalSum / signalReadings : 0;
    }
};

// A reading refused because no encoder is connected ends the run as well.
bool readingFailed(const TMainForm& form) {
    return EncoderPosition.ErrTimeout || EncoderPosition.ErrComm != 0 || !form.EncoderConnected;
}

// Runs the read cycles, keeping the window responsive. A reading that fails
// ends the run and gives no sample: only readings actually taken count.
TNoiseReadings takeReadings(TMainForm& form) {
    TNoiseReadings readings;
    readings.samples.reserve(NoiseReadings);
    int i = 1;
    bool failed = false;
    do {
        if (i % SignalLevelEvery == 0)
            form.StatBeriSignalLevel = true;
        form.LoopReadCycle(); // the display follows at the screen's pace
        QCoreApplication::processEvents();
        failed = readingFailed(form);
        if (form.StatBeriSignalLevel && !failed) {
            readings.signalSum += EncoderStatus.SignalLevel;
            ++readings.signalReadings;
        }
        form.StatBeriSignalLevel = false;
        if (!failed)
            readings.samples.push_back(static_cast<float>(EncoderPosition.ST_value));
        ++i;
        const double percent = std::nearbyint(i * 100.0 / NoiseReadings);
        form.btnPositionNoise->setText(QString::number(percent, 'f', 0) + QStringLiteral(" %"));
    } while (i <= NoiseReadings && !ApplicationTerminating() && !failed);
    return readings;
}

} // namespace

void TMainForm::ConnectPositionNoiseHandlers() {
    connect(btnPositionNoise, &QPushButton::clicked, this, &TMainForm::btnPositionNoiseClick);
}

void TMainForm::btnPositionNoiseClick() {
    btnPositionNoise->setEnabled(false);
    rbDrawNone->setChecked(true); // the readings draw no chart points
    const TNoiseReadings readings = takeReadings(*this);
    ShowLatestReading();
    const TPositionNoise noise = PositionNoiseStatistics(readings.samples, STcounts);

    // The figures are written with a decimal comma for pasting into a
    // spreadsheet; afterwards the program keeps a decimal point.
    const QLocale userFormat = FormatSettings;
    FormatSettings = QLocale(QLocale::German, QLocale::Germany);
    const auto figure = [this](double value) {
        return FixedText(value, FigureDecimals, FigureSignificantDigits);
    };
    const QString signal = FixedText(readings.AverageSignalLevel(), 0, SignalSignificantDigits);
    const QString clipboardLine = signal + QLatin1Char('\t') + figure(6 * noise.Sigma);
    QStringList lines = {QStringLiteral("vzorcev:\t%1").arg(noise.Count),
                         QStringLiteral("minn:\t") + figure(noise.Min),
                         QStringLiteral("maxx:\t") + figure(noise.Max),
                         QStringLiteral("raztros:\t") + figure(noise.Max - noise.Min),
                         QStringLiteral("povprecje:\t") + figure(noise.Mean),
                         QStringLiteral("6 sigma:\t") + figure(6 * noise.Sigma),
                         QStringLiteral("Sig Lvl:\t") + signal,
                         QString(),
                         clipboardLine};
    if (noise.AcrossZero)
        lines << AcrossZeroNote;
    mmTestRezultat->setPlainText(lines.join(QLatin1Char('\n')));
    CopyToClipboard(clipboardLine + QStringLiteral("\r\n"));
    FormatSettings = userFormat.decimalPoint() == QLatin1String(".")
                         ? userFormat
                         : QLocale(QLocale::English, QLocale::UnitedStates);

    btnPositionNoise->setText(ButtonCaption);
    btnPositionNoise->setEnabled(true);
}
