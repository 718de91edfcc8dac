#pragma once
// The encoder's error map: its 512 corrections in counts, and the file they
// are saved in.

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <functional>

class FrontEnd;

struct ErrorMapReadout {
    QList<qint16> corrections; // the points read, from point 0 on
    int failedPoint = -1;      // the point whose read failed, -1: none
    bool Complete() const { return failedPoint < 0; }
};

// Reads the map point by point; `progress` runs after each point read. A
// failed read ends it: its message is logged with the point that failed.
ErrorMapReadout ReadErrorMap(FrontEnd& frontEnd,
                             const std::function<void(int point)>& progress = {});

// The error-map file: header, "Point;Value" and one line per point (x and y
// rounded to whole numbers), lines ending in CR LF. The header's serial and
// part number come from the encoder: they never break its line or fields.
QByteArray ErrorMapFileText(const QList<QPointF>& points);
// The points of a readout: (point, correction).
QList<QPointF> ErrorMapChartPoints(const ErrorMapReadout& readout);
