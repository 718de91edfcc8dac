#include "ReplyScript.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

ReplyScript::ReplyScript() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        if (master >= 0)
            ::close(master);
        master = -1;
        return;
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); // keeps the master from hanging up
    termios settings{};
    tcgetattr(slave, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave, TCSANOW, &settings);
    devicePath = QString::fromLocal8Bit(name);
    running = true;
    server = std::thread([this] { serve(); });
}

ReplyScript::~ReplyScript() {
    running = false;
    if (server.joinable())
        server.join();
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
}

void ReplyScript::SetReplies(const QList<QByteArray>& next) {
    std::lock_guard<std::mutex> lock(mutex);
    replies = next;
}

// Every read of the master is taken as one command: the program writes a
// command whole and waits for its reply before the next one.
void ReplyScript::serve() {
    char buffer[256];
    while (running) {
        pollfd watch{master, POLLIN, 0};
        if (::poll(&watch, 1, 5) <= 0 || ::read(master, buffer, sizeof buffer) <= 0)
            continue;
        QByteArray reply;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (replies.isEmpty())
                continue;
            reply = replies.takeFirst();
        }
        for (qsizetype written = 0; written < reply.size();) {
            const ssize_t count =
                ::write(master, reply.constData() + written, size_t(reply.size() - written));
            if (count <= 0)
                break;
            written += count;
        }
    }
}
