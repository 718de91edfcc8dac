#pragma once
// The serial channel to the adapter: one request-and-reply exchange at a time
// over the one open port, and the communication log of those exchanges.

#include <QByteArray>
#include <QString>

class QSerialPort;

// The open port of the adapter, or nullptr when none is open ("invalid").
extern QSerialPort* COMPortHandle;
// How long SerialTransaction waits for a complete reply, in milliseconds.
extern quint32 SerialTimeout;
// When set, exchanges and operation markers are appended to CommLogText.
extern bool CommLogEnabled;
// Log lines not yet moved to the log memo, each ending with CR LF.
extern QByteArray CommLogText;

// Result codes of SerialTransaction besides 0 (success) and minus an OS
// error number (the write failed).
constexpr qint32 SerialResultTimeout = -1;
constexpr qint32 SerialResultNoPort = -3;

// Writes the command and collects the reply. With expectedLength 0 the reply
// is complete once it holds a CR, otherwise once it holds at least
// expectedLength bytes. Bytes after the completing one stay in the reply,
// and bytes that arrive after a complete reply begin the next one. After a
// time-out, though, whatever arrives before the next command is written is
// a late reply: it is discarded (and logged as late), waiting until the line
// is quiet, so it never passes for the reply of a later command.
// Returns 0, SerialResultTimeout (reply holds what came), SerialResultNoPort
// (reply unchanged) or -errno of a failed write (reply unchanged).
qint32 SerialTransaction(QSerialPort* handle, const QByteArray& command, qint32 expectedLength,
                         QByteArray& reply);

// Forgets that the port's last exchange timed out; for a port that is about
// to be closed.
void ForgetLateReply(const QSerialPort* port);

// Appends an operation marker line to the communication log when it is on.
void CommLogMarker(const QByteArray& marker);

// Opens the port at a system location exclusively, or returns nullptr.
QSerialPort* OpenSerialPort(const QString& location);
// Closes COMPortHandle if it is open and sets it to invalid.
void CloseCOMPort();

// Puts every global of the channel back to its start value (closes the port).
void ResetSerialDriverState();
