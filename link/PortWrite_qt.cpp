// Platforms without a POSIX descriptor: the port's own buffered write,
// pushed out at once.
#include "PortWrite.h"

#include <QSerialPort>

bool WritePortNow(QSerialPort& port, const QByteArray& bytes, int timeoutMs) {
    if (port.write(bytes) != bytes.size())
        return false;
    port.flush();
    while (port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(timeoutMs))
            return false;
    }
    return true;
}

bool PortInputWaiting(QSerialPort& port) {
    return port.waitForReadyRead(0) || port.bytesAvailable() > 0;
}
