#pragma once
// Set-up of the workflow suites: the encoder suites' simulated adapter and
// encoder (EncoderSim) with a recording front-end besides.

#include "Connect.h"
#include "EncoderSim.h"
#include "RecordingFrontEnd.h"

class WorkflowSim : public EncoderSim {
public:
    using EncoderSim::EncoderSim;

    template <typename F> auto encoder(F&& f) { return Adapter().WithEncoder(f); }
    // Forgets the commands, log lines and alerts so far.
    void Forget() {
        EncoderSim::Forget();
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
        Fixture().Server().SetFaults(silent);
    }

    RecordingFrontEnd front;
};
