#pragma once
// Set-up shared by the encoder-protocol and workflow suites: a simulated
// adapter with a powered encoder of one catalogue model, served on a real
// pseudo-terminal and opened as the program's port; channel and protocol
// state start fresh and are put back afterwards.
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimFixture.h"

#include <QTest>

using Commands = QList<QByteArray>;

class EncoderSim {
public:
    explicit EncoderSim(const char* model = "t2-mt17") : fixture(model) {
        ResetSerialDriverState();
        ResetEncoderProtocolState();
        ready = fixture.OpenChannel();
        fixture.Adapter().SetSupplyOn(true);
    }
    ~EncoderSim() {
        ResetSerialDriverState();
        ResetEncoderProtocolState();
    }

    bool Ready() const { return ready; }
    SimFixture& Fixture() { return fixture; }
    SimulatedAdapter& Adapter() { return fixture.Adapter(); }
    void Script(const QByteArray& command, const QByteArray& reply) {
        fixture.Adapter().OverrideReply(command, reply);
    }
    Commands Sent() { return fixture.Adapter().ReceivedCommands(); }
    // Forgets the commands and log lines so far.
    void Forget() {
        fixture.Adapter().ClearReceivedCommands();
        CommLogText.clear();
    }
    // Identifies the encoder, then forgets the identification's traffic.
    bool Identify() {
        const bool identified = Dravonel_ReadEncoderSignature();
        Forget();
        return identified;
    }

private:
    SimFixture fixture;
    bool ready = false;
};
