#include "ErrorMap.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "Ulvax_konstante.h"

namespace {

// Device text as one field of the file's ';'-separated header: line ends and
// other control characters become spaces, so that the header stays one
// line; a field holding a ';' or a quote is quoted (its quotes doubled), so
// that it stays one field.
QByteArray headerField(const QByteArray& text) {
    QByteArray field = text;
    for (char& c : field)
        if (uchar(c) < 32 || c == 127)
            c = ' ';
    if (!field.contains(';') && !field.contains('"'))
        return field;
    return '"' + field.replace("\"", "\"\"") + '"';
}

} // namespace

ErrorMapReadout ReadErrorMap(FrontEnd& frontEnd, const std::function<void(int point)>& progress) {
    CommLogMarker("ReadErrMap");
    LastError.clear();
    ErrorMapReadout readout;
    readout.corrections.reserve(ErrorMapPoints);
    for (int point = 0; point < ErrorMapPoints; ++point) {
        qint16 correction = 0;
        if (!Dravonel_ReadErrorMapPoint(point, correction)) {
            readout.failedPoint = point;
            frontEnd.Log(LastError);
            frontEnd.Log(
                QStringLiteral("Error map incomplete: point %1 could not be read (%1 of %2 "
                               "points read).")
                    .arg(point)
                    .arg(ErrorMapPoints));
            return readout;
        }
        readout.corrections.append(correction);
        if (progress)
            progress(point);
    }
    return readout;
}

QByteArray ErrorMapFileText(const QList<QPointF>& points) {
    const QByteArray lineEnd = "\r\n";
    QByteArray text = "Ulvax Error Map;" + headerField("Serial: " + EncoderSignature.SerialNumber) +
                      ';' + headerField("Part: " + EncoderSignature.PartNumber) + lineEnd +
                      "Point;Value" + lineEnd;
    for (const QPointF& point : points)
        text += QByteArray::number(qRound(point.x())) + ';' +
                QByteArray::number(qRound(point.y())) + lineEnd;
    return text;
}

QList<QPointF> ErrorMapChartPoints(const ErrorMapReadout& readout) {
    QList<QPointF> points;
    points.reserve(readout.corrections.size());
    for (int point = 0; point < readout.corrections.size(); ++point)
        points.append(QPointF(point, readout.corrections[point]));
    return points;
}
