#pragma once
// Bringing a powered encoder into use: the adapter's set-up, the
// identification (once more in non-inverted CRC mode for encoder types 2 to
// 5 when it fails), the identity and register lines in the log, the code
// length of the ring, the installation coefficients and the SPI clock.

#include "InstallationCoefficients.h"

#include <QByteArray>
#include <QString>
#include <functional>

class FrontEnd;

struct ConnectOptions {
    bool nonInvertedCrc = false; // "Cr" instead of "Ce" from the start
    int ncsSckDelayUs = 15;
    int spiClockSetting = 5; // "5 = 1.5 MHz"
};

struct ConnectResult {
    bool linkBroken = false; // the supply state could not be read
    bool identified = false;
    QString problem;                       // why it was not identified, in the front end's words
    bool nonInvertedCrc = false;           // the CRC mode in use at the end
    bool retried = false;                  // identified (or not) in non-inverted CRC mode
    qint32 countsPerTurn = 0;              // STcounts
    qint32 codeLength = 8;                 // of the ring, 5 to 9
    InstallationCoefficients coefficients; // also stored in EncoderSignature
    bool twoRings = false;
};

// Where a front-end shows something in the middle of the workflow.
struct ConnectHooks {
    // The supply state ("e"), before the set-up.
    std::function<void(const QByteArray& state)> supplyState;
    // The identification failed in inverted CRC mode; the retry goes out in
    // non-inverted mode (the window ticks "Dravonel LOMA and Brix" here).
    std::function<void()> switchToNonInvertedCrc;
    // Identified, before the SPI clock is set.
    std::function<void(const ConnectResult&)> identified;
};

ConnectResult ConnectEncoder(const ConnectOptions& options, FrontEnd& frontEnd,
                             const ConnectHooks& hooks = {});
