#include "SimFixture.h"

#include "Serial_driver.h"

#include <QSerialPort>

SimFixture::SimFixture(const QString& modelName, const AdapterSettings& settings)
    : savedRuntimeDir(qgetenv("XDG_RUNTIME_DIR")),
      hadRuntimeDir(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")), adapter(settings),
      server(adapter) {
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    if (!modelName.isEmpty() && !adapter.SelectModel(modelName))
        qWarning("SimFixture: unknown encoder model %s", qPrintable(modelName));
    serving = server.Open() && server.Start();
    if (!serving)
        qWarning("SimFixture: %s", qPrintable(server.ErrorText()));
}

SimFixture::~SimFixture() {
    CloseChannel();
    announcement.Withdraw();
    server.Stop();
    if (hadRuntimeDir)
        qputenv("XDG_RUNTIME_DIR", savedRuntimeDir);
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

bool SimFixture::OpenChannel() {
    CloseChannel();
    COMPortHandle = OpenSerialPort(DevicePath());
    if (!COMPortHandle)
        return false;
    const bool configured = COMPortHandle->setBaudRate(QSerialPort::Baud115200) &&
                            COMPortHandle->setDataBits(QSerialPort::Data8) &&
                            COMPortHandle->setParity(QSerialPort::NoParity) &&
                            COMPortHandle->setStopBits(QSerialPort::OneStop) &&
                            COMPortHandle->setFlowControl(QSerialPort::NoFlowControl);
    if (!configured)
        CloseCOMPort();
    return configured;
}

void SimFixture::CloseChannel() {
    CloseCOMPort();
}

bool SimFixture::Announce(const QString& name) {
    return announcement.Announce(DevicePath(), name);
}
