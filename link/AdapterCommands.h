#pragma once
// The adapter-level commands: encoder supply, SPI clock, chip-select timing
// and CRC mode. Commands carry no terminator; every reply ends with CR.

#include <QByteArray>
#include <QList>

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

// A set-up command whose exchange failed or whose reply says ERROR, as a
// value rather than a sentence: each program words it in its own texts.
struct SetupCommandProblem {
    QByteArray command;
    QByteArray reply; // printable characters only; empty when none came
};

// The problems of a set-up command's exchange: one for a failed exchange and
// one more for a reply that contains "ERROR".
QList<SetupCommandProblem> SetupCommandProblems(const QByteArray& command, qint32 result,
                                                const QByteArray& reply);
