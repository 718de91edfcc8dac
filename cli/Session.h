#pragma once
// The adapter and encoder one command runs on: choosing the port safely,
// opening the adapter, --expect-serial, and connecting the encoder (switched
// on first when it does not answer).

#include "AdapterWorkflows.h"
#include "CommandLine.h"
#include "Connect.h"
#include "Failure.h"

#include <QJsonObject>

class ConsoleFrontEnd;

// Turns every --port into the location it names: a path as given, the name
// the adapter search shows for a port, or an adapter's serial number (found
// by asking every adapter; exit 3 for a serial no adapter has). A port
// named more than once (also as a link and the device it leads to, or as a
// path and a serial) is kept once. 0, or the exit status after a message.
int ResolvePorts(QStringList& ports);

class Session {
public:
    Session(const CliRequest& request, ConsoleFrontEnd& front);

    // Finds the port (the one --port names, or the one adapter present),
    // opens the adapter and checks --expect-serial against it where the
    // command does not connect the encoder. 0 or an exit status.
    int OpenAdapter();
    // Connects the encoder, switching it on first when it does not answer,
    // and checks --expect-serial. 0 or an exit status.
    int ConnectEncoder();

    // The SPI settings every connect of this session sends: --clock and
    // --ncs-delay (5 and 15 us unless given), then what a test plan's spi
    // step set, so that a reconnect keeps them.
    void RememberSpiClock(int setting) { connectOptions.spiClockSetting = setting; }
    void RememberNcsSckDelay(int microseconds) { connectOptions.ncsSckDelayUs = microseconds; }

    const AdapterIdentity& Adapter() const { return adapter; }
    const ConnectResult& Encoder() const { return encoder; }
    bool Connected() const { return connected; }
    EncoderSupplyVoltage Voltage() const;

    // "port", "adapter" (serial, identity, firmware, revision) and, once
    // connected, "encoder" (identity, firmware, registers present,
    // installation coefficients).
    QJsonObject DeviceFields() const;

private:
    int choosePort(QString& location);
    bool serialExpected(const QByteArray& serial) const;

    const CliRequest& request;
    ConsoleFrontEnd& front;
    AdapterIdentity adapter;
    ConnectOptions connectOptions;
    ConnectResult encoder;
    bool connected = false;
};

// The identity of the adapter and of the connected encoder.
QJsonObject AdapterJson(const AdapterIdentity& adapter);
QJsonObject EncoderJson(const ConnectResult& encoder);
