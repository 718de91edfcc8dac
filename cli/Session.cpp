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

// A port given by path, or by the name the adapter search shows for it;
// empty for anything else.
QString locationOf(const QString& port) {
    if (QFileInfo::exists(port) || port.contains(QLatin1Char('/')))
        return port;
    for (const AdapterCandidate& candidate : ListAdapterCandidates(ReadSerialPortMap()))
        if (candidate.portName == port)
            return candidate.location;
    return QString();
}

// The adapter with this serial number, found by asking every adapter.
int locationOfSerial(const QString& serial, QString& location) {
    QList<BusyPort> busy;
    for (const AdapterIdentity& adapter : ScanAdapters(&busy))
        if (latin1(adapter.serialNumber) == serial) {
            location = adapter.location;
            return ExitDone;
        }
    QString unasked;
    for (const BusyPort& port : busy)
        unasked += QStringLiteral("; %1 is in use by %2 and could not be asked")
                       .arg(port.candidate.location, port.holder);
    return Fail(ExitLink, QStringLiteral("no adapter with serial %1 (nor a port of that name)%2")
                              .arg(serial, unasked));
}

QString adapterList(const QList<AdapterIdentity>& adapters, const QList<BusyPort>& busy) {
    QStringList lines;
    for (const AdapterIdentity& a : adapters)
        lines << QStringLiteral("  %1  [%2]  %3")
                     .arg(a.location, latin1(a.serialNumber), latin1(a.IdentityText()));
    for (const BusyPort& port : busy)
        lines << QStringLiteral("  %1  in use by %2").arg(port.candidate.location, port.holder);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

int ResolvePorts(QStringList& ports) {
    QStringList locations, devices;
    for (const QString& port : ports) {
        QString location = locationOf(port);
        if (location.isEmpty())
            if (const int status = locationOfSerial(port, location))
                return status;
        // A link and the device it leads to are one port.
        const QString device = QFileInfo(location).canonicalFilePath();
        const QString key = device.isEmpty() ? location : device;
        if (devices.contains(key))
            continue;
        devices << key;
        locations << location;
    }
    ports = locations;
    return ExitDone;
}

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
    : request(request), front(front) {
    connectOptions.spiClockSetting = int(request.Number("clock", connectOptions.spiClockSetting));
    connectOptions.ncsSckDelayUs = int(request.Number("ncs-delay", connectOptions.ncsSckDelayUs));
}

EncoderSupplyVoltage Session::Voltage() const {
    return request.Value("volt") == QLatin1String("3.3") ? EncoderSupplyVoltage::V3_3
                                                         : EncoderSupplyVoltage::V5;
}

bool Session::serialExpected(const QByteArray& serial) const {
    return request.expectSerial.isEmpty() || latin1(serial) == request.expectSerial;
}

int Session::choosePort(QString& location) {
    if (!request.ports.isEmpty()) {
        const QString port = request.ports.first();
        location = locationOf(port);
        return location.isEmpty() ? locationOfSerial(port, location) : ExitDone;
    }
    // A port another program holds is an adapter present, though it cannot
    // be asked: a command that changes the encoder never guesses past it.
    QList<BusyPort> busy;
    const QList<AdapterIdentity> adapters = ScanAdapters(&busy);
    const qsizetype present = adapters.size() + busy.size();
    if (adapters.isEmpty())
        return Fail(ExitLink,
                    busy.isEmpty()
                        ? QStringLiteral("no adapter found")
                        : QStringLiteral("no free adapter:\n%1").arg(adapterList(adapters, busy)));
    if (present > 1 && request.ChangesDevice())
        return Fail(ExitUsage,
                    QStringLiteral("%1 adapters present; choose one with --port (or --all):\n%2")
                        .arg(present)
                        .arg(adapterList(adapters, busy)));
    if (present > 1)
        front.Log(QStringLiteral("%1 adapters present, using %2 (--port chooses another)")
                      .arg(present)
                      .arg(adapters.first().location));
    location = adapters.first().location;
    return ExitDone;
}

int Session::OpenAdapter() {
    QString location;
    if (const int status = choosePort(location))
        return status;
    PortOpenProblem problem;
    if (!OpenAdapterAt(location, adapter, &problem))
        return Fail(ExitLink,
                    problem.busy
                        ? QStringLiteral("%1 is in use by %2").arg(location, problem.holder)
                    : problem.text.isEmpty()
                        ? QStringLiteral("no adapter answers at %1").arg(location)
                        : QStringLiteral("cannot open %1: %2").arg(location, problem.text));
    // A test run connects the encoder itself, first thing, and checks there.
    const bool encoderComes = request.command->connectsEncoder ||
                              QLatin1String(request.command->name) == QLatin1String("run");
    if (!encoderComes && !serialExpected(adapter.serialNumber))
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
    encoder = ::ConnectEncoder(connectOptions, front);
    bool switchedOn = false;
    if (encoder.linkBroken || encoder.identified) {
        front.ReleaseHeldLog(true);
    } else {
        front.ReleaseHeldLog(false);
        if (PowerOnEncoder(Voltage(), front).LinkBroken())
            return Fail(ExitLink, QStringLiteral("the link to the adapter broke"));
        switchedOn = true;
        encoder = ::ConnectEncoder(connectOptions, front);
    }
    if (encoder.linkBroken)
        return Fail(ExitLink, QStringLiteral("the link to the adapter broke"));
    if (!encoder.identified)
        return Fail(
            ExitEncoder,
            QStringLiteral("the encoder did not identify itself: ") +
                QString(encoder.problem).replace(QLatin1String("\r\n"), QLatin1String(" ")));
    connected = true;
    if (serialExpected(adapter.serialNumber) || serialExpected(EncoderSignature.SerialNumber))
        return ExitDone;
    // Not the device asked for: it is left as it was found.
    if (switchedOn)
        PowerOffEncoder();
    return Fail(ExitEncoder,
                QStringLiteral("neither the adapter (%1) nor the encoder (%2) has serial %3; "
                               "nothing was written%4")
                    .arg(latin1(adapter.serialNumber), latin1(EncoderSignature.SerialNumber),
                         request.expectSerial,
                         switchedOn ? QStringLiteral(", and the supply is off again") : QString()));
}

QJsonObject Session::DeviceFields() const {
    QJsonObject fields{{"port", adapter.location}, {"adapter", AdapterJson(adapter)}};
    if (connected)
        fields.insert(QStringLiteral("encoder"), EncoderJson(encoder));
    return fields;
}
