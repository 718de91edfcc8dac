#pragma once
// Finding the Q714-7R adapter among the USB serial ports: which ports to try,
// in which order, and the identity probe of one port.

#include "SerialPortMap.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

struct PortOpenProblem;

// The adapter's model string at the start of its identity reply.
inline constexpr char AdapterModelString[] = "Q714-7R";

struct AdapterCandidate {
    QString portName; // shown to the user
    QString location; // opened
};

// True when a sorts before b with runs of ASCII digits compared as numbers
// of any length ("ttyACM2" before "ttyACM10"); a strict weak ordering for
// any texts.
bool NaturalLess(const QString& a, const QString& b);

// The USB serial entries of the port map (entry name contains "USBSER"), in
// natural order of port name, duplicates ignored.
QList<AdapterCandidate> ListAdapterCandidates(const QList<SerialPortEntry>& portMap);

// Opens the port, sets 115200 baud 8N1 and asks "v": the reply is its whole
// line (up to its CR, within the time-out), judged by its first 7 bytes.
// When the reply begins with the model string the port stays open as
// COMPortHandle and true is returned; otherwise the port gets its previous
// settings back and is closed. `afterOpen` runs once right after the open;
// the port is not COMPortHandle before it has answered. A port that cannot
// be opened leaves the reason in `problem` when one is given.
bool ProbeAdapterPort(const QString& location, QByteArray& identity,
                      const std::function<void()>& afterOpen, PortOpenProblem* problem = nullptr);

// Firmware version from the raw identity reply: the digit at position 10
// times 100 plus the number at positions 12 and 13 (1-based; 0 where there is
// no number). "Q714-7R v1.09" gives 109.
qint32 AdapterFirmwareVersion(const QByteArray& rawIdentity);

// Asks the open adapter for its serial number ("r") and firmware revision
// ("o"). Failed exchanges are not detected: whatever arrived is used.
QByteArray ReadAdapterSerialNumber();
qint32 ReadAdapterRevision();
