#include "AdapterWorkflows.h"

#include "AdapterCommands.h"
#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Orodja.h"
#include "SerialPortMap.h"
#include "Serial_driver.h"

namespace {

constexpr qint32 MinimumAdapterForLomaAndBrix = 109;
constexpr int PowerSettleMs = 200;

qint32 exchange(const QByteArray& command, QByteArray& reply) {
    return SerialTransaction(COMPortHandle, command, 0, reply);
}

QString powerSupplyProblem(const QByteArray& command, const QByteArray& reply) {
    return QStringLiteral("Setting power supply (") + QString::fromLatin1(command) +
           QStringLiteral(") not successfull! (") + QString::fromLatin1(KeepPrintable(reply)) +
           QStringLiteral(")");
}

AdapterIdentity identityOf(const AdapterCandidate& candidate, const QByteArray& reply) {
    AdapterIdentity adapter;
    adapter.portName = candidate.portName;
    adapter.location = candidate.location;
    adapter.identity = reply;
    adapter.firmwareVersion = AdapterFirmwareVersion(reply);
    return adapter;
}

} // namespace

QByteArray AdapterIdentity::IdentityText() const {
    return KeepPrintable(identity);
}

void ReadAdapterDetails(AdapterIdentity& adapter) {
    adapter.serialNumber = ReadAdapterSerialNumber();
    adapter.revision = ReadAdapterRevision();
}

AdapterSearchResult SearchForAdapter(const std::function<void()>& afterEachOpen) {
    CloseCOMPort();
    AdapterSearchResult search;
    search.candidates = ListAdapterCandidates(ReadSerialPortMap());
    for (int i = 0; i < search.candidates.size(); ++i) {
        QByteArray reply;
        if (ProbeAdapterPort(search.candidates[i].location, reply, afterEachOpen)) {
            search.found = i;
            search.adapter = identityOf(search.candidates[i], reply);
            ReadAdapterDetails(search.adapter);
            break;
        }
    }
    return search;
}

QList<AdapterIdentity> ScanAdapters(QList<BusyPort>* busy) {
    CloseCOMPort();
    QList<AdapterIdentity> adapters;
    for (const AdapterCandidate& candidate : ListAdapterCandidates(ReadSerialPortMap())) {
        QByteArray reply;
        PortOpenProblem problem;
        if (!ProbeAdapterPort(candidate.location, reply, {}, &problem)) {
            if (busy && problem.busy)
                busy->append({candidate, problem.holder});
            continue;
        }
        AdapterIdentity adapter = identityOf(candidate, reply);
        ReadAdapterDetails(adapter);
        adapters << adapter;
        CloseCOMPort();
    }
    return adapters;
}

bool OpenAdapterAt(const QString& location, AdapterIdentity& adapter, PortOpenProblem* problem) {
    CloseCOMPort();
    QByteArray reply;
    if (!ProbeAdapterPort(location, reply, {}, problem))
        return false;
    adapter = identityOf({location, location}, reply);
    ReadAdapterDetails(adapter);
    return true;
}

SupplyResult PowerOnEncoder(EncoderSupplyVoltage voltage, FrontEnd& frontEnd) {
    const QByteArray supply =
        voltage == EncoderSupplyVoltage::V5 ? AdapterCommand::Supply5V : AdapterCommand::Supply3V3;
    QByteArray reply;
    SupplyResult result;
    result.result = EncoderPosition.ErrComm = exchange(supply, reply);
    if (result.LinkBroken())
        return result;
    if (!reply.startsWith(supply))
        frontEnd.Alert(powerSupplyProblem(supply, reply));

    exchange(AdapterCommand::PowerOn, reply);
    frontEnd.Log(QString::fromLatin1(KeepPrintable(reply)));
    if (!reply.startsWith(PowerOnAcknowledgement))
        frontEnd.Alert(powerSupplyProblem(AdapterCommand::PowerOn, reply));

    // The supply needs a moment before its state means anything.
    frontEnd.Pause(PowerSettleMs);
    result.state = ReadSupplyState().state;
    frontEnd.Log(QString::fromLatin1(result.state));
    return result;
}

SupplyResult PowerOffEncoder() {
    QByteArray reply;
    SupplyResult result;
    result.result = EncoderPosition.ErrComm = exchange(AdapterCommand::PowerOff, reply);
    return result;
}

SupplyResult ReadSupplyState() {
    QByteArray reply;
    SupplyResult result;
    result.result = EncoderPosition.ErrComm = exchange(AdapterCommand::SupplyState, reply);
    result.state = TrimText(reply);
    return result;
}

bool SetSpiClock(int setting, FrontEnd& frontEnd) {
    QByteArray reply;
    bool read = false;
    if (exchange(SpiClockCommand(setting), reply) == 0) {
        read = exchange(AdapterCommand::ReadSpiClock, reply) == 0;
        if (read)
            frontEnd.Log(QStringLiteral("Frequency: ") + QString::fromLatin1(TrimText(reply)));
    }
    if (reply.isEmpty())
        frontEnd.Alert(QStringLiteral("Setting frequency %1 not successfull.").arg(setting));
    return read && !reply.isEmpty();
}

bool SetNcsSckDelay(int microseconds, FrontEnd& frontEnd) {
    const QByteArray command = NcsSckDelayCommand(microseconds);
    QByteArray reply;
    const qint32 result = exchange(command, reply);
    const QList<SetupCommandProblem> problems = SetupCommandProblems(command, result, reply);
    for (const SetupCommandProblem& problem : problems)
        frontEnd.Alert(frontEnd.Words(problem));
    frontEnd.Log(QStringLiteral("Setting: ") + QString::fromLatin1(KeepPrintable(reply)));
    return problems.isEmpty();
}

void SendSetupCommand(const QByteArray& command, FrontEnd& frontEnd) {
    QByteArray reply;
    const qint32 result = exchange(command, reply);
    for (const SetupCommandProblem& problem : SetupCommandProblems(command, result, reply))
        frontEnd.Log(frontEnd.Words(problem));
    frontEnd.Log(QStringLiteral("Setting: ") + QString::fromLatin1(KeepPrintable(reply)));
}

bool AdapterSupportsLomaAndBrix(qint32 firmwareVersion) {
    return firmwareVersion >= MinimumAdapterForLomaAndBrix;
}
