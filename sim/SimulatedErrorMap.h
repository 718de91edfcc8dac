#pragma once
// The encoder's error map: 512 corrections in counts over one revolution.
// Their curve is a few harmonics of the revolution, as an eccentric, tilted
// installation and the ring's own code give them.

#include "RegisterFile.h"

#include <QtGlobal>

constexpr int ErrorMapPoints = 512;

// The correction at one point (0 to 511) for a ring of this code length.
qint16 ErrorMapCorrection(int point, int codeLength);

// Defines the map's 2-byte read-only registers from `base` on, two addresses
// per point. Firmware 2.x sends each correction low byte first.
void DefineErrorMap(RegisterFile& registers, quint32 base, int codeLength, bool lowByteFirst);
