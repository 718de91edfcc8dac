// The Error Map tab: reading the encoder's 512 corrections into the chart,
// and saving them as a semicolon-separated file with a PNG of the chart
// beside it.
#include "Enkoderji_splosno.h"
#include "ErrorMap.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "Ulvax_konstante.h"
#include "UserInteraction.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr int ProgressMaximum = 500;             // the bar is full from point 500 on
constexpr qint64 ProgressRepaintIntervalMs = 15; // about one frame of a 60 Hz screen
const QString CsvExtension = QStringLiteral(".csv");
const QString CompleteFormat = QStringLiteral("%p%");
const QString PngExtension = QStringLiteral(".png");

qint64 steadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The reads block the window, so the bar is painted at once (QProgressBar
// repaints itself when a new value shows); but not more often than a screen
// shows frames.
void showProgress(TMainForm& form, int point) {
    const qint64 now = steadyMilliseconds();
    if (now - form.ErrMapProgressPaintedMs < ProgressRepaintIntervalMs)
        return;
    form.ErrMapProgressBar->setValue(qMin(point, ProgressMaximum));
    form.ErrMapProgressPaintedMs = now;
}

// A step of 1, 2 or 5 times a power of ten that divides `span` into about
// four intervals.
double niceStep(double span) {
    const double raw = span / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * magnitude >= raw)
            return factor * magnitude;
    return 10 * magnitude;
}

// The correction axis spans the curve in whole steps. The chart lays itself
// out again on every axis change, so an unchanged range is left alone.
void fitCorrectionAxis(QValueAxis* axis, double lowest, double highest) {
    const double step = niceStep(qMax(highest - lowest, 1.0));
    double minimum = std::floor(lowest / step) * step;
    double maximum = std::ceil(highest / step) * step;
    if (maximum <= minimum) { // a flat map
        minimum -= step;
        maximum += step;
    }
    const int ticks = static_cast<int>(std::lround((maximum - minimum) / step)) + 1;
    if (axis->min() != minimum || axis->max() != maximum)
        axis->setRange(minimum, maximum);
    if (axis->tickCount() != ticks)
        axis->setTickCount(ticks);
}

// The chart's old points are replaced at once by the points read; the window
// is not painted while the reads block it.
void plotErrorMap(TMainForm& form, const QList<QPointF>& points) {
    form.Series1->replace(points);
    if (points.isEmpty())
        return;
    const auto [lowest, highest] =
        std::minmax_element(points.cbegin(), points.cend(),
                            [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    fitCorrectionAxis(form.chartErrMapAxisLeft, lowest->y(), highest->y());
}

// The bar keeps the point reached, and the bar and the chart's title say how
// much of the map is missing, until the next read.
void showIncompleteMap(TMainForm& form, int failedPoint) {
    const QString reached = QStringLiteral("%1 of %2 points").arg(failedPoint).arg(ErrorMapPoints);
    form.ErrMapProgressBar->setValue(qMin(qMax(failedPoint - 1, 0), ProgressMaximum));
    form.ErrMapProgressBar->setFormat(QStringLiteral("Incomplete: ") + reached);
    form.chartErrMap->chart()->setTitle(QStringLiteral("Incomplete error map: ") + reached);
}

// A complete file or none: an existing file is replaced only by a complete
// new one. A failure is reported with the path and the reason.
bool writeErrorMapFile(TMainForm& form, const QString& path) {
    const QByteArray text = ErrorMapFileText(form.Series1->points());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    form.Interaction().showError(QStringLiteral("The error map could not be saved to %1: %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

QString proposedFileName() {
    return SafeFileNamePart(QStringLiteral("ErrorMap_") +
                            QString::fromLatin1(EncoderSignature.PartNumber) + QLatin1Char('_') +
                            QString::fromLatin1(EncoderSignature.SerialNumber));
}

} // namespace

void TMainForm::ConnectErrorMapHandlers() {
    connect(btnReadErrMap, &QPushButton::clicked, this, &TMainForm::btnReadErrMapClick);
    connect(btnErrorMapSaveFile, &QPushButton::clicked, this, &TMainForm::btnErrorMapSaveFileClick);
}

// A failed read leaves the points read so far in the chart, the bar at the
// point reached and the read cycle paused; the log names the point, and the
// bar and the chart's title say that the map is incomplete.
void TMainForm::btnReadErrMapClick() {
    EnableConstReading = false;
    ErrMapProgressBar->setMaximum(ProgressMaximum);
    ErrMapProgressBar->setValue(0);
    ErrMapProgressBar->setFormat(CompleteFormat);
    chartErrMap->chart()->setTitle(QString());
    ErrMapProgressBar->show();
    ErrMapProgressPaintedMs = steadyMilliseconds(); // shown at 0 with the window's next paint
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const ErrorMapReadout map =
        ReadErrorMap(Front(), [this](int point) { showProgress(*this, point); });
    if (!map.Complete())
        showIncompleteMap(*this, map.failedPoint);
    plotErrorMap(*this, ErrorMapChartPoints(map));
    QGuiApplication::restoreOverrideCursor();
    if (!map.Complete())
        return;
    ErrMapProgressBar->hide();
    EnableConstReading = true;
}

void TMainForm::btnErrorMapSaveFileClick() {
    btnReadErrMapClick();
    if (!LastError.isEmpty()) {
        ShowMessage(QStringLiteral("Error reading Error Map from encoder!"));
        return;
    }
    chartErrMap->repaint();
    QApplication::processEvents(); // the chart is drawn before it is exported
    DecimalSeparator = QLatin1Char('.');

    SaveDialogRequest request = SaveDialog1;
    request.title = QStringLiteral("Save Error Map data");
    request.filter = QStringLiteral("Comma separated (*.csv)");
    request.defaultSuffix = QStringLiteral("csv");
    request.proposedName = proposedFileName();
    Interaction().beep(BeepKind::Question);
    const QString chosen = Interaction().askSaveFileName(request);
    if (chosen.isEmpty())
        return;
    setCursor(Qt::WaitCursor);
    const QString csvPath = WithExtension(chosen, CsvExtension);
    if (writeErrorMapFile(*this, csvPath))
        SaveChartAsPNG(chartErrMap, WithExtension(csvPath, PngExtension));
    unsetCursor();
}
