// The one file of the command line with POSIX calls: signals and terminals.
#include "Console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};

void onSignal(int signal) {
    if (interrupted.exchange(true))
        ::_exit(128 + signal); // asked twice: stop now
}

// Standard output closed by its reader (`q714 run ... | head`): the command
// stops at its next step as if interrupted, so a test run still keeps its
// record, instead of dying on the next write. Never counts as a second stop.
void onBrokenPipe(int) {
    interrupted.store(true);
}

} // namespace

void CatchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking wait returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onBrokenPipe;
    sigaction(SIGPIPE, &action, nullptr);
}

bool Interrupted() {
    return interrupted.load();
}

void RequestInterrupt() {
    interrupted.store(true);
}

int WriteAllToStandardOutput(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        data += written;
        size -= written;
    }
    return 0;
}

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}
