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

// Each running simulator leaves a symbolic link to its terminal here.
QList<SerialPortEntry> simulatedAdapters() {
    QList<SerialPortEntry> entries;
    const QDir folder(SimulatedAdapterFolder());
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files)) {
        if (link.isSymLink() && QFileInfo::exists(link.symLinkTarget()))
            entries.append(
                {QStringLiteral("\\Device\\USBSER_SIM"), link.fileName(), link.absoluteFilePath()});
    }
    return entries;
}

} // namespace

QList<SerialPortEntry> ReadSerialPortMap() {
    return usbSerialPorts() + simulatedAdapters();
}
