#include "ChartTrace.h"

#include <QtCharts/QXYSeries>
#include <algorithm>
#include <cmath>

void TChartTrace::Attach(QXYSeries* chartSeries) {
    series = chartSeries;
}

void TChartTrace::Add(const QPointF& point, const QColor& colour) {
    if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
        return;
    // Time-based traces always append: look from the end.
    qsizetype index = points.size();
    if (index > 0 && points.last().x() > point.x()) {
        const auto place =
            std::upper_bound(points.cbegin(), points.cend(), point,
                             [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
        index = place - points.cbegin();
    }
    const bool own = colour.isValid() && series && colour != series->color();
    points.insert(index, point);
    colours.insert(index, own ? colour : QColor());
    ownColours += own ? 1 : 0;
    changed = true;
}

void TChartTrace::RemoveFirstIfOver(int limit) {
    if (points.size() <= limit)
        return;
    ownColours -= colours.first().isValid() ? 1 : 0;
    points.removeFirst();
    colours.removeFirst();
    changed = true;
}

void TChartTrace::Clear() {
    points.clear();
    colours.clear();
    ownColours = 0;
    changed = true;
}

bool TChartTrace::Range(bool alongX, double& low, double& high) const {
    if (points.isEmpty())
        return false;
    const auto value = [alongX](const QPointF& p) { return alongX ? p.x() : p.y(); };
    if (alongX) { // sorted by x
        low = points.first().x();
        high = points.last().x();
        return true;
    }
    low = high = value(points.first());
    for (const QPointF& p : points) {
        low = std::min(low, value(p));
        high = std::max(high, value(p));
    }
    return true;
}

void TChartTrace::Show() {
    if (!changed || !series)
        return;
    changed = false;
    series->replace(points);
    if (ownColours == 0) {
        if (!series->pointsConfiguration().isEmpty())
            series->clearPointsConfiguration();
        return;
    }
    QHash<int, QHash<QXYSeries::PointConfiguration, QVariant>> configuration;
    for (qsizetype i = 0; i < colours.size(); ++i) {
        if (colours[i].isValid())
            configuration[int(i)].insert(QXYSeries::PointConfiguration::Color, colours[i]);
    }
    series->setPointsConfiguration(configuration);
}
