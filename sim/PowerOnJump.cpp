#include "PowerOnJump.h"

void PowerOnJump::Set(int everyNth, qint64 jumpCounts) {
    every = everyNth < 0 ? 0 : everyNth;
    counts = jumpCounts;
    powerOns = 0;
}

qint64 PowerOnJump::OnPowerOn() {
    if (every == 0 || counts == 0 || ++powerOns < every)
        return 0;
    powerOns = 0;
    ++injected;
    return counts;
}
