#pragma once
// What the signal-level tab computes from a reading: the external
// thermistor's temperature (the frames of encoder types 3 to 5 carry its
// 11-bit reading) and the air gap from the signal level.

#include <QtGlobal>

// A thermistor reading means a temperature only strictly between 0 and 2047
// (0 is no thermistor, 2047 an open one).
bool ThermistorReadingValid(qint32 reading);
// Degrees Celsius by the beta model of the divider (5600 ohm in series,
// 10000 ohm at 25 degrees, beta 3455 K).
float ThermistorCelsiusBeta(qint32 reading);
// Degrees Celsius by the fitted polynomial of twice the reading.
float ThermistorCelsiusPolynomial(qint32 reading);

// Air gap in micrometres: ln(signal level) * K + N; 0 for a level of 0 or
// less.
float AirGapMicrometres(qint32 signalLevel, double K, double N);
