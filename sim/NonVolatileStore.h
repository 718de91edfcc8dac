#pragma once
// The encoder's settings in non-volatile memory: the command "save" copies
// the setting registers into it, power-on copies them back (so unsaved
// changes are lost with the supply), and "factory reset" puts the factory
// settings into both.

#include "RegisterFile.h"
#include "RegisterMap.h"

#include <QHash>
#include <QList>

class NonVolatileStore {
public:
    explicit NonVolatileStore(const RegisterMapLayout& layout);

    void Save(const RegisterFile& registers);
    void Restore(RegisterFile& registers) const;
    void FactoryReset(RegisterFile& registers);

    // The stored value of a setting register; 0 for any other address.
    quint32 Stored(quint32 address) const { return stored.value(address); }
    // How often the settings were saved (factory reset included).
    int Saves() const { return saves; }
    // A worn cell: a save leaves the stored value of this address as it was.
    void Forget(quint32 address) { forgotten = address; }

private:
    struct Setting {
        quint32 address;
        quint32 factoryValue;
    };
    QList<Setting> settings;
    QHash<quint32, quint32> stored;
    int saves = 0;
    qint64 forgotten = -1;
};
