#include "SignalLevel.h"

#include <cmath>

namespace {

constexpr long double ThermistorFullScale = 2047;
constexpr long double DividerOhms = 5600;
constexpr long double NominalOhms = 10000;
constexpr long double InverseNominalKelvin = 0.00335401643468053L; // 1 / 298.15 K
constexpr long double BetaKelvin = 3455;
constexpr long double ZeroCelsiusKelvin = 273.15L;

} // namespace

bool ThermistorReadingValid(qint32 reading) {
    return reading > 0 && reading < ThermistorFullScale;
}

float ThermistorCelsiusBeta(qint32 reading) {
    const long double ohms = DividerOhms * reading / (ThermistorFullScale - reading);
    return static_cast<float>(
        1.0L / (InverseNominalKelvin + std::log(ohms / NominalOhms) / BetaKelvin) -
        ZeroCelsiusKelvin);
}

float ThermistorCelsiusPolynomial(qint32 reading) {
    static constexpr long double Coefficients[] = {
        -5.605939935e-22L, 8.317810489e-18L, -5.130158569e-14L, 1.705448899e-10L,
        -3.339134537e-7L,  3.97830975e-4L,   -0.311475994L,     197.7765845L};
    const long double x = 2.0L * reading;
    long double sum = 0;
    for (long double c : Coefficients)
        sum = sum * x + c;
    return static_cast<float>(sum);
}

float AirGapMicrometres(qint32 signalLevel, double K, double N) {
    return signalLevel > 0 ? static_cast<float>(std::log(double(signalLevel)) * K + N) : 0.0f;
}
