#include "SimulatedAdapter.h"

#include <cctype>
#include <utility>

namespace {

const QByteArray NoSupplyReply = "ERROR: encoder supply is off";
const QByteArray UnknownCommandReply = "ERROR: unknown command";
const QByteArray SyntaxErrorReply = "ERROR: syntax";

// The exact value of a field of hexadecimal or decimal digits.
bool parseNumber(const QByteArray& digits, int base, quint32& value) {
    bool ok = false;
    value = digits.toUInt(&ok, base);
    for (const char c : digits)
        ok = ok && (base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                               : std::isdigit(static_cast<unsigned char>(c)));
    return ok && !digits.isEmpty();
}

QByteArray hexDigits(quint32 value, int width) {
    return QByteArray::number(value, 16).toUpper().rightJustified(width, '0').right(width);
}

const char* spiClockText(int setting) {
    static const char* texts[] = {"94 kHz",  "188 kHz", "375 kHz", "750 kHz",
                                  "1.5 MHz", "3 MHz",   "6 MHz",   "12 MHz"};
    return texts[setting - 1];
}

} // namespace

SimulatedAdapter::SimulatedAdapter(const AdapterSettings& settings)
    : settings(settings), encoder(std::make_unique<SimulatedEncoder>()) {}

SimulatedAdapter::SimulatedAdapter(const QString& modelName, const AdapterSettings& settings)
    : SimulatedAdapter(settings) {
    SelectModel(modelName);
}

SimulatedAdapter::~SimulatedAdapter() = default;

QByteArray SimulatedAdapter::Reply(const QByteArray& command) {
    QMutexLocker lock(&mutex);
    received.append(command);
    const auto scripted = overrides.constFind(command);
    if (scripted != overrides.constEnd())
        return *scripted;
    return answer(command) + '\r';
}

QByteArray SimulatedAdapter::answer(const QByteArray& command) {
    if (command.isEmpty())
        return UnknownCommandReply;
    if (CommandLength(command) != command.size())
        return SyntaxErrorReply;
    switch (command[0]) {
    case 'v':
        return settings.identity;
    case 'r':
        return settings.serialNumber;
    case 'o':
        return QByteArray::number(settings.revision);
    case 'V':
    case 'n':
    case 'f':
    case 'e':
        return answerSupply(command);
    case 'M':
    case 'm':
    case 'D':
    case 'C':
    case 'G':
        return answerInterfaceSetup(command);
    default:
        return answerEncoder(command);
    }
}

// ---- Supply ----

QByteArray SimulatedAdapter::answerSupply(const QByteArray& command) {
    if (command == "V5" || command == "V3") {
        voltage = command == "V5" ? SupplyVoltage::V5 : SupplyVoltage::V3;
        return command + " OK";
    }
    if (command[0] == 'V')
        return "ERROR: supply must be V3 or V5";
    if (command == "n") {
        switchSupply(true);
        return voltage == SupplyVoltage::V5 ? "ON 5.0V" : "ON 3.3V";
    }
    if (command == "f") {
        switchSupply(false);
        return "OFF";
    }
    return supplyText();
}

QByteArray SimulatedAdapter::supplyText() const {
    if (!supplyOn)
        return "OFF";
    return voltage == SupplyVoltage::V5 ? "ON 5.0V 38mA" : "ON 3.3V 45mA";
}

void SimulatedAdapter::switchSupply(bool on) {
    supplyOn = on;
    if (on)
        encoder->PowerOn();
    else
        encoder->PowerOff();
}

// ---- SPI interface set-up ----

QByteArray SimulatedAdapter::answerInterfaceSetup(const QByteArray& command) {
    quint32 value = 0;
    switch (command[0]) {
    case 'M':
        if (!parseNumber(command.mid(1), 10, value) || value < 1 || value > 8)
            return "ERROR: SPI clock setting must be 1 to 8";
        spiClock = static_cast<int>(value);
        return "OK";
    case 'm':
        return QByteArray("SPI clock ") + spiClockText(spiClock);
    case 'D':
        if (!parseNumber(command.mid(1), 10, value) || value < 1 || value > 900)
            return "ERROR: NCS-SCK delay must be 001 to 900";
        ncsSckDelay = static_cast<int>(value);
        return "NCS-SCK delay " + QByteArray::number(value) + " us";
    case 'C':
        if (command == "Ce" || command == "Cr") {
            crcMode = command == "Ce" ? AdapterCrcMode::Inverted : AdapterCrcMode::NonInverted;
            return command == "Ce" ? "CRC inverted" : "CRC non-inverted";
        }
        return "ERROR: CRC mode must be Ce or Cr";
    default:
        return command == "G0:1" ? "G0:1 OK" : "ERROR: unknown interface set-up";
    }
}

// ---- Encoder commands ----

QByteArray SimulatedAdapter::answerEncoder(const QByteArray& command) {
    const char first = command[0];
    if (first == 'x') {
        if (supplyOn)
            encoder->ResetProtocol();
        return "Reset of Dravonel protocol performed";
    }
    if (first == '?')
        return answerSpiTransfer(command);
    if (QByteArray("jRWd").indexOf(first) < 0)
        return UnknownCommandReply;
    if (!supplyOn)
        return NoSupplyReply;
    if (first == 'j')
        return encoder->Identification();
    if (first == 'R')
        return answerRegisterRead(command);
    if (first == 'W')
        return answerRegisterWrite(command);
    return answerStatusPosition();
}

bool SimulatedAdapter::registerCrcMatches() const {
    const bool encoderInverts = encoder->Profile().registerCrc == RegisterCrc::Inverted;
    return encoderInverts == (crcMode == AdapterCrcMode::Inverted);
}

// "R:ssss:aaaaaaaa"
QByteArray SimulatedAdapter::answerRegisterRead(const QByteArray& command) {
    quint32 size = 0, address = 0;
    parseNumber(command.mid(2, 4), 16, size);
    parseNumber(command.mid(7, 8), 16, address);
    return encoder->ReadRegister(static_cast<int>(size), address, registerCrcMatches());
}

// "W:ssss:aaaaaaaa:vvvvvvvv"
QByteArray SimulatedAdapter::answerRegisterWrite(const QByteArray& command) {
    quint32 size = 0, address = 0, value = 0;
    parseNumber(command.mid(2, 4), 16, size);
    parseNumber(command.mid(7, 8), 16, address);
    parseNumber(command.mid(16, 8), 16, value);
    return encoder->WriteRegister(static_cast<int>(size), address, value, registerCrcMatches());
}

// "?nn:ccc": clock nn bytes out of the encoder for SPI command ccc.
QByteArray SimulatedAdapter::answerSpiTransfer(const QByteArray& command) {
    quint32 byteCount = 0, code = 0;
    parseNumber(command.mid(1, 2), 10, byteCount);
    parseNumber(command.mid(4, 3), 10, code);
    if (byteCount < 1 || byteCount > 32)
        return "ERROR: byte count must be 01 to 32";
    if (!supplyOn)
        return QByteArray(2 * static_cast<int>(byteCount), '0');
    return encoder->SpiTransfer(static_cast<int>(byteCount), static_cast<int>(code))
        .toHex()
        .toUpper();
}

// "d": the adapter decodes the frame itself. Status text at characters 3-6;
// multi-turn at 10-13 and single-turn at 17-22, or the whole position at
// 10-15, or only the turns at 10-17. The adapter reports the encoder's status
// bits only while the encoder signals an error: the tool takes any status
// there for an error (and a warning), so a warning alone reads 0000.
QByteArray SimulatedAdapter::answerStatusPosition() {
    const PositionReading reading = encoder->ReadPosition();
    const quint32 reported = reading.error ? reading.status : 0;
    const QByteArray status = "S:" + hexDigits(reported & 0xFFFF, 4);
    StatusReplyForm form = statusReplyForm;
    if (form == StatusReplyForm::Auto)
        form = encoder->Profile().multiturn ? StatusReplyForm::Multiturn22
                                            : StatusReplyForm::Singleturn15;
    const quint32 turns = static_cast<quint32>(reading.multiturn);
    switch (form) {
    case StatusReplyForm::Multiturn22:
        return status + " M:" + hexDigits(turns & 0xFFFF, 4) +
               " P:" + hexDigits(reading.singleturn, 6);
    case StatusReplyForm::TurnsOnly17:
        return "MT COUNT:" + hexDigits(turns, 8);
    default: {
        const qint64 whole = (static_cast<qint64>(reading.multiturn) << encoder->Profile().stBits) +
                             reading.singleturn;
        return status + " P:" + hexDigits(static_cast<quint32>(whole) & 0xFFFFFF, 6);
    }
    }
}

// ---- Scripted replies, settings, inspection ----

void SimulatedAdapter::OverrideReply(const QByteArray& command, const QByteArray& rawReply) {
    QMutexLocker lock(&mutex);
    if (rawReply.isEmpty())
        overrides.remove(command);
    else
        overrides.insert(command, rawReply);
}

void SimulatedAdapter::ClearOverrides() {
    QMutexLocker lock(&mutex);
    overrides.clear();
}

void SimulatedAdapter::SetSettings(const AdapterSettings& newSettings) {
    QMutexLocker lock(&mutex);
    settings = newSettings;
}

AdapterSettings SimulatedAdapter::Settings() const {
    QMutexLocker lock(&mutex);
    return settings;
}

QList<QByteArray> SimulatedAdapter::ReceivedCommands() const {
    QMutexLocker lock(&mutex);
    return received;
}

void SimulatedAdapter::ClearReceivedCommands() {
    QMutexLocker lock(&mutex);
    received.clear();
}

QList<QByteArray> SimulatedAdapter::TakeReceivedCommands() {
    QMutexLocker lock(&mutex);
    return std::exchange(received, {});
}

bool SimulatedAdapter::SelectModel(const QString& name) {
    const std::optional<EncoderProfile> profile = FindEncoderProfile(name);
    if (profile)
        SetEncoderProfile(*profile);
    return profile.has_value();
}

void SimulatedAdapter::SetEncoderProfile(const EncoderProfile& profile) {
    QMutexLocker lock(&mutex);
    encoder = std::make_unique<SimulatedEncoder>(profile);
    if (supplyOn)
        encoder->PowerOn();
}

EncoderProfile SimulatedAdapter::EncoderProfileInUse() const {
    QMutexLocker lock(&mutex);
    return encoder->Profile();
}

void SimulatedAdapter::SetSupplyOn(bool on) {
    QMutexLocker lock(&mutex);
    switchSupply(on);
}

bool SimulatedAdapter::SupplyOn() const {
    QMutexLocker lock(&mutex);
    return supplyOn;
}

SupplyVoltage SimulatedAdapter::Voltage() const {
    QMutexLocker lock(&mutex);
    return voltage;
}

AdapterCrcMode SimulatedAdapter::CrcMode() const {
    QMutexLocker lock(&mutex);
    return crcMode;
}

int SimulatedAdapter::SpiClockSetting() const {
    QMutexLocker lock(&mutex);
    return spiClock;
}

int SimulatedAdapter::NcsSckDelay() const {
    QMutexLocker lock(&mutex);
    return ncsSckDelay;
}

void SimulatedAdapter::SetStatusReplyForm(StatusReplyForm form) {
    QMutexLocker lock(&mutex);
    statusReplyForm = form;
}
