#include "RegisterFile.h"

namespace {

quint32 sizeMask(int size) {
    return size >= 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
}

} // namespace

void RegisterFile::Set(quint32 address, quint32 value) {
    auto cell = cells.find(address);
    if (cell != cells.end())
        cell->value = value & sizeMask(cell->size);
}

RegisterOutcome RegisterFile::Read(quint32 address, int size, quint32& data) const {
    const auto cell = cells.constFind(address);
    if (cell == cells.constEnd())
        return RegisterOutcome::InvalidAddress;
    if (cell->access == RegisterAccess::WriteOnly)
        return RegisterOutcome::AccessDenied;
    const bool shorterAllowed = cell->acceptsShorterReads && size >= 1 && size < cell->size;
    if (size != cell->size && !shorterAllowed)
        return RegisterOutcome::WrongSize;
    data = cell->value >> (8 * (cell->size - size));
    if (cell->valueInFirstByte && size == 1)
        data <<= 24;
    return RegisterOutcome::Ok;
}

RegisterOutcome RegisterFile::Write(quint32 address, int size, quint32 value) {
    const auto cell = cells.find(address);
    if (cell == cells.end())
        return RegisterOutcome::InvalidAddress;
    if (size != cell->size)
        return RegisterOutcome::WrongSize;
    if (cell->access == RegisterAccess::ReadOnly)
        return RegisterOutcome::AccessDenied;
    if (value > sizeMask(size) || value > cell->maxValue)
        return RegisterOutcome::OutOfRange;
    cell->value = value;
    return RegisterOutcome::Ok;
}
