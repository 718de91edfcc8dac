#include "SimulatedErrorMap.h"

#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

quint16 swapBytes(quint16 value) {
    return static_cast<quint16>((value << 8) | (value >> 8));
}

} // namespace

qint16 ErrorMapCorrection(int point, int codeLength) {
    const double angle = 2 * Pi * point / ErrorMapPoints;
    const double value = 38 * std::sin(angle + 0.6) + 11 * std::sin(2 * angle + 2.2) +
                         4 * std::sin(codeLength * angle);
    return static_cast<qint16>(std::lround(value));
}

void DefineErrorMap(RegisterFile& registers, quint32 base, int codeLength, bool lowByteFirst) {
    RegisterCell cell;
    cell.size = 2;
    cell.access = RegisterAccess::ReadOnly;
    for (int point = 0; point < ErrorMapPoints; ++point) {
        const auto word = static_cast<quint16>(ErrorMapCorrection(point, codeLength));
        const quint32 address = base + 2 * static_cast<quint32>(point);
        registers.Define(address, cell);
        registers.Set(address, lowByteFirst ? swapBytes(word) : word);
    }
}
