#pragma once
// The serial channel to the adapter: one request-and-reply exchange at a time
// over the one open port, and the communication log of those exchanges.

#include <QByteArray>
#include <QString>
#include <functional>

class QSerialPort;

// The open port of the adapter, or nullptr when none is open ("invalid").
extern QSerialPort* COMPortHandle;
// How long SerialTransaction waits for a complete reply, in milliseconds.
extern quint32 SerialTimeout;
// When set, exchanges and operation markers are appended to CommLogText.
extern bool CommLogEnabled;
// Log lines not yet moved to the log memo, each ending with CR LF.
extern QByteArray CommLogText;
// How often SerialTransaction sends a command again after it timed out (0:
// never). The adapter answers every command, so a reply missing at the
// time-out is late, not lost: the owed-reply rule below drops it when it
// comes, and the command's second answer is its reply. q714 sets 1, so a
// late reply costs one exchange instead of the command; the window keeps 0.
// The identity probe (SerialLineTransaction) never repeats.
extern quint32 SerialTimeoutRetries;
// Called after every line added to CommLogText, when set: a front-end that
// shows the log as it happens (the command line) takes the lines there.
extern std::function<void()> CommLogAppended;

// Result codes of SerialTransaction besides 0 (success) and minus an OS
// error number (the write failed).
constexpr qint32 SerialResultTimeout = -1;
constexpr qint32 SerialResultNoPort = -3;

// Writes the command and collects the reply. With expectedLength 0 the reply
// is complete once it holds a CR, otherwise once it holds at least
// expectedLength bytes. Bytes after the completing one stay in the reply.
//
// In this strict request-and-reply protocol, bytes that are waiting before a
// command is written can never be its reply: they are dropped (and logged
// as late). A reply that did not come within the time-out is owed: the next
// line to arrive (within four time-outs of it) is taken for it and dropped
// in the same way, so a late reply never passes for the reply of a later
// command, and no exchange waits for one.
// Returns 0, SerialResultTimeout (reply holds what came), SerialResultNoPort
// (reply unchanged) or -errno of a failed write (reply unchanged).
qint32 SerialTransaction(QSerialPort* handle, const QByteArray& command, qint32 expectedLength,
                         QByteArray& reply);

// The same exchange for a reply that is one line: complete at its CR, so a
// line that comes in pieces is taken whole. A reply that holds at least
// enoughAtTimeout bytes when the time-out has passed counts as complete
// (result 0), so a device that ends its line late or never is still judged
// by what came. The adapter search's identity probe uses it.
qint32 SerialLineTransaction(QSerialPort* handle, const QByteArray& command, qint32 enoughAtTimeout,
                             QByteArray& reply);

// Forgets the replies the port still owes; for a port that is about to be
// closed.
void ForgetLateReply(const QSerialPort* port);

// Appends an operation marker line to the communication log when it is on.
void CommLogMarker(const QByteArray& marker);
// The same for a literal: nothing is built while the log is off.
void CommLogMarker(const char* marker);

// Why a port could not be opened.
struct PortOpenProblem {
    bool busy = false; // another process holds the port's lock
    QString holder;    // that process as its lock names it, e.g. "q714 (process 4711)"
    QString text;      // the port layer's words
};

// Opens the port at a system location exclusively, its input queue emptied,
// or returns nullptr, with the reason in `problem` when one is given.
QSerialPort* OpenSerialPort(const QString& location, PortOpenProblem* problem = nullptr);
// Closes COMPortHandle if it is open and sets it to invalid.
void CloseCOMPort();

// Puts every global of the channel back to its start value (closes the port).
void ResetSerialDriverState();
