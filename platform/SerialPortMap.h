#pragma once
// The system's list of serial ports, as pairs of entry name and port name.

#include <QList>
#include <QString>

struct SerialPortEntry {
    QString entryName; // contains "USBSER" for USB serial devices
    QString portName;  // what the user sees, e.g. "ttyACM0" or "q714-sim-1"
    QString location;  // what to open, e.g. "/dev/ttyACM0"
};

// USB serial ports (those with a USB vendor id) and the simulated adapters
// announced in SimulatedAdapterFolder(), unsorted.
QList<SerialPortEntry> ReadSerialPortMap();
