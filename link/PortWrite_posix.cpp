// The one place in link that touches the port's descriptor itself.
#include "PortWrite.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool WritePortNow(QSerialPort& port, const QByteArray& bytes, int timeoutMs) {
    const int fd = int(port.handle());
    QElapsedTimer clock;
    clock.start();
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count > 0) {
            written += count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd room{fd, POLLOUT, 0};
        if (left <= 0 || (::poll(&room, 1, int(left)) < 0 && errno != EINTR)) {
            errno = left <= 0 ? ETIMEDOUT : errno;
            return false;
        }
    }
    return true;
}

bool PortInputWaiting(QSerialPort& port) {
    pollfd input{int(port.handle()), POLLIN, 0};
    return ::poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR));
}
