#pragma once
// Records as a script or a CI system takes them: CSV (one row per
// measurement, with the run's fields in front), JSON (an array of records)
// and JUnit XML (a test suite per run, a test case per step, failures and
// errors as JUnit has them).

#include "TestRecord.h"

#include <QByteArray>
#include <QList>

QByteArray RecordsCsv(const QList<RunRecord>& records);
QByteArray RecordsJson(const QList<RunRecord>& records);
QByteArray RecordsJunit(const QList<RunRecord>& records);
