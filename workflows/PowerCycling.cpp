#include "PowerCycling.h"

#include "AdapterCommands.h"
#include "FrontEnd.h"
#include "NumberFormat.h"
#include "Serial_driver.h"

#include <QRandomGenerator>

namespace {

constexpr double StationaryLimit = 2;   // units a resting shaft may move
constexpr double TurningStepLimit = 70; // units a turning shaft may advance
constexpr int PositionDecimals = 4;
constexpr int PositionSignificantDigits = 15;

// "<prefix><old> -> <new>) [<cycles left>]"
QString jumpLine(const char* prefix, double previous, double now, qint64 cyclesLeft,
                 const NumberFormat& format) {
    const auto units = [&format](double value) {
        return format.Grouped(value, PositionDecimals, PositionSignificantDigits);
    };
    return QString::fromUtf8(prefix) + units(previous) + QStringLiteral(" -> ") + units(now) +
           QStringLiteral(") [") + QString::number(cyclesLeft) + QStringLiteral("]");
}

void switchSupply(const QByteArray& command) {
    QByteArray reply; // not examined
    SerialTransaction(COMPortHandle, command, 0, reply);
}

} // namespace

int PowerCyclePhaseMs(int delayA, int delayB, QRandomGenerator& random) {
    if (delayA == delayB)
        return delayA;
    return random.bounded(qMin(delayA, delayB), qMax(delayA, delayB));
}

void BeginPowerCycling(PowerCyclingState& state, double position) {
    state.CikliranjeSmerInit = true;
    state.EncPosDegOldMTtest = position;
}

QStringList CheckPowerCycleReading(PowerCyclingState& state, double position, bool stationary,
                                   qint64 cyclesLeft, const NumberFormat& format) {
    const double previous = state.EncPosDegOldMTtest;
    QStringList jumps;
    const auto jump = [&](const char* prefix) {
        jumps << jumpLine(prefix, previous, position, cyclesLeft, format);
    };
    if (stationary) {
        if (position < previous - StationaryLimit)
            jump("Position jump < 2°! (");
        if (position > previous + StationaryLimit)
            jump("Position jump > 2°! (");
    } else {
        if (state.CikliranjeSmerInit) {
            state.CikliranjeSmer = position > previous ? 1 : -1;
            state.CikliranjeSmerInit = false;
        }
        const double direction = state.CikliranjeSmer;
        if (previous * direction > position * direction)
            jump("Position jump reverse! (");
        if (position * direction > previous * direction + TurningStepLimit)
            jump("Position jump > 70°! (");
    }
    state.EncPosDegOldMTtest = position;
    return jumps;
}

QStringList CheckPowerUp(PowerCyclingState& state, bool stationary, const NumberFormat& format,
                         FrontEnd& frontEnd, const PowerCycleHooks& hooks) {
    hooks.takeReading();
    const QStringList jumps =
        CheckPowerCycleReading(state, hooks.position(), stationary, hooks.cyclesLeft(), format);
    for (const QString& jump : jumps)
        frontEnd.Log(jump);
    return jumps;
}

PowerCycleStep PowerCyclePhase(PowerCyclingState& state, bool stationary,
                               const NumberFormat& format, FrontEnd& frontEnd,
                               const PowerCycleHooks& hooks) {
    PowerCycleStep step;
    if (state.PowerOnStatus) {
        step.jumps = CheckPowerUp(state, stationary, format, frontEnd, hooks);
        switchSupply(AdapterCommand::PowerOff);
        state.PowerOnStatus = false;
        return step;
    }
    switchSupply(AdapterCommand::PowerOn);
    state.PowerOnStatus = true;
    step.switchedOn = true;
    return step;
}
