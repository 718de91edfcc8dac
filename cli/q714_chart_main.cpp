// q714-chart: draws an error map, read as the error-map file from standard
// input, as a line chart into the PNG file named on the command line. q714
// runs it for `errormap --png`, so that q714 itself links no graphics.
#include "WholeFile.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int Width = 900;
constexpr int Height = 520;
const QRectF Plot(80, 50, Width - 110, Height - 120);

struct Map {
    QString header;
    QList<QPointF> points;
};

bool readMap(QTextStream& in, Map& map, QString& problem) {
    map.header = in.readLine().trimmed();
    if (in.readLine().trimmed() != QLatin1String("Point;Value")) {
        problem = QStringLiteral("not an error-map file");
        return false;
    }
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        bool pointOk = false, valueOk = false;
        const double point = line.section(QLatin1Char(';'), 0, 0).toDouble(&pointOk);
        const double value = line.section(QLatin1Char(';'), 1, 1).toDouble(&valueOk);
        if (!pointOk || !valueOk) {
            problem = QStringLiteral("unreadable line \"%1\"").arg(line);
            return false;
        }
        map.points.append(QPointF(point, value));
    }
    if (map.points.isEmpty()) {
        problem = QStringLiteral("no points");
        return false;
    }
    return true;
}

// A step of 1, 2 or 5 times a power of ten giving about four intervals.
double niceStep(double span) {
    const double raw = std::max(span, 1.0) / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * magnitude >= raw)
            return factor * magnitude;
    return 10 * magnitude;
}

QPointF toPlot(const QPointF& p, double low, double high) {
    return {Plot.left() + p.x() / 512.0 * Plot.width(),
            Plot.bottom() - (p.y() - low) / (high - low) * Plot.height()};
}

void drawAxes(QPainter& painter, double low, double high, double step) {
    painter.setPen(QColor(0xC0C0C0));
    for (double y = low; y <= high + step / 2; y += step) {
        const QPointF left = toPlot({0, y}, low, high);
        painter.drawLine(left, QPointF(Plot.right(), left.y()));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, left.y() - 8, Plot.left() - 6, 16),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(y));
        painter.setPen(QColor(0xC0C0C0));
    }
    painter.setPen(Qt::black);
    for (int x = 0; x <= 512; x += 128) {
        const QPointF at = toPlot({double(x), low}, low, high);
        painter.drawText(QRectF(at.x() - 30, Plot.bottom() + 4, 60, 16), Qt::AlignCenter,
                         QString::number(x));
    }
    painter.drawRect(Plot);
    painter.drawText(QRectF(Plot.left(), Height - 40, Plot.width(), 20), Qt::AlignCenter,
                     QStringLiteral("Position (deg)"));
    painter.save();
    painter.translate(18, Plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-Plot.height() / 2, -10, Plot.height(), 20), Qt::AlignCenter,
                     QStringLiteral("Correction (counts)"));
    painter.restore();
}

QImage draw(const Map& map) {
    const auto [lowest, highest] =
        std::minmax_element(map.points.cbegin(), map.points.cend(),
                            [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
    const double step = niceStep(highest->y() - lowest->y());
    double low = std::floor(lowest->y() / step) * step;
    double high = std::ceil(highest->y() / step) * step;
    if (high <= low) {
        low -= step;
        high += step;
    }
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawText(QRectF(0, 10, Width, 24), Qt::AlignCenter, map.header);
    drawAxes(painter, low, high, step);
    QPainterPath line;
    line.moveTo(toPlot(map.points.first(), low, high));
    for (const QPointF& p : map.points)
        line.lineTo(toPlot(p, low, high));
    const QColor blue(0x209FDF);
    painter.setPen(QPen(blue, 1.5));
    painter.drawPath(line);
    for (const QPointF& p : map.points)
        painter.fillRect(QRectF(toPlot(p, low, high) - QPointF(2, 2), QSizeF(4, 4)), blue);
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: q714-chart FILE.png < error-map.csv\n");
        return 2;
    }
    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    QTextStream in(&input);
    Map map;
    QString problem;
    if (!readMap(in, map, problem)) {
        std::fprintf(stderr, "q714-chart: %s\n", qPrintable(problem));
        return 1;
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !draw(map).save(&buffer, "PNG")) {
        std::fprintf(stderr, "q714-chart: the chart could not be drawn\n");
        return 1;
    }
    if (!WriteWholeFile(QString::fromLocal8Bit(argv[1]), png, problem)) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    return 0;
}
