#include "AdapterSearch.h"

#include "Orodja.h"
#include "Serial_driver.h"

#include <QSerialPort>
#include <algorithm>
#include <memory>

namespace {

constexpr qint32 IdentityJudgedLength = 7;

// Port settings that a rejected port gets back.
struct PortSettings {
    qint32 baudRate;
    QSerialPort::DataBits dataBits;
    QSerialPort::Parity parity;
    QSerialPort::StopBits stopBits;
    QSerialPort::FlowControl flowControl;
};

PortSettings readSettings(const QSerialPort& port) {
    return {port.baudRate(), port.dataBits(), port.parity(), port.stopBits(), port.flowControl()};
}

bool writeSettings(QSerialPort& port, const PortSettings& s) {
    return port.setBaudRate(s.baudRate) && port.setDataBits(s.dataBits) &&
           port.setParity(s.parity) && port.setStopBits(s.stopBits) &&
           port.setFlowControl(s.flowControl);
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The ASCII digit run of `text` starting at `pos` without its leading zeros;
// `pos` moves past the run.
QStringView digitRun(const QString& text, qsizetype& pos) {
    while (pos < text.size() && text[pos] == QLatin1Char('0') && pos + 1 < text.size() &&
           isAsciiDigit(text[pos + 1]))
        ++pos;
    const qsizetype start = pos;
    while (pos < text.size() && isAsciiDigit(text[pos]))
        ++pos;
    return QStringView(text).mid(start, pos - start);
}

// Compares two digit runs without leading zeros as numbers of any length:
// the longer is larger, equal lengths compare digit by digit.
int compareDigitRuns(QStringView x, QStringView y) {
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

qint32 decimalOrZero(const QByteArray& text) {
    bool ok = false;
    const qint32 value = text.toInt(&ok);
    return ok ? value : 0;
}

} // namespace

bool NaturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const int order = compareDigitRuns(digitRun(a, i), digitRun(b, j));
            if (order != 0)
                return order < 0;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // "ttyS01" and "ttyS1" still have an order
}

QList<AdapterCandidate> ListAdapterCandidates(const QList<SerialPortEntry>& portMap) {
    QList<AdapterCandidate> candidates;
    for (const SerialPortEntry& entry : portMap) {
        if (!entry.entryName.contains(QLatin1String("USBSER")))
            continue;
        const bool known = std::any_of(candidates.begin(), candidates.end(),
                                       [&](const auto& c) { return c.portName == entry.portName; });
        if (!known)
            candidates.append({entry.portName, entry.location});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return NaturalLess(a.portName, b.portName); });
    return candidates;
}

bool ProbeAdapterPort(const QString& location, QByteArray& identity,
                      const std::function<void()>& afterOpen, PortOpenProblem* problem) {
    // The port becomes COMPortHandle only once it has answered as the
    // adapter: a workflow run by `afterOpen` cannot reach it meanwhile.
    std::unique_ptr<QSerialPort> port(OpenSerialPort(location, problem));
    if (!port)
        return false;
    if (afterOpen)
        afterOpen();
    const PortSettings previous = readSettings(*port);
    const PortSettings adapterLine{115200, QSerialPort::Data8, QSerialPort::NoParity,
                                   QSerialPort::OneStop, previous.flowControl};
    if (!writeSettings(*port, adapterLine))
        return false;
    // The whole identity line is taken, also when it comes in pieces, so
    // that no part of it is left over for the next command; the identity is
    // judged by its first seven bytes.
    const qint32 result = SerialLineTransaction(port.get(), "v", IdentityJudgedLength, identity);
    if (result == 0 && identity.startsWith(AdapterModelString)) {
        CloseCOMPort();
        COMPortHandle = port.release();
        return true;
    }
    writeSettings(*port, previous);
    ForgetLateReply(port.get());
    return false;
}

qint32 AdapterFirmwareVersion(const QByteArray& rawIdentity) {
    const char major = rawIdentity.size() >= 10 ? rawIdentity[9] : '\0';
    const qint32 majorValue = (major >= '0' && major <= '9') ? major - '0' : 0;
    return majorValue * 100 + decimalOrZero(rawIdentity.mid(11, 2));
}

QByteArray ReadAdapterSerialNumber() {
    QByteArray reply;
    SerialTransaction(COMPortHandle, "r", 0, reply);
    return KeepAlphaNum(reply);
}

qint32 ReadAdapterRevision() {
    QByteArray reply;
    SerialTransaction(COMPortHandle, "o", 0, reply);
    return decimalOrZero(KeepAlphaNum(reply));
}
