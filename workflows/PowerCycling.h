#pragma once
// The power-cycling test: the encoder's supply switched off and on with
// random phase lengths, every reading after an on-phase checked for a jump
// that should not happen.

#include <QString>
#include <QStringList>
#include <functional>

class FrontEnd;
class QRandomGenerator;
struct NumberFormat;

// What the test keeps between its phases (the window's fields of the same
// names).
struct PowerCyclingState {
    bool PowerOnStatus = false;      // the test last switched the supply on
    bool CikliranjeSmerInit = false; // the direction is taken at the next check
    double CikliranjeSmer = 0.0;     // direction of rotation, +1 or -1
    double EncPosDegOldMTtest = 0.0; // position at the previous check, units
};

// A phase length drawn uniformly from [smaller, larger - 1] milliseconds;
// exactly that value when both are equal.
int PowerCyclePhaseMs(int delayA, int delayB, QRandomGenerator& random);

// A run begins: the direction is taken at its first check, from `position`.
void BeginPowerCycling(PowerCyclingState& state, double position);

// The jumps of a reading at `position`: at rest ("Pri miru") any change of
// more than 2 units, turning a step back or one of more than 70. Each is a
// log line with both positions and the cycles left; the previous position
// becomes `position`.
QStringList CheckPowerCycleReading(PowerCyclingState& state, double position, bool stationary,
                                   qint64 cyclesLeft, const NumberFormat& format);

// What one phase step needs of the front-end.
struct PowerCycleHooks {
    std::function<void()> takeReading; // one reading (the window's read cycle)
    std::function<double()> position;  // the last good reading in units
    std::function<qint64()> cyclesLeft;
};

struct PowerCycleStep {
    bool switchedOn = false; // the step switched the supply on: a cycle is done
    QStringList jumps;       // the jumps a checked reading showed (also logged)
};

// The check at the end of an on-phase: one reading, its jumps logged and
// returned.
QStringList CheckPowerUp(PowerCyclingState& state, bool stationary, const NumberFormat& format,
                         FrontEnd& frontEnd, const PowerCycleHooks& hooks);

// One phase step: at the end of an on-phase a reading is checked (its jumps
// logged) and the supply is switched off ("f"); at the end of an off-phase it
// is switched on ("n"). The replies are not examined.
PowerCycleStep PowerCyclePhase(PowerCyclingState& state, bool stationary,
                               const NumberFormat& format, FrontEnd& frontEnd,
                               const PowerCycleHooks& hooks);
