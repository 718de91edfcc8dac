#pragma once
// A fault of the encoder's position memory: every n-th time the supply comes
// on, the encoder reports its position moved by a fixed jump (and keeps the
// jump from then on), as a lost or gained count after a brown-out would. The
// power-cycling test of the tool is there to find these.

#include <QtGlobal>

class PowerOnJump {
public:
    // every: 0 switches the fault off; counts: size and direction of a jump.
    void Set(int every, qint64 counts);
    // Called at each power-on: the jump to apply now, 0 on most power-ons.
    qint64 OnPowerOn();
    int Injected() const { return injected; }

private:
    int every = 0;
    qint64 counts = 0;
    int powerOns = 0;
    int injected = 0;
};
