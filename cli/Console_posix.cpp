// The one file of the command line with POSIX calls: signals and terminals.
#include "Console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "counted in a signal handler");

// Stops counted by where they came from: a stop the parent process passes
// on (the parent q714 of several devices, or `timeout`) and the others (the
// terminal's Ctrl+C to the process group, kill, ...). The count is the
// larger of the two, so that Ctrl+C reaching a child both from its process
// group and from its parent counts once.
std::atomic<int> stopsFromParent{0};
std::atomic<int> otherStops{0};

// None ends the program on the spot: a second Ctrl+C, `timeout -s INT`
// sending its signal twice, a stop that reaches a child of several devices
// both from its process group and from its parent must not cost the result
// or the record.
void onStop(int, siginfo_t* info, void*) {
    if (info && info->si_code == SI_USER && info->si_pid == ::getppid())
        stopsFromParent.fetch_add(1);
    else
        otherStops.fetch_add(1);
}

// The first stop, unless one came already: standard output closed by its
// reader (SIGPIPE, `q714 run ... | head`) fails every later write too, and
// those are one stop, not many.
void firstStop() {
    int none = 0;
    otherStops.compare_exchange_strong(none, 1);
}

void onClosedOutput(int) {
    firstStop();
}

sigset_t interruptSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    return stops;
}

// The longest a wait for typed input blocks before it looks at Ctrl+C
// again: a signal may reach another thread and leave poll() waiting.
constexpr int InputWaitSliceMs = 100;

int pollMilliseconds(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline)
        return InputWaitSliceMs;
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(*deadline - steady_clock::now()).count();
    return int(qBound(qint64(0), qint64(left) + 1, qint64(InputWaitSliceMs)));
}

bool past(std::optional<std::chrono::steady_clock::time_point> deadline) {
    return deadline && std::chrono::steady_clock::now() >= *deadline;
}

} // namespace

void CatchInterrupts() {
    struct sigaction action = {};
    action.sa_sigaction = onStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO; // no SA_RESTART: a blocking wait returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction closed = {};
    closed.sa_handler = onClosedOutput;
    sigemptyset(&closed.sa_mask);
    sigaction(SIGPIPE, &closed, nullptr);
    const sigset_t held = interruptSignals(); // a stop held back since the start arrives now
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
}

void HoldInterruptsUntilCaught() {
    const sigset_t held = interruptSignals();
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

int StopCount() {
    return qMax(stopsFromParent.load(), otherStops.load());
}

void EndProcessNow(int status) {
    std::fflush(nullptr);
    ::_exit(status);
}

bool Interrupted() {
    return StopCount() > 0;
}

void RequestInterrupt() {
    firstStop();
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

void DiscardTypedInput() {
    ::tcflush(STDIN_FILENO, TCIFLUSH);
}

TypedLine ReadTypedLine(QByteArray& line,
                        std::optional<std::chrono::steady_clock::time_point> deadline) {
    line.clear();
    for (;;) {
        if (Interrupted() || past(deadline))
            return TypedLine::Stopped;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, pollMilliseconds(deadline));
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        if (ready < 0)
            return TypedLine::EndOfInput;
        char bytes[256];
        const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) // Ctrl+D on an empty line, or the terminal hung up (EIO)
            return TypedLine::EndOfInput;
        line.append(bytes, got);
        if (line.endsWith('\n')) {
            line.chop(1);
            return TypedLine::Line;
        }
    }
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
