#pragma once
// The adapter: finding it among the serial ports, the encoder supply, the
// SPI clock, the chip-select timing and the set-up commands.

#include "AdapterSearch.h"

#include <QByteArray>
#include <QList>
#include <functional>

class FrontEnd;

// An adapter that answered the identity probe.
struct AdapterIdentity {
    QString portName;           // as the user sees it
    QString location;           // as it is opened
    QByteArray identity;        // the identity reply as received
    qint32 firmwareVersion = 0; // major * 100 + minor, e.g. 112
    QByteArray serialNumber;
    qint32 revision = 0;

    // The identity reply as shown: printable characters only.
    QByteArray IdentityText() const;
};

struct AdapterSearchResult {
    QList<AdapterCandidate> candidates; // in the order probed
    int found = -1;                     // index into candidates, -1: none answered
    AdapterIdentity adapter;            // when found
};

// One search: closes any open port, probes the USB serial ports in natural
// order and keeps the first that answers as COMPortHandle, whose serial number
// and revision are then read. `afterEachOpen` runs once after each port has
// been opened (the window processes its events there).
AdapterSearchResult SearchForAdapter(const std::function<void()>& afterEachOpen = {});
// A candidate port that another process holds open, so it cannot be asked.
struct BusyPort {
    AdapterCandidate candidate;
    QString holder; // as the port's lock names it, e.g. "q714 (process 4711)"
};

// Every adapter present, each probed, read and closed again (COMPortHandle
// is closed first and stays closed); the candidates another process holds
// go to `busy` when it is given.
QList<AdapterIdentity> ScanAdapters(QList<BusyPort>* busy = nullptr);
// Opens the adapter at `location` as COMPortHandle; false when nothing there
// answers as the adapter, with the reason a port could not be opened in
// `problem` when it is given.
bool OpenAdapterAt(const QString& location, AdapterIdentity& adapter,
                   PortOpenProblem* problem = nullptr);

// Reads the serial number and revision of the open adapter into `adapter`.
void ReadAdapterDetails(AdapterIdentity& adapter);

enum class EncoderSupplyVoltage { V3_3, V5 };

struct SupplyResult {
    qint32 result = 0; // of the supply selection ("V5"/"V3") or of "f"
    QByteArray state;  // trimmed reply of "e"
    bool LinkBroken() const { return result < 0; }
};

// The power-on sequence: supply voltage, "n", a settle pause, "e". A wrong
// acknowledgement is alerted and the sequence goes on; a broken link stops it
// at once. Logs the "n" reply and the supply state.
SupplyResult PowerOnEncoder(EncoderSupplyVoltage voltage, FrontEnd& frontEnd);
// "f"; the reply is not examined.
SupplyResult PowerOffEncoder();
// "e": the supply state as trimmed text; the result goes to ErrComm.
SupplyResult ReadSupplyState();

// "M<setting>" then "m"; logs the clock, alerts an empty reply. True when the
// clock was set and read back.
bool SetSpiClock(int setting, FrontEnd& frontEnd);
// "D<microseconds>": problems are alerted, the reply logged. True when the
// adapter took it.
bool SetNcsSckDelay(int microseconds, FrontEnd& frontEnd);
// A set-up command of the connect workflow: problems and reply logged.
void SendSetupCommand(const QByteArray& command, FrontEnd& frontEnd);

// Adapter firmware from which "Dravonel LOMA and Brix" (non-inverted CRC) works.
bool AdapterSupportsLomaAndBrix(qint32 firmwareVersion);
inline const QString TooOldAdapterText =
    QStringLiteral("Too old interface version! Use Q714-7R v1.09 or newer!");
