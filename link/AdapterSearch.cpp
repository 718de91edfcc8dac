#include "AdapterSearch.h"

#include "Orodja.h"
#include "Serial_driver.h"

#include <QSerialPort>
#include <algorithm>

namespace {

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

// The digit run of `text` starting at `pos`, and where it ends.
qint64 digitRun(const QString& text, qsizetype& pos) {
    qint64 value = 0;
    while (pos < text.size() && text[pos].isDigit())
        value = value * 10 + text[pos++].digitValue();
    return value;
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
        if (a[i].isDigit() && b[j].isDigit()) {
            const qint64 x = digitRun(a, i);
            const qint64 y = digitRun(b, j);
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
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
                      const std::function<void()>& afterOpen) {
    QSerialPort* port = OpenSerialPort(location);
    if (!port)
        return false;
    COMPortHandle = port;
    if (afterOpen)
        afterOpen();
    const PortSettings previous = readSettings(*port);
    const PortSettings adapterLine{115200, QSerialPort::Data8, QSerialPort::NoParity,
                                   QSerialPort::OneStop, previous.flowControl};
    if (!writeSettings(*port, adapterLine)) {
        CloseCOMPort();
        return false;
    }
    const qint32 result = SerialTransaction(COMPortHandle, "v", 7, identity);
    if (result == 0 && identity.startsWith(AdapterModelString))
        return true;
    writeSettings(*port, previous);
    CloseCOMPort();
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
