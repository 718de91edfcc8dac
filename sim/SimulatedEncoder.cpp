// The encoder's registers: definition per model and map, the register
// protocol's checks and replies, and the effects of writes and commands.
#include "SimulatedEncoder.h"

#include "DebugRecord.h"
#include "SimulatedErrorMap.h"

#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

RegisterCell cell(int size, RegisterAccess access, quint32 maxValue = 0xFFFFFFFF) {
    RegisterCell c;
    c.size = size;
    c.access = access;
    c.maxValue = maxValue;
    return c;
}

RegisterCell readOnly(int size) {
    return cell(size, RegisterAccess::ReadOnly);
}

QByteArray outcomeReply(RegisterOutcome outcome) {
    switch (outcome) {
    case RegisterOutcome::Ok:
        return "0x9:";
    case RegisterOutcome::InvalidAddress:
        return "0x26:";
    case RegisterOutcome::OutOfRange:
        return "0x56:";
    case RegisterOutcome::AccessDenied:
        return "0x96:";
    case RegisterOutcome::WrongSize:
        return "0xee:";
    case RegisterOutcome::WriteLocked:
        return "0xf6:";
    case RegisterOutcome::WriteCrc:
        return "0xf9:";
    case RegisterOutcome::ReadCrc:
        return "0xe6:";
    case RegisterOutcome::NoResponse:
        return "ERROR: no response from encoder after 3 retries";
    }
    return "ERROR";
}

RegisterOutcome outcomeOfFault(RegisterFault fault, bool isWrite) {
    switch (fault) {
    case RegisterFault::None:
        return RegisterOutcome::Ok;
    case RegisterFault::InvalidAddress:
        return RegisterOutcome::InvalidAddress;
    case RegisterFault::OutOfRange:
        return RegisterOutcome::OutOfRange;
    case RegisterFault::AccessDenied:
        return RegisterOutcome::AccessDenied;
    case RegisterFault::WrongSize:
        return RegisterOutcome::WrongSize;
    case RegisterFault::WriteLocked:
        return isWrite ? RegisterOutcome::WriteLocked : RegisterOutcome::Ok;
    case RegisterFault::WriteCrc:
        return isWrite ? RegisterOutcome::WriteCrc : RegisterOutcome::Ok;
    case RegisterFault::ReadCrc:
        return isWrite ? RegisterOutcome::Ok : RegisterOutcome::ReadCrc;
    case RegisterFault::NoResponse:
        return RegisterOutcome::NoResponse;
    }
    return RegisterOutcome::Ok;
}

// Encoders whose part letter (12th character of the part number) marks an
// extended air gap report three extra self-calibration results.
bool hasExtraCalResults(const QByteArray& identification) {
    return identification.size() >= 14 && QByteArray("STUVWZ").contains(identification[13]);
}

} // namespace

SimulatedEncoder::SimulatedEncoder(const EncoderProfile& p)
    : profile(p), layout(LayoutOf(p.map)), nvram(LayoutOf(p.map)), shaft(p.stBits),
      selfCal(LayoutOf(p.map).calStatusSize), signalLevelBase(p.signalLevelBase),
      channel1Offset(shaft.CountsPerTurn() / 8) {
    defineRegisters();
    filterInEffect = registers.Value(layout.filterPosVal);
}

// ---- Register definitions ----

void SimulatedEncoder::defineRegisters() {
    defineConfigurationRegisters();
    defineMeasuredRegisters();
    defineFirmwareAndSerialRegisters();
    defineFixedRegisters();
    DefineErrorMap(registers, layout.errorMap, CodeLengthOfPart(profile.identification),
                   profile.fwMajor == 2); // firmware 2.x sends the low byte first
    DefineDebugRegisters(registers, profile.fwMajor == 4);
    nvram.FactoryReset(registers);
}

void SimulatedEncoder::defineConfigurationRegisters() {
    const auto rw = RegisterAccess::ReadWrite;
    registers.Define(layout.posOffset, cell(4, rw, quint32(shaft.CountsPerTurn() - 1)));
    registers.Define(layout.filterPosVal, cell(4, rw, 255));
    registers.Define(layout.mtPreset, cell(4, rw, 0xFFFF));
    registers.Define(layout.calAngle, cell(2, rw));
    if (profile.hasMtErrThreshold)
        registers.Define(layout.mtErrThreshold, cell(1, rw, 180));
    if (profile.hasCalTimeout)
        registers.Define(layout.calTimeout, cell(1, rw));
    registers.Define(layout.command, cell(1, RegisterAccess::WriteOnly));
}

void SimulatedEncoder::defineMeasuredRegisters() {
    registers.Define(layout.temperature, readOnly(2));
    if (profile.hasSignalLevel)
        registers.Define(layout.signalLevel, readOnly(layout.signalLevelSize));
    if (profile.hasPersistentStatus)
        registers.Define(layout.persistentStatus, readOnly(layout.persistentStatusSize));
    registers.Define(layout.calStatus, readOnly(layout.calStatusSize));
    for (quint32 address : {layout.calEccentricity, layout.calEccPhase, layout.calRadialShift})
        registers.Define(address, readOnly(2));
    if (hasExtraCalResults(profile.identification))
        for (quint32 address :
             {FixedRegister::CalAvgHeight, FixedRegister::CalEccShift, FixedRegister::CalEccPhase})
            registers.Define(address, readOnly(2));
}

void SimulatedEncoder::defineFirmwareAndSerialRegisters() {
    if (profile.firmwareRegisters) {
        const quint32 parts[] = {profile.fwMajor, profile.fwMinor, profile.fwComm};
        const quint32 addresses[] = {layout.fwMajor, layout.fwMinor, layout.fwComm};
        for (int i = 0; i < 3; ++i) {
            registers.Define(addresses[i], readOnly(profile.fwRegisterSize));
            registers.Set(addresses[i], parts[i]);
        }
        registers.Define(layout.fwSvn, readOnly(profile.svnRegisterSize));
        registers.Set(layout.fwSvn, profile.fwSvn);
    }
    if (profile.hashRegister && profile.map == RegisterMapKind::U4) {
        registers.Define(layout.fwHash, readOnly(4));
        registers.Set(layout.fwHash, profile.fwHash);
    }
    const int space = SerialNumberSpace(profile);
    QByteArray serial = profile.serialNumber.left(space);
    serial.append(QByteArray(space - serial.size(), '\0'));
    for (int offset = 0; offset < space; offset += 4) {
        const int size = qMin(4, space - offset);
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = (value << 8) | static_cast<quint8>(serial[offset + i]);
        registers.Define(layout.serialNumber + offset, readOnly(size));
        registers.Set(layout.serialNumber + offset, value);
    }
}

void SimulatedEncoder::defineFixedRegisters() {
    using namespace FixedRegister;
    registers.Define(WriteStatus, readOnly(1));
    if (profile.hasRuntimeLog) {
        RegisterCell powerCycleCell = readOnly(4);
        powerCycleCell.acceptsShorterReads = true; // the presence check reads 1 byte
        registers.Define(RuntimePowerCycles, powerCycleCell);
        registers.Define(RuntimeMinutes, readOnly(4));
        registers.Define(RuntimeTempMin, readOnly(1));
        registers.Define(RuntimeTempMax, readOnly(2));
        registers.Define(SafetyMarginRt, readOnly(2));
        registers.Define(SafetyMarginPer, cell(2, RegisterAccess::ReadWrite, 32767));
    }
    if (profile.fwMajor != 4 && profile.fwMinor >= 9) // older firmware latches by "?07:021"
        registers.Define(DebugLatch, cell(1, RegisterAccess::ReadWrite, 1));
    if (layout.command != U2Command) // takes the debug unlock code
        registers.Define(U2Command, cell(1, RegisterAccess::WriteOnly));
}

// ---- Supply ----

void SimulatedEncoder::PowerOn() {
    if (powered)
        return;
    powered = true;
    ++powerCycles;
    powerOnTime = Clock::now();
    if (const qint64 jump = powerOnJump.OnPowerOn())
        shaft.SetPosition(shaft.TruePosition() + jump);
    nvram.Restore(registers);
    filterInEffect = registers.Value(layout.filterPosVal);
    applyPositionFilter();
    writeStatus = 0;
    debugUnlocked = false;
    ResetProtocol();
    storeDebugRecord(); // a fresh record is there from the start
}

void SimulatedEncoder::PowerOff() {
    if (!powered)
        return;
    poweredMsBefore +=
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - powerOnTime).count();
    powered = false;
    selfCal.Abort();
}

// ---- Register protocol ----

RegisterOutcome SimulatedEncoder::faultOutcome(quint32 address, bool isWrite) const {
    const RegisterFault fault = faults.value(address, globalFault);
    return outcomeOfFault(fault, isWrite);
}

QByteArray SimulatedEncoder::ReadRegister(int size, quint32 address, bool crcMatches) {
    if (selfCal.Busy())
        return outcomeReply(RegisterOutcome::NoResponse);
    if (!crcMatches)
        return outcomeReply(RegisterOutcome::ReadCrc);
    const RegisterOutcome fault = faultOutcome(address, false);
    if (fault != RegisterOutcome::Ok)
        return outcomeReply(fault);
    const RegisterOutcome injected = outcomeOfFault(readFaults.Next(address), false);
    if (injected != RegisterOutcome::Ok)
        return outcomeReply(injected);
    if (refusesDebugRead(address))
        return outcomeReply(RegisterOutcome::ReadCrc);
    refreshMeasuredRegisters();
    quint32 data = 0;
    const RegisterOutcome outcome = registers.Read(address, size, data);
    if (outcome != RegisterOutcome::Ok)
        return outcomeReply(outcome);
    return "0x9:0x" + QByteArray::number(data, 16).toUpper().rightJustified(8, '0');
}

QByteArray SimulatedEncoder::WriteRegister(int size, quint32 address, quint32 value,
                                           bool crcMatches) {
    if (selfCal.Busy())
        return outcomeReply(RegisterOutcome::NoResponse);
    if (!crcMatches)
        return outcomeReply(RegisterOutcome::WriteCrc);
    RegisterOutcome outcome = faultOutcome(address, true);
    if (outcome == RegisterOutcome::Ok)
        outcome = registers.Write(address, size, value);
    noteWriteOutcome(outcome);
    QByteArray reply = outcomeReply(outcome);
    if (outcome == RegisterOutcome::Ok)
        afterWrite(address, value, reply);
    return reply;
}

// The write-access status register tells what the last write met.
void SimulatedEncoder::noteWriteOutcome(RegisterOutcome outcome) {
    switch (outcome) {
    case RegisterOutcome::Ok:
        writeStatus = 0;
        break;
    case RegisterOutcome::AccessDenied:
        writeStatus = 0x01;
        break;
    case RegisterOutcome::OutOfRange:
        writeStatus = 0x02;
        break;
    case RegisterOutcome::WriteLocked:
        writeStatus = 0x80;
        break;
    default:
        break;
    }
}

// A locked debug record refuses its reads until it has been unlocked.
bool SimulatedEncoder::refusesDebugRead(quint32 address) const {
    using namespace FixedRegister;
    const bool debugRegister = (address >= DebugBlock && address < DebugBlock + 0x100) ||
                               (address >= DebugProtocol4 && address < DebugProtocol4 + 0x100);
    return debugRegister && !DebugUnlocked();
}

void SimulatedEncoder::afterWrite(quint32 address, quint32 value, QByteArray& reply) {
    if (address == FixedRegister::U2Command &&
        (debugLatchCode < 0 || value == static_cast<quint32>(debugLatchCode)))
        debugUnlocked = true;
    if (address == layout.command)
        executeCommand(value, reply);
    else if (address == FixedRegister::U2Command || address == FixedRegister::DebugLatch)
        latchDebugRecord(); // debug unlock code, or the 2.9 latch register
    else if (address == FixedRegister::SafetyMarginPer)
        marginPerLowest = static_cast<qint16>(value);
}

void SimulatedEncoder::executeCommand(quint32 code, QByteArray& reply) {
    writeStatus = 0x40; // command executed
    switch (code) {
    case EncoderCommand::StartSelfCal:
        selfCal.Start(static_cast<int>(registers.Value(layout.calAngle)),
                      static_cast<int>(registers.Value(layout.calTimeout)), ReadPosition().error);
        // Firmware before 4 starts at once and leaves the write unanswered.
        if (profile.fwMajor < 4 && selfCal.Busy())
            reply = outcomeReply(RegisterOutcome::NoResponse);
        return;
    case EncoderCommand::ClearPersistentStatus:
        persistentStatus = LiveStatus();
        return;
    case EncoderCommand::SaveToNvram:
        nvram.Save(registers);
        return;
    case EncoderCommand::PresetMultiturn:
        presetMultiturn();
        return;
    case EncoderCommand::FactoryReset:
        nvram.FactoryReset(registers);
        return;
    default:
        if (debugLatchCode < 0 || static_cast<quint32>(debugLatchCode) == code) {
            latchDebugRecord();
            return;
        }
        writeStatus = 0x02;
        reply = outcomeReply(RegisterOutcome::OutOfRange);
    }
}

// ---- Measured values ----

quint32 SimulatedEncoder::RegisterValue(quint32 address) {
    refreshMeasuredRegisters();
    return registers.Value(address);
}

void SimulatedEncoder::refreshMeasuredRegisters() {
    const quint32 singleturn = ReadPosition().singleturn;
    const double angle = 2 * Pi * singleturn / double(shaft.CountsPerTurn());
    registers.Set(layout.temperature, static_cast<quint16>(SensorTemperature()));
    registers.Set(layout.signalLevel, SignalLevelAt(singleturn));
    registers.Set(layout.persistentStatus, persistentStatus);
    registers.Set(FixedRegister::WriteStatus, writeStatus);
    const qint16 marginPer = static_cast<qint16>(15000 + std::lround(900 * std::cos(angle)));
    marginPerLowest = qMin(marginPerLowest, marginPer);
    registers.Set(FixedRegister::SafetyMarginPer, static_cast<quint16>(marginPerLowest));
    registers.Set(FixedRegister::SafetyMarginRt,
                  static_cast<quint16>(14000 + std::lround(1200 * std::sin(angle + 1))));
    refreshRuntimeLog();
    selfCal.Busy(); // finishes a run whose time is up
    const SelfCalResults& results = selfCal.Results();
    registers.Set(layout.calStatus, selfCal.Status());
    registers.Set(layout.calEccentricity, results.eccentricity);
    registers.Set(layout.calEccPhase, results.eccPhase);
    registers.Set(layout.calRadialShift, static_cast<quint16>(results.radialShift));
    registers.Set(FixedRegister::CalAvgHeight, static_cast<quint16>(results.avgHeight));
    registers.Set(FixedRegister::CalEccShift, results.eccShift);
    registers.Set(FixedRegister::CalEccPhase, results.eccPhaseExtra);
}

void SimulatedEncoder::refreshRuntimeLog() {
    const int temperature = SensorTemperature();
    lowestTemperature = static_cast<qint8>(qMin<int>(lowestTemperature, temperature));
    highestTemperature = static_cast<qint16>(qMax<int>(highestTemperature, temperature));
    qint64 poweredMs = poweredMsBefore;
    if (powered)
        poweredMs +=
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - powerOnTime)
                .count();
    registers.Set(FixedRegister::RuntimePowerCycles, powerCycles);
    registers.Set(FixedRegister::RuntimeMinutes, static_cast<quint32>(48213 + poweredMs / 60000));
    registers.Set(FixedRegister::RuntimeTempMin, static_cast<quint8>(lowestTemperature));
    registers.Set(FixedRegister::RuntimeTempMax, static_cast<quint16>(highestTemperature));
}

int SimulatedEncoder::SensorTemperature() const {
    return static_cast<int>(std::lround(ambientCelsius + 6)); // the chip runs warmer
}

quint16 SimulatedEncoder::ThermistorReading() const {
    // 10 kOhm at 25 °C, beta 3455 K, against 5600 Ohm, read with 11 bits.
    const double kelvin = ambientCelsius + 273.15;
    const double ohms = 10000 * std::exp(3455 * (1 / kelvin - 1 / 298.15));
    return static_cast<quint16>(std::lround(2047 * ohms / (5600 + ohms)));
}

quint32 SimulatedEncoder::SignalLevelAt(quint32 singleturn) const {
    // The air gap changes over a turn (eccentric ring), and with it the level.
    const double angle = 2 * Pi * singleturn / double(shaft.CountsPerTurn());
    const double level =
        signalLevelBase * (1 + 0.18 * std::sin(angle) + 0.06 * std::sin(2 * angle + 0.9));
    return static_cast<quint32>(qMax(1L, std::lround(level)));
}

void SimulatedEncoder::SetStatusBits(quint32 bits) {
    statusBits = bits;
    persistentStatus |= LiveStatus();
}

void SimulatedEncoder::SetRegisterFault(quint32 address, RegisterFault fault) {
    if (fault == RegisterFault::None)
        faults.remove(address);
    else
        faults.insert(address, fault);
}

void SimulatedEncoder::ClearRegisterFaults() {
    faults.clear();
    globalFault = RegisterFault::None;
    readFaults.Clear();
}

void SimulatedEncoder::SetNoiseCounts(int counts) {
    noiseCounts = qMax(0, counts);
    applyPositionFilter();
}

// Filter values above the factory setting calm the noise in proportion
// (8 halves it); lower ones leave it as it is.
void SimulatedEncoder::applyPositionFilter() {
    constexpr quint32 FactoryFilter = 4;
    const quint32 filter = qMax(FactoryFilter, filterInEffect);
    shaft.SetNoiseCounts(static_cast<int>(quint32(noiseCounts) * FactoryFilter / filter));
}

void SimulatedEncoder::latchDebugRecord() {
    storeDebugRecord();
    ++debugLatches;
}

void SimulatedEncoder::storeDebugRecord() {
    const PositionReading reading = ReadPosition();
    DebugRecordInputs inputs;
    inputs.singleturn = reading.singleturn;
    inputs.multiturn = reading.multiturn;
    inputs.stBits = profile.stBits;
    inputs.codeLength = CodeLengthOfPart(profile.identification);
    inputs.status = static_cast<quint16>(reading.status);
    inputs.sensorTemperature = SensorTemperature();
    inputs.powerCycles = powerCycles;
    StoreDebugRecord(registers, LatchDebugRecord(inputs), profile.fwMajor == 4);
}
