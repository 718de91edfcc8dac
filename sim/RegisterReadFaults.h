#pragma once
// Faults of the encoder's register protocol, for tests and for reproducing
// field problems: a fault that answers every access at one address, and
// read faults that strike at one address or after a number of good reads.

#include <QHash>
#include <QtGlobal>

// A fault that replaces the encoder's answer to a register access.
enum class RegisterFault {
    None,
    InvalidAddress, // "0x26:"
    OutOfRange,     // "0x56:"
    AccessDenied,   // "0x96:"
    WrongSize,      // "0xee:"
    WriteLocked,    // "0xf6:" to writes only
    WriteCrc,       // "0xf9:" to writes only
    ReadCrc,        // "0xe6:" to reads only
    NoResponse      // "ERROR: no response from encoder after 3 retries"
};

class RegisterReadFaults {
public:
    // Every read at `address` fails with `fault` (None removes it).
    void FailAt(quint32 address, RegisterFault fault);
    // After `goodReads` reads that go ahead, `failures` reads fail with
    // `fault` (0: every later read), then reads go ahead again.
    void FailAfter(int goodReads, RegisterFault fault, int failures = 1);
    void Clear();

    // The fault for the next read at `address` (None: the read goes ahead);
    // counts the read.
    RegisterFault Next(quint32 address);
    // Reads counted since the last FailAfter or Clear.
    int ReadsCounted() const { return reads; }

private:
    QHash<quint32, RegisterFault> atAddress;
    RegisterFault afterFault = RegisterFault::None;
    int goodReadsBefore = 0;
    int failingReads = 0; // 0: all later reads
    int reads = 0;
};
