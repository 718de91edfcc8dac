#pragma once
// One reading of `q714 read` as an output item: its values are copied out of
// the encoder's state on the reading thread, and the item is built from the
// copy on the output's thread while the next reading runs.

#include "Enkoderji_splosno.h"
#include "Output.h"
#include "Reading.h"

// Counts to the unit of --resolution and --unit.
struct Scaling {
    double unitsPerCount = 0;
    QString unit;
};

struct ReadingValues {
    qint64 index = 0;
    qint64 timeMs = 0;
    Reading reading;
    TEncoderPosition position;
    quint32 status = 0;
    QByteArray statusBits; // binary digits
    bool withSignal = false;
    bool signalLevelPresent = false;
    qint32 signalLevel = 0;
    double airGapUm = 0;
    qint32 sensorTemperature = 0;
    bool thermistorValid = false;
    double thermistorTemperature = 0;
};

// The values of `reading`, just taken, from the encoder's records.
ReadingValues ReadingValuesOf(const Reading& reading, qint64 index, qint64 timeMs, bool withSignal);

// The item as `format` needs it: the text line, the JSON line, or (csv) the
// object.
OutputItem ReadingItem(const ReadingValues& values, const Scaling& scaling, OutputFormat format);
QJsonObject ReadingJson(const ReadingValues& values, const Scaling& scaling);
QByteArray ReadingJsonLine(const ReadingValues& values, const Scaling& scaling);
QString ReadingText(const ReadingValues& values, const Scaling& scaling);
