#pragma once
// Writing a command to the open port at once. Going around the port's
// buffered write keeps its write notifier off: every exchange would otherwise
// switch the notifier on and off and wake the event loop twice for nothing.

#include <QByteArray>

class QSerialPort;

// Writes every byte now, waiting at most timeoutMs for room in the device's
// buffer. False on failure, with errno set.
bool WritePortNow(QSerialPort& port, const QByteArray& bytes, int timeoutMs);

// True when bytes wait in the device's input queue, without reading them and
// without waiting: one cheap check before every command.
bool PortInputWaiting(QSerialPort& port);
