#include "RecordExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace {

// A CSV field, quoted when it holds a separator, a quote or a line break.
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    // A cell that a spreadsheet would take for a formula is kept as text.
    bool numeric = false;
    text.toDouble(&numeric);
    if (!bytes.isEmpty() && QByteArray("=+-@").contains(bytes.front()) && !numeric)
        bytes.prepend('\'');
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QString number(double value) {
    return std::isfinite(value) ? QString::number(value, 'g', 15) : QString();
}

QString number(const std::optional<double>& value) {
    return value ? number(*value) : QString();
}

double seconds(const QDateTime& from, const QDateTime& to) {
    return from.isValid() && to.isValid() ? from.msecsTo(to) / 1000.0 : 0;
}

void junitStep(QXmlStreamWriter& xml, const RunRecord& r, const StepRecord& s) {
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"),
                       r.planName + QLatin1Char('.') + r.encoderSerial);
    xml.writeAttribute(QStringLiteral("name"),
                       QStringLiteral("%1.%2 %3").arg(s.index).arg(s.repetition).arg(s.name));
    xml.writeAttribute(QStringLiteral("time"),
                       QString::number(seconds(s.started, s.ended), 'f', 3));
    if (s.outcome == Outcome::Fail || s.outcome == Outcome::Error) {
        xml.writeStartElement(s.outcome == Outcome::Fail ? QStringLiteral("failure")
                                                         : QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("message"), s.message);
        QStringList lines;
        for (const Measurement& m : s.measurements)
            lines << QStringLiteral("%1 = %2 %3 [%4..%5] %6")
                         .arg(m.name, number(m.value), m.unit, number(m.limits.low),
                              number(m.limits.high), OutcomeName(m.outcome));
        xml.writeCharacters(lines.join(QLatin1Char('\n')));
        xml.writeEndElement();
    } else if (s.outcome == Outcome::Aborted) {
        xml.writeStartElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), s.message);
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

int countOf(const RunRecord& r, Outcome outcome) {
    return int(std::count_if(r.steps.begin(), r.steps.end(),
                             [&](const StepRecord& s) { return s.outcome == outcome; }));
}

} // namespace

QByteArray RecordsCsv(const QList<RunRecord>& records) {
    QByteArray csv = "run_id,station,operator,plan_name,plan_version,encoder_serial,encoder_part,"
                     "run_outcome,started_utc,step_index,repetition,step_name,step_outcome,"
                     "measurement,value,unit,low,high,outcome,marginal\r\n";
    for (const RunRecord& r : records) {
        const QList<QString> run{
            r.runId,           r.station,       r.operatorName, r.planName,
            r.planVersion,     r.encoderSerial, r.encoderPart,  OutcomeName(r.outcome),
            UtcText(r.started)};
        for (const StepRecord& s : r.steps)
            for (const Measurement& m : s.measurements) {
                QList<QString> row = run;
                row << QString::number(s.index) << QString::number(s.repetition) << s.name
                    << OutcomeName(s.outcome) << m.name << number(m.value) << m.unit
                    << number(m.limits.low) << number(m.limits.high) << OutcomeName(m.outcome)
                    << (m.marginal ? QStringLiteral("1") : QStringLiteral("0"));
                QByteArrayList fields;
                for (const QString& field : row)
                    fields << csvField(field);
                csv += fields.join(',') + "\r\n";
            }
    }
    return csv;
}

QByteArray RecordsJson(const QList<RunRecord>& records) {
    QJsonArray array;
    for (const RunRecord& r : records)
        array.append(RecordJson(r));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray RecordsJunit(const QList<RunRecord>& records) {
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    for (const RunRecord& r : records) {
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(
            QStringLiteral("name"),
            QStringLiteral("%1 %2 %3").arg(r.planName, r.planVersion, r.encoderSerial));
        xml.writeAttribute(QStringLiteral("id"), r.runId);
        xml.writeAttribute(QStringLiteral("hostname"), r.station);
        xml.writeAttribute(QStringLiteral("timestamp"), UtcText(r.started));
        xml.writeAttribute(QStringLiteral("tests"), QString::number(r.steps.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(countOf(r, Outcome::Fail)));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(countOf(r, Outcome::Error)));
        xml.writeAttribute(QStringLiteral("skipped"),
                           QString::number(countOf(r, Outcome::Aborted)));
        xml.writeAttribute(QStringLiteral("time"),
                           QString::number(seconds(r.started, r.ended), 'f', 3));
        for (const StepRecord& s : r.steps)
            junitStep(xml, r, s);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}
