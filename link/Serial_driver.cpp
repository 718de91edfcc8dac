#include "Serial_driver.h"

#include "PortWrite.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <cerrno>

QSerialPort* COMPortHandle = nullptr;
quint32 SerialTimeout = 400;
bool CommLogEnabled = false;
QByteArray CommLogText;

namespace {

// The port whose last exchange timed out: its reply may still be on its
// way, and must not be taken for the reply of the next command there.
const QSerialPort* latePort = nullptr;

bool replyComplete(const QByteArray& reply, qint32 expectedLength) {
    if (expectedLength > 0)
        return reply.size() >= expectedLength;
    return reply.contains('\r');
}

// errno of the failed call, or EIO when the port layer did not leave one.
qint32 lastOsError() {
    return errno != 0 ? errno : EIO;
}

bool writeWhole(QSerialPort* port, const QByteArray& command) {
    errno = 0;
    return WritePortNow(*port, command, static_cast<int>(SerialTimeout));
}

// Waits on the port (no busy polling) until the reply is complete or the
// time-out has passed.
qint32 collectReply(QSerialPort* port, qint32 expectedLength, QByteArray& reply) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (port->bytesAvailable() > 0)
            reply += port->readAll();
        if (replyComplete(reply, expectedLength))
            return 0;
        const qint64 elapsed = clock.elapsed();
        if (elapsed > SerialTimeout)
            return SerialResultTimeout;
        if (!port->waitForReadyRead(static_cast<int>(SerialTimeout - elapsed) + 1)) {
            const auto error = port->error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                // The device went away: nothing more can arrive.
                port->clearError();
                reply += port->readAll();
                return replyComplete(reply, expectedLength) ? 0 : SerialResultTimeout;
            }
        }
    }
}

// Discards what arrives until the line has been quiet for SerialTimeout (at
// most four time-outs in all), so that a reply that came too late is not
// taken for the next one. Shown in the communication log as a late reply.
void discardLateReply(QSerialPort* port) {
    QByteArray late;
    QElapsedTimer clock;
    clock.start();
    do {
        late += port->readAll();
    } while (clock.elapsed() < 4 * qint64(SerialTimeout) &&
             port->waitForReadyRead(static_cast<int>(SerialTimeout)));
    late += port->readAll();
    if (CommLogEnabled && !late.isEmpty())
        CommLogText += "RX (late, discarded):" + late + "\r\n";
}

} // namespace

qint32 SerialTransaction(QSerialPort* handle, const QByteArray& command, qint32 expectedLength,
                         QByteArray& reply) {
    if (!handle || !handle->isOpen())
        return SerialResultNoPort;
    if (latePort == handle) {
        discardLateReply(handle);
        latePort = nullptr;
    }
    if (!writeWhole(handle, command)) {
        const qint32 code = -lastOsError();
        handle->clearError();
        return code;
    }
    if (CommLogEnabled)
        CommLogText += "TX:" + command + "\r\n";
    reply.clear();
    const qint32 result = collectReply(handle, expectedLength, reply);
    latePort = result == SerialResultTimeout ? handle : nullptr;
    if (CommLogEnabled)
        CommLogText += "RX:" + reply + "\r\n";
    return result;
}

void ForgetLateReply(const QSerialPort* port) {
    if (latePort == port)
        latePort = nullptr;
}

void CommLogMarker(const QByteArray& marker) {
    if (CommLogEnabled)
        CommLogText += marker + "\r\n";
}

QSerialPort* OpenSerialPort(const QString& location) {
    // Open the device itself, not a link to it: the lock that keeps two
    // programs off one port is named after the device.
    const QString device = QFileInfo(location).canonicalFilePath();
    auto* port = new QSerialPort(device.isEmpty() ? location : device);
    if (!port->open(QIODevice::ReadWrite)) {
        delete port;
        return nullptr;
    }
    return port;
}

void CloseCOMPort() {
    if (!COMPortHandle)
        return;
    ForgetLateReply(COMPortHandle);
    COMPortHandle->close();
    delete COMPortHandle;
    COMPortHandle = nullptr;
}

void ResetSerialDriverState() {
    CloseCOMPort();
    SerialTimeout = 400;
    CommLogEnabled = false;
    CommLogText.clear();
}
