#include "InstallationCoefficients.h"

namespace {

struct RingCodes {
    qint32 codeLength;
    const char* codes[4];
};

// Tested in this order; a later match overrides an earlier one.
const RingCodes ringCodeTable[] = {
    {9, {"RX731", "RX746", "JW", "JY"}},
    {7, {"RX712", "RX718", nullptr, nullptr}},
    {6, {"RX705", "RX702", nullptr, nullptr}},
    {5, {"JV4", nullptr, nullptr, nullptr}},
};

struct BaseCoefficients {
    qint32 codeLength;
    double K;
    double N;
};

const BaseCoefficients baseTable[] = {
    {5, -119.3662073189215, 1236.0}, {6, -95.4929658551372, 977.1},  {7, -83.55634512324505, 846.1},
    {8, -71.6197243913529, 682.0},   {9, -70.29343054633806, 735.0},
};

constexpr double WideRingK = -71.6197243913529;
constexpr char ExtendedAirGapLetters[] = "HKMSTUVWZ";

InstallationCoefficients baseCoefficients(qint32 codeLength) {
    for (const auto& row : baseTable)
        if (row.codeLength == codeLength)
            return {row.K, row.N, false};
    return {};
}

// Firmware 2.9 and later moved the N of the shorter codes.
void applyFirmware29(InstallationCoefficients& c, qint32 codeLength) {
    if (codeLength == 6)
        c.N = 950.0;
    else if (codeLength == 7)
        c.N = 865.0;
    else if (codeLength == 8)
        c.N = 748.0;
}

bool hasExtendedAirGap(const InstalledEncoder& e) {
    return e.firmwareMajor == 4 && e.partNumber.size() >= 12 &&
           QByteArray(ExtendedAirGapLetters).contains(e.partNumber[11]);
}

} // namespace

qint32 CodeLengthOfRing(const QByteArray& partNumber) {
    qint32 codeLength = 8;
    for (const auto& row : ringCodeTable)
        for (const char* code : row.codes)
            if (code && partNumber.startsWith(code))
                codeLength = row.codeLength;
    return codeLength;
}

InstallationCoefficients InstallationCoefficientsFor(const InstalledEncoder& e) {
    InstallationCoefficients c = baseCoefficients(e.codeLength);
    if (e.firmwareMajor == 2 && e.firmwareMinor >= 9)
        applyFirmware29(c, e.codeLength);
    if (e.firmwareMajor == 4)
        c = e.codeLength == 9 ? InstallationCoefficients{WideRingK, 755.0, false}
                              : InstallationCoefficients{};
    if (e.codeLength == 9 && e.encoderType == 5)
        c = {WideRingK, 749.0, false};
    if (hasExtendedAirGap(e))
        c = {-361.7, 2885.0, true};
    return c;
}
