#pragma once
// The adapter-level commands: encoder supply, SPI clock, chip-select timing
// and CRC mode. Commands carry no terminator; every reply ends with CR.

#include <QByteArray>
#include <QStringList>

namespace AdapterCommand {
inline const QByteArray Supply5V = "V5";
inline const QByteArray Supply3V3 = "V3";
inline const QByteArray PowerOn = "n";
inline const QByteArray PowerOff = "f";
inline const QByteArray SupplyState = "e";
inline const QByteArray ReadSpiClock = "m";
inline const QByteArray CrcInverted = "Ce";
inline const QByteArray CrcNonInverted = "Cr";
inline const QByteArray SpiSetup = "G0:1";
} // namespace AdapterCommand

// Acknowledgement of "n": the reply begins with this.
inline constexpr char PowerOnAcknowledgement[] = "ON";

// "M1" (94 kHz) to "M8" (12 MHz): each step doubles the SPI clock.
QByteArray SpiClockCommand(int setting);

// "D001" to "D900": microseconds between chip select and the first clock.
QByteArray NcsSckDelayCommand(int microseconds);

// The problems of a set-up command's exchange, as the texts to report: one
// for a failed exchange and one more for a reply that contains "ERROR".
QStringList SetupCommandProblems(const QByteArray& command, qint32 result, const QByteArray& reply);
