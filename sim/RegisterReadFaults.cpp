#include "RegisterReadFaults.h"

void RegisterReadFaults::FailAt(quint32 address, RegisterFault fault) {
    if (fault == RegisterFault::None)
        atAddress.remove(address);
    else
        atAddress.insert(address, fault);
}

void RegisterReadFaults::FailAfter(int goodReads, RegisterFault fault, int failures) {
    afterFault = fault;
    goodReadsBefore = qMax(0, goodReads);
    failingReads = qMax(0, failures);
    reads = 0;
}

void RegisterReadFaults::Clear() {
    atAddress.clear();
    FailAfter(0, RegisterFault::None);
}

RegisterFault RegisterReadFaults::Next(quint32 address) {
    const int index = reads++;
    if (atAddress.contains(address))
        return atAddress.value(address);
    const bool afterGoodReads = index >= goodReadsBefore;
    const bool withinFailures = failingReads == 0 || index < goodReadsBefore + failingReads;
    if (afterFault != RegisterFault::None && afterGoodReads && withinFailures)
        return afterFault;
    return RegisterFault::None;
}
