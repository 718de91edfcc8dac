#pragma once
// Set-up of the workflow suites: a simulated adapter with an encoder of one
// catalogue model on a real pseudo-terminal, opened as the program's port
// with its supply on, a recording front-end, and fresh channel and protocol
// state (put back afterwards).

#include "Connect.h"
#include "Q714_SPI_Dravonel.h"
#include "RecordingFrontEnd.h"
#include "Serial_driver.h"
#include "SimFixture.h"

using Commands = QList<QByteArray>;

class WorkflowSim {
public:
    explicit WorkflowSim(const char* model = "t2-mt17") : fixture(model) {
        ResetSerialDriverState();
        ResetEncoderProtocolState();
        ready = fixture.OpenChannel();
        fixture.Adapter().SetSupplyOn(true);
    }
    ~WorkflowSim() {
        ResetSerialDriverState();
        ResetEncoderProtocolState();
    }

    bool Ready() const { return ready; }
    SimFixture& Fixture() { return fixture; }
    SimulatedAdapter& Adapter() { return fixture.Adapter(); }
    template <typename F> auto encoder(F&& f) { return fixture.Adapter().WithEncoder(f); }
    void Script(const QByteArray& command, const QByteArray& reply) {
        fixture.Adapter().OverrideReply(command, reply);
    }
    Commands Sent() { return fixture.Adapter().ReceivedCommands(); }
    // Forgets the commands, log lines and alerts so far.
    void Forget() {
        fixture.Adapter().ClearReceivedCommands();
        CommLogText.clear();
        front.Forget();
    }
    // Connects the encoder, then forgets the connect's traffic and log.
    ConnectResult Connect(const ConnectOptions& options = {}) {
        const ConnectResult connected = ConnectEncoder(options, front);
        Forget();
        return connected;
    }
    // The adapter stops answering (every exchange times out).
    void Silence() {
        FaultSettings silent;
        silent.silent = true;
        fixture.Server().SetFaults(silent);
    }

    RecordingFrontEnd front;

private:
    SimFixture fixture;
    bool ready = false;
};
