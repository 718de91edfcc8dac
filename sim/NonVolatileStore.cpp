#include "NonVolatileStore.h"

NonVolatileStore::NonVolatileStore(const RegisterMapLayout& layout)
    : settings{{layout.posOffset, 0},       {layout.filterPosVal, 4}, {layout.mtPreset, 0},
               {layout.mtErrThreshold, 30}, {layout.calAngle, 360},   {layout.calTimeout, 10}} {}

// Registers the model lacks are skipped.
void NonVolatileStore::Save(const RegisterFile& registers) {
    for (const Setting& setting : settings)
        if (registers.Has(setting.address) && setting.address != forgotten)
            stored.insert(setting.address, registers.Value(setting.address));
    ++saves;
}

void NonVolatileStore::Restore(RegisterFile& registers) const {
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        registers.Set(it.key(), it.value());
}

void NonVolatileStore::FactoryReset(RegisterFile& registers) {
    for (const Setting& setting : settings)
        registers.Set(setting.address, setting.factoryValue);
    Save(registers);
}
