#pragma once
// The air-gap conversion of an installed encoder: air gap [um] =
// ln(signal level) * K + N. K and N depend on the code length of the ring,
// the firmware and, for firmware 4, on the part number.

#include <QByteArray>

// Code length of the ring (5 to 9) from the ring code that begins the part
// number; 8 when the code is not listed.
qint32 CodeLengthOfRing(const QByteArray& partNumber);

struct InstallationCoefficients {
    double K = 0.0;
    double N = 0.0;
    bool extendedAirGap = false; // firmware 4 encoder with an extended air gap
};

struct InstalledEncoder {
    qint32 codeLength = 8;
    quint32 firmwareMajor = 0;
    quint32 firmwareMinor = 0;
    quint8 encoderType = 0;
    QByteArray partNumber;
};

InstallationCoefficients InstallationCoefficientsFor(const InstalledEncoder& encoder);
