// The "Signal level" tab: temperatures, signal level and air gap, the chart
// with its four drawing modes, air-gap zeroing and the chart's PNG export.
#include "Enkoderji_splosno.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "SignalLevel.h"
#include "Ulvax_konstante.h"
#include "UserInteraction.h"
#include "Widgets.h"

#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

constexpr int MaxTimePoints = 500;
constexpr double SmallestAirGapMove = 0.1; // units between two points of the air-gap trace

constexpr QRgb ErrorPoint = 0xFF0000;
constexpr QRgb CrcErrorPoint = 0x800080;
constexpr QRgb WarningPoint = 0xFFAA00;
constexpr QRgb PlainPoint = 0x0000FF;

// Ring codes (12th character of the part number) of the extended air gap.
constexpr char ExtendedAirGapCodes[] = "STUVWZ";
constexpr double ExtendedAirGapMax = 800;
constexpr double NormalAirGapMax = 500;

const QString PngSuffix = QStringLiteral(".png");

// Calls `onClick` when the left mouse button is released over the enabled
// watched widget (a label has no click of its own).
class ClickFilter : public QObject {
public:
    ClickFilter(QWidget* watched, std::function<void()> onClick)
        : QObject(watched), onClick(std::move(onClick)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::MouseButtonRelease && widget->isEnabled()) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->pos()))
                onClick();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onClick;
};

QColor positionPointColour() {
    const TEncoderPosition& p = EncoderPosition;
    if (p.ErrBit)
        return QColor::fromRgb(ErrorPoint);
    if (p.ErrCRC)
        return QColor::fromRgb(CrcErrorPoint);
    if (p.WarnBit)
        return QColor::fromRgb(WarningPoint);
    return QColor::fromRgb(PlainPoint);
}

void setFixedRange(QValueAxis* axis, bool& automatic, double minimum, double maximum) {
    automatic = false;
    axis->setRange(minimum, maximum);
}

// The range of both traces' data on one coordinate; false without data.
bool dataRange(const TMainForm& form, bool alongX, double& low, double& high) {
    bool any = false;
    for (const TChartTrace* trace : {&form.TraceGreen, &form.TraceBlue}) {
        double traceLow = 0;
        double traceHigh = 0;
        if (!trace->Range(alongX, traceLow, traceHigh))
            continue;
        low = any ? std::min(low, traceLow) : traceLow;
        high = any ? std::max(high, traceHigh) : traceHigh;
        any = true;
    }
    return any;
}

void followData(QValueAxis* axis, const TMainForm& form, bool alongX) {
    double low = 0;
    double high = 0;
    if (!dataRange(form, alongX, low, high))
        return;
    if (low == high) { // a range needs a width
        low -= 1;
        high += 1;
    }
    if (axis->min() != low || axis->max() != high)
        axis->setRange(low, high);
}

void clearSignalChart(TMainForm& form) {
    form.TraceBlue.Clear();
    form.TraceGreen.Clear();
    form.ShowSignalChart();
}

// "name.ext" becomes "name.png", "name" becomes "name.png"; dots in folder
// names do not count.
QString withPngSuffix(const QString& fileName) {
    const int nameStart = int(fileName.lastIndexOf(QLatin1Char('/'))) + 1;
    const int dot = int(fileName.lastIndexOf(QLatin1Char('.')));
    return (dot >= nameStart ? fileName.left(dot) : fileName) + PngSuffix;
}

// The serial number as part of a proposed file name: without its extension,
// and with path separators and control characters replaced, so that the
// encoder's text cannot point the dialog elsewhere.
QString proposedChartName(const QByteArray& serialNumber) {
    QString name = QStringLiteral("Air gap ") + QString::fromLatin1(serialNumber);
    const int dot = int(name.lastIndexOf(QLatin1Char('.')));
    if (dot >= 0)
        name.truncate(dot);
    for (QChar& c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    return name;
}

} // namespace

void TMainForm::ConnectSignalLevelHandlers() {
    const auto onChecked = [this](QRadioButton* button, void (TMainForm::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                (this->*handler)();
        });
    };
    onChecked(rbDrawAirGap, &TMainForm::rbDrawAirGapClick);
    onChecked(rbDrawPos, &TMainForm::rbDrawPosClick);
    onChecked(rbDrawTemp, &TMainForm::rbDrawTempClick);
    onChecked(rbDrawNone, &TMainForm::rbDrawNoneClick);
    TraceBlue.Attach(SeriesBlue);
    TraceGreen.Attach(SeriesGreen);
    new ClickFilter(lblSignalLevel, [this] { lblSignalLevelClick(); });
    connect(btnSaveSignalLvlChart, &QPushButton::clicked, this,
            &TMainForm::btnSaveSignalLvlChartClick);
}

void TMainForm::ShowTemperature() {
    const qint32 reading = EncoderStatus.TemperatureEXT;
    const QString sensor = QString::number(EncoderStatus.TemperatureSEN);
    float beta = 0;
    if (ThermistorReadingValid(reading)) {
        beta = ThermistorCelsiusBeta(reading);
        const float polynomial = ThermistorCelsiusPolynomial(reading);
        SetDisplayText(lblTemperature, QStringLiteral("SEN: ") + sensor +
                                           QStringLiteral(" °C    EXT: ") +
                                           QString::number(reading) + QStringLiteral(" (") +
                                           FixedText(beta, 1) + QStringLiteral(" / ") +
                                           FixedText(polynomial, 1) + QStringLiteral(" °C)"));
    } else {
        SetDisplayText(lblTemperature, QStringLiteral("Temperature SEN: ") + sensor);
    }
    if (rbDrawTemp->isChecked()) {
        if (reading > 0)
            TraceBlue.Add(QPointF(FrameCounter, beta));
        TraceGreen.Add(QPointF(FrameCounter, EncoderStatus.TemperatureSEN));
    }
    if (rbDrawPos->isChecked()) {
        TraceBlue.Add(QPointF(FrameCounter, EncoderPosition_unit), positionPointColour());
        if (IsTwoRingEncoder(EncoderType))
            TraceGreen.Add(QPointF(FrameCounter, EncoderCH1Position_unit));
    }
    TraceGreen.RemoveFirstIfOver(MaxTimePoints);
    TraceBlue.RemoveFirstIfOver(MaxTimePoints);
}

void TMainForm::ShowSignalLevel() {
    const qint32 level = EncoderStatus.SignalLevel;
    const TEncoderSignature& s = EncoderSignature;
    AirGap = AirGapMicrometres(level, s.AirGapK, s.AirGapN);
    SetDisplayText(lblSignalLevel, QStringLiteral("Signal level: ") + QString::number(level) +
                                       QStringLiteral(" / ") + GroupedText(AirGap, 0, 5) +
                                       QStringLiteral(" um"));
    const bool moved = std::fabs(EncoderPosition_unit - EncPosDegOld) > SmallestAirGapMove;
    if (rbDrawAirGap->isChecked() && moved && !EncoderPosition.ErrBit) {
        const QRgb colour = EncoderPosition.WarnBit ? WarningPoint : PlainPoint;
        TraceBlue.Add(QPointF(EncPosDegST, AirGap), QColor::fromRgb(colour));
    }
}

// The traces on screen, with the automatic axes fitted to their data.
void TMainForm::ShowSignalChart() {
    if (SignalChartBottomAutomatic)
        followData(ChartSignalLevelAxisBottom, *this, true);
    if (SignalChartLeftAutomatic)
        followData(ChartSignalLevelAxisLeft, *this, false);
    TraceGreen.Show();
    TraceBlue.Show();
}

void TMainForm::rbDrawAirGapClick() {
    FrameCounter = 0;
    setFixedRange(ChartSignalLevelAxisBottom, SignalChartBottomAutomatic, 0, 360);
    const QByteArray& part = EncoderSignature.PartNumber;
    const bool extended = part.size() >= 12 && part[11] != '\0' &&
                          std::strchr(ExtendedAirGapCodes, part[11]) != nullptr;
    setFixedRange(ChartSignalLevelAxisLeft, SignalChartLeftAutomatic, 0,
                  extended ? ExtendedAirGapMax : NormalAirGapMax);
    clearSignalChart(*this);
}

void TMainForm::rbDrawPosClick() {
    FrameCounter = 0;
    SignalChartBottomAutomatic = true;
    if (EncoderSignature.Multiturn)
        SignalChartLeftAutomatic = true;
    else
        setFixedRange(ChartSignalLevelAxisLeft, SignalChartLeftAutomatic, -1, 361);
    clearSignalChart(*this);
}

void TMainForm::rbDrawTempClick() {
    FrameCounter = 0;
    SignalChartBottomAutomatic = true;
    SignalChartLeftAutomatic = true;
    clearSignalChart(*this);
}

void TMainForm::rbDrawNoneClick() {
    FrameCounter = 0;
}

void TMainForm::lblSignalLevelClick() {
    EncoderSignature.AirGapN -= AirGap;
    // Halves to even; adding 0.0 turns a rounded -0 into 0.
    const double rounded = std::nearbyint(EncoderSignature.AirGapN) + 0.0;
    ShowMessage(QStringLiteral("AirGap N = ") + QString::number(rounded, 'f', 0));
}

void TMainForm::btnSaveSignalLvlChartClick() {
    SaveDialogRequest request = SaveDialog1;
    request.title = QStringLiteral("Save data plot...");
    request.proposedName = proposedChartName(EncoderSignature.SerialNumber);
    request.filter = QStringLiteral("Image (*.png)");
    Interaction().beep(BeepKind::Question);
    const QString chosen = Interaction().askSaveFileName(request);
    if (chosen.isEmpty())
        return;
    const QString fileName = withPngSuffix(chosen);
    if (QFileInfo::exists(fileName)) {
        ShowMessage(QStringLiteral("Datoteka PNG že obstaja!"));
        return;
    }
    SaveChartAsPNG(ChartSignalLevel, fileName);
}

// The file is written through a temporary one, so it appears only complete;
// a file of that name from before does not count as success.
bool TMainForm::SaveChartAsPNG(QChartView* chart, const QString& fileName) {
    const QString pngName = withPngSuffix(fileName);
    bool written = false;
    if (auto* lazy = qobject_cast<TChartView*>(chart))
        lazy->Assemble(); // a chart not shown yet has no graphics
    if (chart) {
        QImage image(chart->size(), QImage::Format_RGB16);
        image.fill(Qt::white);
        QPainter painter(&image);
        chart->QWidget::render(&painter);
        painter.end();
        QSaveFile file(pngName);
        written = file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
    }
    if (written && QFileInfo::exists(pngName))
        return true;
    Interaction().showError(QStringLiteral("Shranjevanje PNG slike ni bilo uspešno!"));
    return false;
}
