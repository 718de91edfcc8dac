#pragma once
// Helpers shared by the files of the Dravonel protocol; not for other modules.

#include "Ulvax_konstante.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One exchange with the adapter (reply complete at CR); the result code is
// stored in EncoderPosition.ErrComm. A failed exchange leaves "USB Comm Err "
// + the code in LastError and returns false.
bool DravonelExchange(const QByteArray& command, QByteArray& reply);

// Reads text as an unsigned hexadecimal number; false when the text is empty,
// longer than 16 digits or holds anything but hexadecimal digits.
bool ParseHex(QByteArrayView text, quint64& value);
// The number, or 0 when the text is not hexadecimal.
quint64 HexOrZero(QByteArrayView text);

// Sets every register address and size variable from one map column.
void InstallRegisterMap(TRegisterMapColumn column);
