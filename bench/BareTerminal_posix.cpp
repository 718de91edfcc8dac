#include "BareTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

BareTerminal::~BareTerminal() {
    if (owned && fd >= 0)
        ::close(fd);
}

void BareTerminal::Attach(int descriptor) {
    fd = descriptor;
    owned = false;
}

bool BareTerminal::Open(const QString& devicePath) {
    fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    owned = fd >= 0;
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool BareTerminal::Exchange(const QByteArray& command, QByteArray& reply) {
    if (::write(fd, command.constData(), command.size()) != command.size())
        return false;
    reply.clear();
    char buffer[256];
    while (!reply.contains('\r')) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        reply.append(buffer, n);
    }
    return true;
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
