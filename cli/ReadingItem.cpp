#include "ReadingItem.h"

#include "JsonLine.h"
#include "Q714_SPI_Dravonel.h"
#include "SignalLevel.h"

#include <QJsonArray>

namespace {

QStringList textsOf(const QString& statusTexts) {
    return statusTexts.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

double unitsOf(qint64 counts, const Scaling& scaling) {
    return double(counts) * scaling.unitsPerCount;
}

QJsonObject signalFields(const ReadingValues& v) {
    QJsonObject fields{{"temperature_sensor_c", v.sensorTemperature}};
    if (v.signalLevelPresent) {
        fields.insert(QStringLiteral("signal_level"), v.signalLevel);
        fields.insert(QStringLiteral("air_gap_um"), v.airGapUm);
    }
    if (v.thermistorValid)
        fields.insert(QStringLiteral("temperature_thermistor_c"), v.thermistorTemperature);
    return fields;
}

QString flag(bool set, const char* name) {
    return set ? QLatin1String(name) : QStringLiteral("-");
}

} // namespace

ReadingValues ReadingValuesOf(const Reading& reading, qint64 index, qint64 timeMs,
                              bool withSignal) {
    const TEncoderSignature& s = EncoderSignature;
    const TEncoderStatus& st = EncoderStatus;
    ReadingValues v;
    v.index = index;
    v.timeMs = timeMs;
    v.reading = reading;
    v.position = EncoderPosition;
    v.status = st.DetailedStatus;
    v.statusBits = IntToBin(8 * REG_SIZE_DRAVONEL_PERSISTENT_STATUS, st.DetailedStatus);
    v.withSignal = withSignal;
    if (!withSignal)
        return v;
    v.signalLevelPresent = Present_SIGNAL_LEVEL;
    v.signalLevel = st.SignalLevel;
    v.airGapUm = AirGapMicrometres(st.SignalLevel, s.AirGapK, s.AirGapN);
    v.sensorTemperature = st.TemperatureSEN;
    v.thermistorValid = ThermistorReadingValid(st.TemperatureEXT);
    if (v.thermistorValid)
        v.thermistorTemperature = ThermistorCelsiusBeta(st.TemperatureEXT);
    return v;
}

QJsonObject ReadingJson(const ReadingValues& v, const Scaling& scaling) {
    const TEncoderPosition& p = v.position;
    const Reading& r = v.reading;
    QJsonObject item{{"index", double(v.index)},
                     {"time_ms", double(v.timeMs)},
                     {"multiturn", r.frameMT},
                     {"singleturn", double(r.frameST)},
                     {"counts", double(r.frameMTST)},
                     {"position", unitsOf(r.frameMTST, scaling)},
                     {"unit", scaling.unit},
                     {"error", p.ErrBit},
                     {"warning", p.WarnBit},
                     {"crc_error", p.ErrCRC},
                     {"status", double(v.status)},
                     {"status_bits", QString::fromLatin1(v.statusBits)},
                     {"status_texts", QJsonArray::fromStringList(textsOf(r.statusTexts))},
                     {"raw", QString::fromLatin1(p.RxData)}};
    if (r.twoChannels)
        item.insert(QStringLiteral("channel1"),
                    QJsonObject{{"multiturn", p.CH1_MT_value},
                                {"singleturn", double(p.CH1_ST_value)},
                                {"counts", double(p.CH1_MTST_value)},
                                {"position", unitsOf(p.CH1_MTST_value, scaling)}});
    if (v.withSignal)
        item.insert(QStringLiteral("signal"), signalFields(v));
    return Output::Tagged(QStringLiteral("reading"), item);
}

// The fields in the order of their sorted keys, as QJsonObject keeps them.
QByteArray ReadingJsonLine(const ReadingValues& v, const Scaling& scaling) {
    const TEncoderPosition& p = v.position;
    const Reading& r = v.reading;
    JsonLine line;
    if (r.twoChannels)
        line.BeginObject("channel1")
            .Field("counts", p.CH1_MTST_value)
            .Field("multiturn", p.CH1_MT_value)
            .Field("position", unitsOf(p.CH1_MTST_value, scaling))
            .Field("singleturn", p.CH1_ST_value)
            .EndObject();
    line.Field("counts", r.frameMTST)
        .Field("crc_error", p.ErrCRC)
        .Field("error", p.ErrBit)
        .Field("index", v.index)
        .Field("multiturn", r.frameMT)
        .Field("position", unitsOf(r.frameMTST, scaling))
        .Latin1Field("raw", p.RxData)
        .Field("schema_version", SchemaVersion);
    if (v.withSignal) {
        line.BeginObject("signal");
        if (v.signalLevelPresent)
            line.Field("air_gap_um", v.airGapUm).Field("signal_level", v.signalLevel);
        line.Field("temperature_sensor_c", v.sensorTemperature);
        if (v.thermistorValid)
            line.Field("temperature_thermistor_c", v.thermistorTemperature);
        line.EndObject();
    }
    return line.Field("singleturn", r.frameST)
        .Field("status", v.status)
        .Latin1Field("status_bits", v.statusBits)
        .Field("status_texts", textsOf(r.statusTexts))
        .Field("time_ms", v.timeMs)
        .Latin1Field("type", "reading")
        .Field("unit", scaling.unit)
        .Field("warning", p.WarnBit)
        .Take();
}

QString ReadingText(const ReadingValues& v, const Scaling& scaling) {
    const TEncoderPosition& p = v.position;
    QString text = QStringLiteral("%1  MT %2  ST %3  %4 %5  %6 %7 %8")
                       .arg(v.index)
                       .arg(v.reading.frameMT)
                       .arg(v.reading.frameST)
                       .arg(unitsOf(v.reading.frameMTST, scaling), 0, 'f', 3)
                       .arg(scaling.unit, flag(p.ErrBit, "error"), flag(p.WarnBit, "warning"),
                            flag(p.ErrCRC, "crc"));
    for (const QString& t : textsOf(v.reading.statusTexts))
        text += QStringLiteral("  [") + t + QLatin1Char(']');
    if (v.withSignal) {
        if (v.signalLevelPresent)
            text +=
                QStringLiteral("  signal %1 / %2 um").arg(v.signalLevel).arg(v.airGapUm, 0, 'f', 0);
        text += QStringLiteral("  %1 °C").arg(v.sensorTemperature);
    }
    return text;
}

OutputItem ReadingItem(const ReadingValues& values, const Scaling& scaling, OutputFormat format) {
    switch (format) {
    case OutputFormat::Text:
        return {{}, ReadingText(values, scaling), {}};
    case OutputFormat::Json:
    case OutputFormat::JsonLines:
        return {{}, {}, ReadingJsonLine(values, scaling)};
    case OutputFormat::Csv:
        break;
    }
    return {ReadingJson(values, scaling), {}, {}};
}
