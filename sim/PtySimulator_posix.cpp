// Serves the adapter model on a POSIX pseudo-terminal. The program opens the
// terminal's slave side like a serial port; a thread serves the master side.
#include "PtySimulator.h"

#include "SimulatedAdapter.h"

#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long the serving thread waits in one poll: bounds the time Stop() takes.
constexpr int PollIntervalMs = 20;
// An incomplete command that gets no more bytes for this long is answered
// with an error and dropped, so the stream cannot stay out of step.
constexpr auto StaleCommandAge = std::chrono::milliseconds(250);
// A reply that the program does not take within this time is dropped.
constexpr auto WriteGiveUp = std::chrono::seconds(2);

QString systemError(const char* call) {
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(strerror(errno)));
}

void closeDescriptor(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Random bytes of the reply's length; a final CR stays, so the program takes
// the garbage as a complete (wrong) reply.
QByteArray garble(const QByteArray& reply) {
    QByteArray bytes(reply.size(), '\0');
    for (char& byte : bytes) {
        do
            byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
        while (byte == '\r');
    }
    if (reply.endsWith('\r'))
        bytes.back() = '\r';
    return bytes;
}

QList<QByteArray> splitInto(const QByteArray& reply, int parts) {
    parts = qBound(1, parts, qMax<int>(1, reply.size()));
    QList<QByteArray> pieces;
    const qsizetype step = (reply.size() + parts - 1) / parts;
    for (qsizetype at = 0; at < reply.size(); at += step)
        pieces.append(reply.mid(at, step));
    return pieces;
}

} // namespace

struct PtySimulator::Impl {
    explicit Impl(SimulatedAdapter& adapter) : adapter(adapter) {}

    bool open();
    void closeTerminal();
    void serve();
    void takeInput();
    void answerCommands();
    void answer(const QByteArray& command);
    bool writeAll(const QByteArray& bytes, bool whileServing);
    void pause(int milliseconds) const;
    void pauseFor(Clock::duration duration) const;
    FaultSettings currentFaults() const;

    SimulatedAdapter& adapter;
    mutable std::mutex stateMutex; // faults, path and error text
    std::mutex terminalMutex;      // descriptors and writes to the master
    int master = -1;
    int slave = -1; // kept open so the master never sees the port hang up
    QString devicePath;
    QString errorText;
    FaultSettings faults;
    std::thread server;
    std::atomic<bool> running{false};
    QByteArray pending; // bytes of a command not yet complete
    int repliesSinceFaults = 0;
    Clock::time_point lastInput = Clock::now();
};

bool PtySimulator::Impl::open() {
    std::lock_guard<std::mutex> lock(terminalMutex);
    if (master >= 0)
        return true;
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        errorText = systemError("pseudo-terminal");
        closeDescriptor(master);
        return false;
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave < 0 || tcgetattr(slave, &settings) != 0) {
        errorText = systemError(name);
        closeDescriptor(slave);
        closeDescriptor(master);
        return false;
    }
    // Raw bytes both ways: no echo, no CR/LF translation, no line editing.
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    tcsetattr(slave, TCSANOW, &settings);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::lock_guard<std::mutex> stateLock(stateMutex);
    devicePath = QString::fromLocal8Bit(name);
    errorText.clear();
    return true;
}

void PtySimulator::Impl::closeTerminal() {
    std::lock_guard<std::mutex> lock(terminalMutex);
    closeDescriptor(slave);
    closeDescriptor(master);
    pending.clear();
}

void PtySimulator::Impl::serve() {
    // The pauses that stand for bytes on the wire (--baud) are a few
    // hundred microseconds: the default 50 us of timer slack would add a
    // good part to each.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    while (running) {
        pollfd watch{master, POLLIN, 0};
        const int ready = poll(&watch, 1, PollIntervalMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (watch.revents & POLLIN))
            takeInput();
        else if (ready > 0)
            pause(PollIntervalMs); // hang-up or error: do not spin
        answerCommands();
    }
}

void PtySimulator::Impl::takeInput() {
    char buffer[4096];
    const ssize_t count = ::read(master, buffer, sizeof buffer);
    if (count <= 0)
        return;
    pending.append(buffer, count);
    lastInput = Clock::now();
}

void PtySimulator::Impl::answerCommands() {
    while (running && !pending.isEmpty()) {
        qsizetype length = SimulatedAdapter::CommandLength(pending);
        if (length == 0) {
            if (Clock::now() - lastInput < StaleCommandAge)
                return;
            length = pending.size(); // answered as a broken command
        }
        const QByteArray command = pending.left(length);
        pending.remove(0, length);
        answer(command);
    }
}

void PtySimulator::Impl::answer(const QByteArray& command) {
    QByteArray reply = adapter.Reply(command);
    const FaultSettings f = currentFaults();
    if (f.silent || reply.isEmpty())
        return;
    if (f.baudRate > 0) // the wire's time runs from the command's arrival
        pauseFor(lastInput - Clock::now() +
                 std::chrono::microseconds(qint64(command.size() + reply.size()) * 10 * 1000000 /
                                           f.baudRate));
    pause(f.replyDelayMs);
    if (f.lateReplyEvery > 0 && ++repliesSinceFaults % f.lateReplyEvery == 0)
        pause(f.lateReplyMs);
    if (f.garbage)
        reply = garble(reply);
    if (f.partialBytes >= 0)
        reply = reply.left(f.partialBytes);
    const QList<QByteArray> pieces = splitInto(reply, f.splitParts);
    for (qsizetype i = 0; i < pieces.size() && running; ++i) {
        if (i > 0)
            pause(f.splitGapMs);
        std::lock_guard<std::mutex> lock(terminalMutex);
        writeAll(pieces[i], true);
    }
}

// Writes on the non-blocking master; waits while the terminal's buffer is
// full, but not forever. Call with terminalMutex held.
bool PtySimulator::Impl::writeAll(const QByteArray& bytes, bool whileServing) {
    const Clock::time_point giveUp = Clock::now() + WriteGiveUp;
    qsizetype written = 0;
    while (written < bytes.size() && master >= 0) {
        const ssize_t count = ::write(master, bytes.constData() + written,
                                      static_cast<size_t>(bytes.size() - written));
        if (count > 0) {
            written += count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() > giveUp || (whileServing && !running))
            return false;
        pollfd watch{master, POLLOUT, 0};
        poll(&watch, 1, PollIntervalMs);
    }
    return written == bytes.size();
}

void PtySimulator::Impl::pause(int milliseconds) const {
    pauseFor(std::chrono::milliseconds(milliseconds));
}

// Sleeps in short steps so that Stop() stays prompt. A sleep ends some
// tens of microseconds late, which would add a tenth to a byte time at
// 115200 baud: the last stretch is waited out awake.
void PtySimulator::Impl::pauseFor(Clock::duration duration) const {
    constexpr auto awake = std::chrono::microseconds(80);
    const Clock::time_point end = Clock::now() + duration;
    while (running && Clock::now() < end - awake)
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(5), end - awake - Clock::now()));
    while (running && Clock::now() < end)
        std::this_thread::yield();
}

FaultSettings PtySimulator::Impl::currentFaults() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return faults;
}

// ---- PtySimulator ----

PtySimulator::PtySimulator(SimulatedAdapter& adapter) : d(new Impl(adapter)) {}

PtySimulator::~PtySimulator() {
    Stop();
    d->closeTerminal();
    delete d;
}

bool PtySimulator::Open() {
    return d->open();
}

QString PtySimulator::DevicePath() const {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->devicePath;
}

QString PtySimulator::ErrorText() const {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->errorText;
}

bool PtySimulator::Start() {
    if (d->running)
        return true;
    {
        std::lock_guard<std::mutex> lock(d->terminalMutex);
        if (d->master < 0) {
            std::lock_guard<std::mutex> stateLock(d->stateMutex);
            d->errorText = QStringLiteral("the pseudo-terminal is not open");
            return false;
        }
    }
    d->running = true;
    d->server = std::thread([this] { d->serve(); });
    return true;
}

void PtySimulator::Stop() {
    d->running = false;
    if (d->server.joinable())
        d->server.join();
}

void PtySimulator::Unplug() {
    Stop();
    d->closeTerminal();
}

void PtySimulator::SetFaults(const FaultSettings& faults) {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    d->faults = faults;
    d->repliesSinceFaults = 0;
}

FaultSettings PtySimulator::Faults() const {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return d->faults;
}

void PtySimulator::SendRaw(const QByteArray& bytes) {
    std::lock_guard<std::mutex> lock(d->terminalMutex);
    d->writeAll(bytes, false);
}
