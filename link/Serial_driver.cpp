#include "Serial_driver.h"

#include "PortWrite.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <cerrno>
#include <chrono>
#include <deque>

QSerialPort* COMPortHandle = nullptr;
quint32 SerialTimeout = 400;
quint32 SerialTimeoutRetries = 0;
bool CommLogEnabled = false;
QByteArray CommLogText;
std::function<void()> CommLogAppended;

namespace {

using Clock = std::chrono::steady_clock;

// A reply that comes after its time-out is looked for this long after the
// time-out; a line that comes later still is taken for what it seems.
Clock::duration lateReplyWindow() {
    return std::chrono::milliseconds(4 * qint64(SerialTimeout));
}
// More replies than this are never counted as owed: a port that needs more
// is reopened by the adapter search anyway.
constexpr std::size_t MostOwedReplies = 16;

// The replies `port` still owes for commands that timed out there: each is
// the next line (up to its CR) to arrive, as long as it comes within the
// late-reply window of its time-out. The adapter answers every command once
// and in order, so such a line can never be the reply of a later command.
struct OwedReplies {
    const QSerialPort* port = nullptr;
    std::deque<Clock::time_point> expiries; // oldest first

    // The number still owed on `on` now.
    std::size_t Count(const QSerialPort* on) {
        if (on != port)
            return 0;
        const Clock::time_point now = Clock::now();
        while (!expiries.empty() && expiries.front() < now)
            expiries.pop_front();
        return expiries.size();
    }
    void Settle() {
        if (!expiries.empty())
            expiries.pop_front();
    }
    void Add(const QSerialPort* on) {
        if (on != port) {
            port = on;
            expiries.clear();
        }
        if (expiries.size() < MostOwedReplies)
            expiries.push_back(Clock::now() + lateReplyWindow());
    }
    void Forget(const QSerialPort* on) {
        if (on == port) {
            port = nullptr;
            expiries.clear();
        }
    }
};
OwedReplies owed;

// When an exchange's reply is complete.
struct Completion {
    qint32 expectedLength; // > 0: that many bytes; 0: a CR
    // With a positive value, a reply that reaches the time-out with at least
    // this many bytes counts as complete (the identity probe's rule).
    qint32 enoughAtTimeout = 0;

    bool Complete(const QByteArray& reply) const {
        if (expectedLength > 0)
            return reply.size() >= expectedLength;
        return reply.contains('\r');
    }
    bool EnoughAtTimeout(const QByteArray& reply) const {
        return enoughAtTimeout > 0 && reply.size() >= enoughAtTimeout;
    }
};

// errno of the failed call, or EIO when the port layer did not leave one.
qint32 lastOsError() {
    return errno != 0 ? errno : EIO;
}

bool writeWhole(QSerialPort* port, const QByteArray& command) {
    errno = 0;
    return WritePortNow(*port, command, static_cast<int>(SerialTimeout));
}

// The lock file QSerialPort holds while `device` is open: "LCK.." and the
// device's name below /dev with "/" as "_", in the first of Qt's lock
// folders that has it.
QString portLockFile(const QString& device) {
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name = QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QString path = QDir(QLatin1String(folder)).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

// The process that holds `device`'s lock, as the lock names it; false when
// no lock holds it.
bool lockHolder(const QString& device, QString& holder) {
    const QString path = portLockFile(device);
    qint64 pid = 0;
    QString host, application;
    if (path.isEmpty() || !QLockFile(path).getLockInfo(&pid, &host, &application))
        return false;
    holder = application.isEmpty() ? QStringLiteral("process %1").arg(pid)
                                   : QStringLiteral("%1 (process %2)").arg(application).arg(pid);
    return true;
}

void appendLogLine(const QByteArray& line) {
    CommLogText += line + "\r\n";
    if (CommLogAppended)
        CommLogAppended();
}

void logLate(const QByteArray& late) {
    if (CommLogEnabled && !late.isEmpty())
        appendLogLine("RX (late, discarded):" + late);
}

// Whatever has arrived and is waiting now, without waiting for more.
QByteArray takeWaitingBytes(QSerialPort* port) {
    QByteArray bytes = port->readAll();
    if (!PortInputWaiting(*port))
        return bytes;
    while (port->waitForReadyRead(0))
        bytes += port->readAll();
    return bytes + port->readAll();
}

// Bytes waiting before a command is written cannot be its reply: they are
// dropped. Each line among them settles one owed reply.
void dropWaitingBytes(QSerialPort* port) {
    const QByteArray late = takeWaitingBytes(port);
    if (late.isEmpty())
        return;
    for (qsizetype lines = late.count('\r'); lines > 0 && owed.Count(port) > 0; --lines)
        owed.Settle();
    logLate(late);
}

// While the port owes replies, each line at the front of `reply` is one of
// them: it is cut off and logged. True when one was cut.
bool cutOwedLines(QSerialPort* port, QByteArray& reply) {
    bool cut = false;
    qsizetype end = 0;
    while (owed.Count(port) > 0 && (end = reply.indexOf('\r')) >= 0) {
        logLate(reply.left(end + 1));
        reply.remove(0, end + 1);
        owed.Settle();
        cut = true;
    }
    return cut;
}

struct Collected {
    qint32 result;
    bool settledOwedReply;
};

// Waits on the port (no busy polling) until the reply is complete or the
// time-out has passed.
Collected collectReply(QSerialPort* port, const Completion& completion, QByteArray& reply) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(SerialTimeout);
    bool settled = false;
    for (;;) {
        if (port->bytesAvailable() > 0) {
            reply += port->readAll();
            settled = cutOwedLines(port, reply) || settled;
        }
        if (completion.Complete(reply))
            return {0, settled};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return {completion.EnoughAtTimeout(reply) ? 0 : SerialResultTimeout, settled};
        if (!port->waitForReadyRead(static_cast<int>(left) + 1)) {
            const auto error = port->error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                // The device went away: nothing more can arrive.
                port->clearError();
                reply += port->readAll();
                settled = cutOwedLines(port, reply) || settled;
                const bool done = completion.Complete(reply) || completion.EnoughAtTimeout(reply);
                return {done ? 0 : SerialResultTimeout, settled};
            }
        }
    }
}

qint32 transact(QSerialPort* handle, const QByteArray& command, const Completion& completion,
                QByteArray& reply) {
    if (!handle || !handle->isOpen())
        return SerialResultNoPort;
    dropWaitingBytes(handle);
    if (!writeWhole(handle, command)) {
        const qint32 code = -lastOsError();
        handle->clearError();
        return code;
    }
    if (CommLogEnabled)
        appendLogLine("TX:" + command);
    reply.clear();
    const Collected collected = collectReply(handle, completion, reply);
    // A reply that has not ended is owed: its line (or the rest of it) may
    // still come. An exchange that took an owed line and then timed out
    // adds none, so a reply the adapter never sent costs one more exchange,
    // not every later one.
    if (!completion.Complete(reply) && !collected.settledOwedReply &&
        (collected.result == SerialResultTimeout || completion.EnoughAtTimeout(reply)))
        owed.Add(handle);
    if (CommLogEnabled)
        appendLogLine("RX:" + reply);
    return collected.result;
}

} // namespace

qint32 SerialTransaction(QSerialPort* handle, const QByteArray& command, qint32 expectedLength,
                         QByteArray& reply) {
    qint32 result = transact(handle, command, {expectedLength}, reply);
    for (quint32 retry = 0; result == SerialResultTimeout && retry < SerialTimeoutRetries; ++retry)
        result = transact(handle, command, {expectedLength}, reply);
    return result;
}

qint32 SerialLineTransaction(QSerialPort* handle, const QByteArray& command, qint32 enoughAtTimeout,
                             QByteArray& reply) {
    return transact(handle, command, {0, enoughAtTimeout}, reply);
}

void ForgetLateReply(const QSerialPort* port) {
    owed.Forget(port);
}

void CommLogMarker(const QByteArray& marker) {
    if (CommLogEnabled)
        appendLogLine(marker);
}

void CommLogMarker(const char* marker) {
    if (CommLogEnabled)
        appendLogLine(marker);
}

QSerialPort* OpenSerialPort(const QString& location, PortOpenProblem* problem) {
    // Open the device itself, not a link to it: the lock that keeps two
    // programs off one port is named after the device.
    const QString canonical = QFileInfo(location).canonicalFilePath();
    const QString device = canonical.isEmpty() ? location : canonical;
    auto* port = new QSerialPort(device);
    if (!port->open(QIODevice::ReadWrite)) {
        // QSerialPort refuses a port whose lock another process holds with
        // a permission error; the lock then says who holds it.
        if (problem) {
            problem->text = port->errorString();
            problem->busy = port->error() == QSerialPort::PermissionError &&
                            lockHolder(device, problem->holder);
        }
        delete port;
        return nullptr;
    }
    // A freshly opened port starts empty: what was queued before it was
    // opened answers commands of an earlier owner.
    port->clear(QSerialPort::Input);
    ForgetLateReply(port);
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
    owed = OwedReplies();
    SerialTimeout = 400;
    SerialTimeoutRetries = 0;
    CommLogEnabled = false;
    CommLogText.clear();
    CommLogAppended = nullptr;
}
