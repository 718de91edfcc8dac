// scan, info, power and spi.
#include "AdapterWorkflows.h"
#include "Commands.h"
#include "ConsoleFrontEnd.h"
#include "Enkoderji_splosno.h"
#include "ExitStatus.h"
#include "Q714_SPI_Dravonel.h"
#include "Session.h"

#include <QJsonArray>

namespace {

QString latin1(const QByteArray& text) {
    return QString::fromLatin1(text);
}

QString yesNo(bool flag) {
    return flag ? QStringLiteral("yes") : QStringLiteral("no");
}

QStringList encoderText(const ConnectResult& encoder) {
    const TEncoderSignature& s = EncoderSignature;
    return {QStringLiteral("encoder type %1, %2-bit %3%4")
                .arg(EncoderType)
                .arg(STbits)
                .arg(s.Multiturn ? QStringLiteral("multi-turn") : QStringLiteral("single-turn"))
                .arg(encoder.twoRings ? QStringLiteral(", two rings") : QString()),
            QStringLiteral("serial %1, part %2, firmware %3")
                .arg(latin1(s.SerialNumber), latin1(s.PartNumber), s.FWverStr),
            QStringLiteral("registers: error arc %1, persistent status %2, signal level %3, "
                           "self-calibration time-out %4, firmware %5, runtime log %6")
                .arg(yesNo(Present_MT_ERR_TRESHOLD), yesNo(Present_PERSISTENT_STATUS),
                     yesNo(Present_SIGNAL_LEVEL), yesNo(Present_SELF_CAL_TIMEOUT),
                     yesNo(Present_FIRMWARE_REVISION), yesNo(Present_U4_RUNTIME_LOG)),
            QStringLiteral("installation coefficients K = %1, N = %2%3")
                .arg(s.AirGapK, 0, 'f', 2)
                .arg(s.AirGapN, 0, 'f', 2)
                .arg(s.Asko ? QStringLiteral(" (extended air gap)") : QString())};
}

QString adapterText(const AdapterIdentity& a) {
    return QStringLiteral("%1  [%2]  %3.%4")
        .arg(a.location, latin1(a.serialNumber), latin1(a.IdentityText()))
        .arg(a.revision);
}

} // namespace

int RunScan(const CliRequest&, Output& out) {
    QList<BusyPort> busy;
    const QList<AdapterIdentity> adapters = ScanAdapters(&busy);
    for (const AdapterIdentity& adapter : adapters) {
        QJsonObject item = AdapterJson(adapter);
        item.insert(QStringLiteral("busy"), false);
        out.Item(Output::Tagged(QStringLiteral("adapter"), item), adapterText(adapter));
    }
    // A port another program holds cannot be asked what it is.
    for (const BusyPort& port : busy)
        out.Item(Output::Tagged(
                     QStringLiteral("adapter"),
                     {{"port", port.candidate.location}, {"busy", true}, {"held_by", port.holder}}),
                 QStringLiteral("%1  in use by %2").arg(port.candidate.location, port.holder));
    const qsizetype count = adapters.size() + busy.size();
    const QJsonObject result =
        Output::Tagged(QStringLiteral("result"), {{"command", "scan"}, {"count", int(count)}});
    out.Result(result, {count == 0 ? QStringLiteral("no adapter found")
                                   : QStringLiteral("%1 adapter(s)").arg(count)});
    return count == 0 ? Fail(ExitLink, QStringLiteral("no adapter found")) : ExitDone;
}

int RunInfo(CommandContext& c) {
    QStringList text{QStringLiteral("adapter ") + adapterText(c.session.Adapter())};
    text += encoderText(c.session.Encoder());
    c.out.Result(ResultOf(c, {}), text);
    return ExitDone;
}

int RunPower(CommandContext& c) {
    const QString state = c.request.arguments.value(0);
    if (state != QLatin1String("on") && state != QLatin1String("off"))
        return Fail(ExitUsage, QStringLiteral("power takes on or off"));
    const SupplyResult supply = state == QLatin1String("on")
                                    ? PowerOnEncoder(c.session.Voltage(), c.front)
                                    : PowerOffEncoder();
    if (supply.LinkBroken())
        return Fail(ExitLink, QStringLiteral("the link to the adapter broke"));
    const SupplyResult shown = state == QLatin1String("on") ? supply : ReadSupplyState();
    c.out.Result(ResultOf(c, {{"supply", state}, {"supply_state", latin1(shown.state)}}),
                 {QStringLiteral("supply ") + latin1(shown.state)});
    return ExitDone;
}

int CheckSpi(const CliRequest& request) {
    if (!request.IsSet("clock") && !request.IsSet("ncs-delay"))
        return Fail(ExitUsage, QStringLiteral("spi needs --clock or --ncs-delay"));
    return ExitDone;
}

int RunSpi(CommandContext& c) {
    qint64 clock = 0, delay = 0;
    if (!NumberOption(c, "clock", 0, clock) || !NumberOption(c, "ncs-delay", 0, delay))
        return ExitUsage;
    const bool clockSet = clock == 0 || SetSpiClock(int(clock), c.front);
    const bool delaySet = delay == 0 || SetNcsSckDelay(int(delay), c.front);
    if (clock > 0 && clockSet)
        c.session.RememberSpiClock(int(clock));
    if (delay > 0 && delaySet)
        c.session.RememberNcsSckDelay(int(delay));
    const bool set = clockSet && delaySet;
    QJsonObject fields;
    if (clock > 0)
        fields.insert(QStringLiteral("clock"), clock);
    if (delay > 0)
        fields.insert(QStringLiteral("ncs_delay_us"), delay);
    fields.insert(QStringLiteral("done"), set);
    c.out.Result(ResultOf(c, fields), {set ? QStringLiteral("done") : QStringLiteral("failed")});
    return set ? ExitDone : Fail(ExitLink, QStringLiteral("the adapter did not take the setting"));
}
