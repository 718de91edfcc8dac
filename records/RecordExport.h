#pragma once
// Records as a script or a CI system takes them: CSV (one row per
// measurement, with the run's fields in front; a run that measured nothing
// has one row of its own), JSON (an array of records) and JUnit XML (a test
// suite per run, a test case per step, failures and errors as JUnit has
// them; a run that did not pass always counts as such). Numbers are written
// as text that reads back as the same number, here and wherever a person
// reads a measurement or a limit.

#include "TestRecord.h"

#include <QByteArray>
#include <QList>

QByteArray RecordsCsv(const QList<RunRecord>& records);
QByteArray RecordsJson(const QList<RunRecord>& records);
QByteArray RecordsJunit(const QList<RunRecord>& records);

// The shortest text that reads back as exactly this number (whole numbers
// without an exponent): 1199.999 stays 1199.999. Empty for NaN and infinity.
QString NumberText(double value);
// "[low..high]" with the limits as NumberText writes them, an open side
// empty; empty when there is no limit.
QString LimitsText(const Limits& limits);
// "name = value unit [low..high]": a measurement as a person reads it, its
// value and limits exactly as measured and given.
QString MeasurementText(const Measurement& m);
