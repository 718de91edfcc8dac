#pragma once
// The encoder's registers: each address holds one register of a fixed size.
// Reads and writes are checked the way the encoder's register protocol does.

#include <QHash>
#include <QtGlobal>

enum class RegisterAccess { ReadOnly, ReadWrite, WriteOnly };

struct RegisterCell {
    int size = 1;
    quint32 value = 0;
    RegisterAccess access = RegisterAccess::ReadOnly;
    quint32 maxValue = 0xFFFFFFFF;    // largest value a write accepts
    bool acceptsShorterReads = false; // a shorter read returns the leading bytes
    bool valueInFirstByte = false;    // a 1-byte value travels in the first data byte
};

// Outcome of one register access, as the register protocol reports it.
enum class RegisterOutcome {
    Ok,
    InvalidAddress, // 0x26
    OutOfRange,     // 0x56
    AccessDenied,   // 0x96
    WrongSize,      // 0xEE
    WriteLocked,    // 0xF6
    WriteCrc,       // 0xF9
    ReadCrc,        // 0xE6
    NoResponse      // the encoder did not answer
};

class RegisterFile {
public:
    void Define(quint32 address, const RegisterCell& cell) { cells.insert(address, cell); }
    void Remove(quint32 address) { cells.remove(address); }
    bool Has(quint32 address) const { return cells.contains(address); }
    quint32 Value(quint32 address) const { return cells.value(address).value; }
    // Stores a value without any check (the encoder's own updates).
    void Set(quint32 address, quint32 value);

    // On Ok, data holds the four data bytes as the reply carries them.
    RegisterOutcome Read(quint32 address, int size, quint32& data) const;
    RegisterOutcome Write(quint32 address, int size, quint32 value);

private:
    QHash<quint32, RegisterCell> cells;
};
