#include "Session.h"

#include "ConsoleFrontEnd.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "Q714_SPI_Dravonel.h"
#include "SerialPortMap.h"
#include "Serial_driver.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {

QString latin1(const QByteArray& text) {
    return QString::fromLatin1(text);
}

// A port given by path, or by the name the adapter search shows for it.
QString locationOf(const QString& port) {
    if (QFileInfo::exists(port))
        return port;
    for (const AdapterCandidate& candidate : ListAdapterCandidates(ReadSerialPortMap()))
        if (candidate.portName == port)
            return candidate.location;
    return port;
}

QString adapterList(const QList<AdapterIdentity>& adapters) {
    QStringList lines;
    for (const AdapterIdentity& a : adapters)
        lines << QStringLiteral("  %1  [%2]  %3")
                     .arg(a.location, latin1(a.serialNumber), latin1(a.IdentityText()));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QJsonObject AdapterJson(const AdapterIdentity& adapter) {
    return {{"port", adapter.location},
            {"serial", latin1(adapter.serialNumber)},
            {"identity", latin1(adapter.IdentityText())},
            {"firmware", adapter.firmwareVersion},
            {"revision", adapter.revision}};
}

QJsonObject EncoderJson(const ConnectResult& encoder) {
    const TEncoderSignature& s = EncoderSignature;
    const QJsonObject registers{{"mt_err_threshold", Present_MT_ERR_TRESHOLD},
                                {"persistent_status", Present_PERSISTENT_STATUS},
                                {"signal_level", Present_SIGNAL_LEVEL},
                                {"self_cal_timeout", Present_SELF_CAL_TIMEOUT},
                                {"firmware_revision", Present_FIRMWARE_REVISION},
                                {"runtime_log", Present_U4_RUNTIME_LOG}};
    return {{"type", EncoderType},
            {"protocol_version", DravonelVersion},
            {"resolution_bits", STbits},
            {"counts_per_turn", STcounts},
            {"multiturn", s.Multiturn},
            {"two_rings", encoder.twoRings},
            {"serial", latin1(s.SerialNumber)},
            {"part", latin1(s.PartNumber)},
            {"firmware", s.FWverStr},
            {"code_length", encoder.codeLength},
            {"installation",
             QJsonObject{{"k", s.AirGapK}, {"n", s.AirGapN}, {"extended_air_gap", s.Asko}}},
            {"registers", registers},
            {"non_inverted_crc", encoder.nonInvertedCrc}};
}

Session::Session(const CliRequest& request, ConsoleFrontEnd& front)
    : request(request), front(front) {}

EncoderSupplyVoltage Session::Voltage() const {
    return request.Value("volt") == QLatin1String("3.3") ? EncoderSupplyVoltage::V3_3
                                                         : EncoderSupplyVoltage::V5;
}

bool Session::serialExpected(const QByteArray& serial) const {
    return request.expectSerial.isEmpty() || latin1(serial) == request.expectSerial;
}

int Session::choosePort(QString& location) {
    if (!request.ports.isEmpty()) {
        location = locationOf(request.ports.first());
        return ExitDone;
    }
    const QList<AdapterIdentity> adapters = ScanAdapters();
    if (adapters.isEmpty())
        return Fail(ExitLink, QStringLiteral("no adapter found"));
    if (adapters.size() > 1 && request.command->changesDevice)
        return Fail(ExitUsage,
                    QStringLiteral("%1 adapters present; choose one with --port (or --all):\n%2")
                        .arg(adapters.size())
                        .arg(adapterList(adapters)));
    if (adapters.size() > 1)
        front.Log(QStringLiteral("%1 adapters present, using %2 (--port chooses another)")
                      .arg(adapters.size())
                      .arg(adapters.first().location));
    location = adapters.first().location;
    return ExitDone;
}

int Session::OpenAdapter() {
    QString location;
    if (const int status = choosePort(location))
        return status;
    if (!OpenAdapterAt(location, adapter))
        return Fail(ExitLink, QStringLiteral("no adapter answers at %1").arg(location));
    if (!request.command->connectsEncoder && !serialExpected(adapter.serialNumber))
        return Fail(ExitEncoder,
                    QStringLiteral("the adapter at %1 has serial %2, not %3 (without a connect "
                                   "only the adapter's serial is checked)")
                        .arg(location, latin1(adapter.serialNumber), request.expectSerial));
    return ExitDone;
}

int Session::ConnectEncoder() {
    // An encoder switched off answers nothing: its first attempt's lines
    // count only when the second one fails too.
    front.HoldLog(true);
    encoder = ::ConnectEncoder({}, front);
    if (encoder.linkBroken || encoder.identified) {
        front.ReleaseHeldLog(true);
    } else {
        front.ReleaseHeldLog(false);
        if (PowerOnEncoder(Voltage(), front).LinkBroken())
            return Fail(ExitLink, QStringLiteral("the link to the adapter broke"));
        encoder = ::ConnectEncoder({}, front);
    }
    if (encoder.linkBroken)
        return Fail(ExitLink, QStringLiteral("the link to the adapter broke"));
    if (!encoder.identified)
        return Fail(
            ExitEncoder,
            QStringLiteral("the encoder did not identify itself: ") +
                QString(encoder.problem).replace(QLatin1String("\r\n"), QLatin1String(" ")));
    connected = true;
    if (!serialExpected(adapter.serialNumber) && !serialExpected(EncoderSignature.SerialNumber))
        return Fail(ExitEncoder,
                    QStringLiteral("neither the adapter (%1) nor the encoder (%2) has serial %3")
                        .arg(latin1(adapter.serialNumber), latin1(EncoderSignature.SerialNumber),
                             request.expectSerial));
    return ExitDone;
}

QJsonObject Session::DeviceFields() const {
    QJsonObject fields{{"port", adapter.location}, {"adapter", AdapterJson(adapter)}};
    if (connected)
        fields.insert(QStringLiteral("encoder"), EncoderJson(encoder));
    return fields;
}
