#pragma once
// CRC-8 of the encoders' position frames: polynomial 0x97, most significant
// bit first, initial value 0, no reflection, no final XOR. Computed bit by bit
// on purpose, so it serves as an independent check of table-driven versions.

#include <QByteArray>

quint8 BitwiseCrc8(const QByteArray& bytes);
