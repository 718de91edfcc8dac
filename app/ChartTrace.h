#pragma once
// The points of one chart series, kept in order of x with their own colours.
// Readings add points here at their own pace; Show() brings the series on
// screen up to date in one go, at the pace of the display.

#include <QColor>
#include <QList>
#include <QPointF>

class QXYSeries;

class TChartTrace {
public:
    void Attach(QXYSeries* series);

    // Inserts the point at its place by x, after points of the same x. An
    // invalid colour, or the series colour, draws it in the series colour.
    // Points that are not finite are ignored.
    void Add(const QPointF& point, const QColor& colour = QColor());
    // Deletes the first point (smallest x) when there are more than `limit`.
    void RemoveFirstIfOver(int limit);
    void Clear();

    int Count() const { return int(points.size()); }
    const QList<QPointF>& Points() const { return points; }
    // The range of the points along x or y; false when there are none.
    bool Range(bool alongX, double& low, double& high) const;

    // Hands the points and colours to the series if they changed since.
    void Show();

private:
    QXYSeries* series = nullptr;
    QList<QPointF> points;
    QList<QColor> colours; // invalid: the series colour
    int ownColours = 0;    // points with a colour of their own
    bool changed = false;
};
