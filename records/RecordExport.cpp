#include "RecordExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace {

// Whether a spreadsheet would take the cell for a formula: its first
// character after any blanks (spaces, tabs, carriage returns, line feeds,
// which a spreadsheet skips) starts one, and the cell is no plain number.
bool looksLikeFormula(const QString& text) {
    const auto first =
        std::find_if_not(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
    if (first == text.cend() || !QStringLiteral("=+-@").contains(*first))
        return false;
    bool numeric = false;
    text.toDouble(&numeric);
    return !numeric;
}

// A CSV field, quoted when it holds a separator, a quote or a line break; a
// cell a spreadsheet would take for a formula is kept as text.
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (looksLikeFormula(text))
        bytes.prepend('\'');
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QByteArray csvRow(const QList<QString>& fields) {
    QByteArrayList cells;
    for (const QString& field : fields)
        cells << csvField(field);
    return cells.join(',') + "\r\n";
}

QString number(const std::optional<double>& value) {
    return value ? NumberText(*value) : QString();
}

double seconds(const QDateTime& from, const QDateTime& to) {
    return from.isValid() && to.isValid() ? from.msecsTo(to) / 1000.0 : 0;
}

QList<QString> runFields(const RunRecord& r) {
    return {r.runId,           r.station,     r.operatorName,
            r.dutId,           r.planName,    r.planVersion,
            r.encoderSerial,   r.encoderPart, OutcomeName(r.outcome),
            UtcText(r.started)};
}

QList<QString> measurementFields(const StepRecord& s, const Measurement& m) {
    return {QString::number(s.index),
            QString::number(s.repetition),
            s.name,
            OutcomeName(s.outcome),
            m.name,
            NumberText(m.value),
            m.unit,
            number(m.limits.low),
            number(m.limits.high),
            OutcomeName(m.outcome),
            m.marginal ? QStringLiteral("1") : QStringLiteral("0")};
}

constexpr int MeasurementColumns = 11; // step_index to marginal

// One row per measurement; a run that measured nothing (it did not connect,
// was stopped before its first step, or its steps ended without a value)
// still has its row, the step's and measurement's columns empty.
QByteArray csvRowsOf(const RunRecord& r) {
    QByteArray rows;
    for (const StepRecord& s : r.steps)
        for (const Measurement& m : s.measurements)
            rows += csvRow(runFields(r) + measurementFields(s, m));
    if (rows.isEmpty())
        rows = csvRow(runFields(r) + QList<QString>(MeasurementColumns));
    return rows;
}

// -- JUnit --

struct JunitCase {
    QString name;
    double seconds = 0;
    Outcome outcome = Outcome::Pass;
    QString message;
    QString details;
};

struct JunitCounts {
    int tests = 0;
    int failures = 0;
    int errors = 0;
    int skipped = 0;
    double seconds = 0;

    void Add(const JunitCase& c) {
        ++tests;
        failures += c.outcome == Outcome::Fail;
        errors += c.outcome == Outcome::Error;
        skipped += c.outcome == Outcome::Aborted;
    }
    void Add(const JunitCounts& other) {
        tests += other.tests;
        failures += other.failures;
        errors += other.errors;
        skipped += other.skipped;
        seconds += other.seconds;
    }
};

QString measurementLines(const StepRecord& s) {
    QStringList lines;
    for (const Measurement& m : s.measurements)
        lines << MeasurementText(m) + QLatin1Char(' ') + OutcomeName(m.outcome);
    return lines.join(QLatin1Char('\n'));
}

// A test case per step, and one for the run itself when no step carries its
// outcome (it did not connect, or was stopped before or between steps), so
// that a run that did not pass never shows as one that did.
QList<JunitCase> casesOf(const RunRecord& r) {
    QList<JunitCase> cases;
    for (const StepRecord& s : r.steps)
        cases << JunitCase{QStringLiteral("%1.%2 %3").arg(s.index).arg(s.repetition).arg(s.name),
                           seconds(s.started, s.ended), s.outcome, s.message, measurementLines(s)};
    const bool carried = std::any_of(r.steps.cbegin(), r.steps.cend(),
                                     [&r](const StepRecord& s) { return s.outcome == r.outcome; });
    if (r.outcome != Outcome::Pass && !carried)
        cases << JunitCase{QStringLiteral("run"), seconds(r.started, r.ended), r.outcome, r.message,
                           QString()};
    return cases;
}

// What a CI system shows of the device: its serial, else the operator's name
// for it, else the port.
QString deviceOf(const RunRecord& r) {
    if (!r.encoderSerial.isEmpty())
        return r.encoderSerial;
    return r.dutId.isEmpty() ? r.port : r.dutId;
}

void writeCounts(QXmlStreamWriter& xml, const JunitCounts& counts) {
    xml.writeAttribute(QStringLiteral("tests"), QString::number(counts.tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(counts.failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(counts.errors));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(counts.skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(counts.seconds, 'f', 3));
}

void writeCase(QXmlStreamWriter& xml, const RunRecord& r, const JunitCase& c) {
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), r.planName + QLatin1Char('.') + deviceOf(r));
    xml.writeAttribute(QStringLiteral("name"), c.name);
    xml.writeAttribute(QStringLiteral("time"), QString::number(c.seconds, 'f', 3));
    if (c.outcome != Outcome::Pass) {
        xml.writeStartElement(c.outcome == Outcome::Fail    ? QStringLiteral("failure")
                              : c.outcome == Outcome::Error ? QStringLiteral("error")
                                                            : QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), c.message);
        if (!c.details.isEmpty())
            xml.writeCharacters(c.details);
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

struct JunitSuite {
    const RunRecord* run;
    QList<JunitCase> cases;
    JunitCounts counts;
};

JunitSuite suiteOf(const RunRecord& r) {
    JunitSuite suite{&r, casesOf(r), {}};
    for (const JunitCase& c : suite.cases)
        suite.counts.Add(c);
    suite.counts.seconds = seconds(r.started, r.ended);
    return suite;
}

void writeSuite(QXmlStreamWriter& xml, const JunitSuite& suite) {
    const RunRecord& r = *suite.run;
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"),
                       QStringLiteral("%1 %2 %3").arg(r.planName, r.planVersion, deviceOf(r)));
    xml.writeAttribute(QStringLiteral("id"), r.runId);
    xml.writeAttribute(QStringLiteral("hostname"), r.station);
    xml.writeAttribute(QStringLiteral("timestamp"), UtcText(r.started));
    writeCounts(xml, suite.counts);
    for (const JunitCase& c : suite.cases)
        writeCase(xml, r, c);
    xml.writeEndElement();
}

} // namespace

QString NumberText(double value) {
    if (!std::isfinite(value))
        return {};
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString LimitsText(const Limits& limits) {
    if (!limits.Any())
        return {};
    return QStringLiteral("[%1..%2]").arg(number(limits.low), number(limits.high));
}

QString MeasurementText(const Measurement& m) {
    QString text = m.name + QStringLiteral(" = ") +
                   (std::isfinite(m.value) ? NumberText(m.value) : QString::number(m.value));
    if (!m.unit.isEmpty())
        text += QLatin1Char(' ') + m.unit;
    if (m.limits.Any())
        text += QLatin1Char(' ') + LimitsText(m.limits);
    return text;
}

QByteArray RecordsCsv(const QList<RunRecord>& records) {
    QByteArray csv = "run_id,station,operator,dut_id,plan_name,plan_version,encoder_serial,"
                     "encoder_part,run_outcome,started_utc,step_index,repetition,step_name,"
                     "step_outcome,measurement,value,unit,low,high,outcome,marginal\r\n";
    for (const RunRecord& r : records)
        csv += csvRowsOf(r);
    return csv;
}

QByteArray RecordsJson(const QList<RunRecord>& records) {
    QJsonArray array;
    for (const RunRecord& r : records)
        array.append(RecordJson(r));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray RecordsJunit(const QList<RunRecord>& records) {
    QList<JunitSuite> suites;
    JunitCounts total;
    for (const RunRecord& r : records) {
        suites << suiteOf(r);
        total.Add(suites.last().counts);
    }
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    writeCounts(xml, total);
    for (const JunitSuite& suite : suites)
        writeSuite(xml, suite);
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}
