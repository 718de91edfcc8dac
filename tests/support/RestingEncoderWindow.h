#pragma once
// A developer-mode window (every tab and test control shown) connected to a
// simulated encoder whose shaft rests at a known position without noise;
// readings run back to back, the memo and the command list start empty.

#include "SimulatedWindow.h"

#include <QSpinBox>

struct RestingEncoderWindow : SimulatedWindow {
    explicit RestingEncoderWindow(const char* model = "t2-mt17",
                                  const std::function<void(SimulatedAdapter&)>& prepare = {})
        : SimulatedWindow(model, prepare, QStringLiteral("talve")) {
        encoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(0, 1000);
        });
        PowerAndConnect();
        form.seDelayBetweenReadings->setValue(0);
        form.Memo1->clear();
        sim.Adapter().ClearReceivedCommands();
    }

    QList<QByteArray> Sent() { return sim.Adapter().ReceivedCommands(); }
    void Script(const QByteArray& command, const QByteArray& reply) {
        sim.Adapter().OverrideReply(command, reply);
    }
    // The adapter stops answering (every exchange times out).
    void Silence() {
        FaultSettings silent;
        silent.silent = true;
        sim.Server().SetFaults(silent);
    }
};
