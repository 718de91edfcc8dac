#include "SerialPortMap.h"

#include "Orodja.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

QList<SerialPortEntry> usbSerialPorts() {
    QList<SerialPortEntry> entries;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.hasVendorIdentifier())
            entries.append({QStringLiteral("\\Device\\USBSER_") + info.portName(), info.portName(),
                            info.systemLocation()});
    }
    return entries;
}

// Each running simulator leaves a symbolic link to its terminal here. The
// folder counts only when it is the user's own and closed to others, and a
// link only when it leads to a terminal of the user's: in a shared /tmp
// another user could otherwise plant a port for the program to probe.
QList<SerialPortEntry> simulatedAdapters() {
    QList<SerialPortEntry> entries;
    const QString path = SimulatedAdapterFolder();
    if (!IsPrivateFolder(path))
        return entries;
    const QDir folder(path);
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files)) {
        if (link.isSymLink() && IsOwnCharacterDevice(link.absoluteFilePath()))
            entries.append(
                {QStringLiteral("\\Device\\USBSER_SIM"), link.fileName(), link.absoluteFilePath()});
    }
    return entries;
}

} // namespace

QList<SerialPortEntry> ReadSerialPortMap() {
    return usbSerialPorts() + simulatedAdapters();
}
