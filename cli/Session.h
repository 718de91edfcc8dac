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
    ConnectResult encoder;
    bool connected = false;
};

// The identity of the adapter and of the connected encoder.
QJsonObject AdapterJson(const AdapterIdentity& adapter);
QJsonObject EncoderJson(const ConnectResult& encoder);
