// Identification of the connected encoder: kind and resolution from the
// adapter's identification text, register map, presence of the optional
// registers, serial number and firmware version.

#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "Serial_driver.h"

namespace {

constexpr char IdentificationCommand[] = "j";
constexpr int FamilyLength = 2;
constexpr int VariantLetterIndex = 9;   // character 10
constexpr int ResolutionCodeIndex = 10; // characters 11 to 13
constexpr int PartNumberIndex = 2;      // characters 3 to 18
constexpr int PartNumberLength = 16;
constexpr quint32 Type5SerialExtraOffset = 16;

QString latin1(const QByteArray& text) {
    return QString::fromLatin1(text);
}

void clearIdentity() {
    UnknownResolutionCode.clear();
    EncoderSignature.SerialNumber.clear();
    EncoderSignature.PartNumber.clear();
    EncoderSignature.SerialDecoded.clear();
    EncoderSignature.ExtendedSerial.clear();
    EncoderSignature.FWverStr.clear();
    EncoderSignature.FWverMajor = 0;
    EncoderSignature.FWverMinor = 0;
    EncoderSignature.FWverComm = 0;
    EncoderSignature.FWverSVN = 0;
}

// Sends "j" and rejects failed exchanges, error replies and silence.
bool readIdentificationText(QByteArray& reply) {
    const qint32 result = SerialTransaction(COMPortHandle, IdentificationCommand, 0, reply);
    const QString shown = latin1(IdentificationCommand) + " -> " + latin1(KeepPrintable(reply));
    if (result != 0) {
        LastError =
            QStringLiteral("Error \"%1\" when reading encoder identification: ").arg(result) +
            shown;
        return false;
    }
    if (reply.toUpper().contains("ERROR")) {
        LastError = "ERROR returned when reading encoder identification: " + shown;
        return false;
    }
    // A reply of nothing but its CR counts as no answer.
    if (TrimText(reply).isEmpty()) {
        LastError = "Q714 interface does not respond when reading encoder identification.";
        return false;
    }
    return true;
}

// Encoders that answer with placeholder letters are identified by the text
// such an encoder stands for.
void applyIdentificationWorkaround(QByteArray& reply) {
    if (!reply.startsWith(IdentificationPlaceholder))
        return;
    reply = IdentificationReplacement;
    CommLogMarker(QByteArray("WORKAROUND: identification replacement: ") +
                  IdentificationPlaceholder + " -> " + IdentificationReplacement);
}

bool rowMatches(const TIdentificationRow& row, const QByteArray& reply) {
    if (reply.left(FamilyLength) != row.Family)
        return false;
    if (row.VariantLetter == 0)
        return true;
    return reply.size() > VariantLetterIndex && reply[VariantLetterIndex] == row.VariantLetter;
}

bool identifyEncoderType(const QByteArray& reply) {
    for (const TIdentificationRow& row : IdentificationTable) {
        if (rowMatches(row, reply)) {
            EncoderType = row.EncoderType;
            DravonelVersion = row.DravonelVersion;
            return true;
        }
    }
    LastError = "Unknown encoder type! (" + latin1(KeepPrintable(reply)) + ")";
    return false;
}

bool identifyResolution(const QByteArray& reply) {
    const QByteArray code = reply.mid(ResolutionCodeIndex, 3);
    for (const TResolutionRow& row : ResolutionTable) {
        if (code == row.Code) {
            STbits = row.STbits;
            STcounts = row.STcounts;
            MTbits = row.MTbits;
            STmask = STcounts - 1;
            EncoderSignature.Multiturn = MTbits > 0;
            return true;
        }
    }
    STbits = 1;
    STcounts = 1;
    MTbits = 0;
    UnknownResolutionCode = code;
    LastError = "Resolucija \"" + latin1(code) + "\" ni poznana!";
    return false;
}

void appendRegDataBytes(QByteArray& text, int first) {
    for (int i = first; i < 4; ++i)
        text += static_cast<char>(RegData[i]);
}

// The serial number is text stored in consecutive 4-byte registers; type 5
// keeps two more characters in a 2-byte register after them.
bool readSerialNumber() {
    QByteArray text;
    for (qint32 i = 0; i < REG_WORDS_DRAVONEL_SERIAL_NUMBER; ++i) {
        if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SERIAL_NUMBER + 4 * quint32(i), 4))
            return false;
        appendRegDataBytes(text, 0);
    }
    if (EncoderType == 5) {
        if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_SERIAL_NUMBER + Type5SerialExtraOffset, 2))
            return false;
        appendRegDataBytes(text, 2);
    }
    EncoderSignature.SerialNumber = NormaliseReply(KeepPrintable(text));
    return true;
}

// Major, minor and third part keep the low 16 bits whatever their size.
bool readFirmwareParts() {
    const quint32 addresses[] = {REG_ADDR_DRAVONEL_FW_MAJOR, REG_ADDR_DRAVONEL_FW_MINOR,
                                 REG_ADDR_DRAVONEL_FW_COMM};
    quint32* parts[] = {&EncoderSignature.FWverMajor, &EncoderSignature.FWverMinor,
                        &EncoderSignature.FWverComm};
    for (int i = 0; i < 3; ++i) {
        if (!Dravonel_ReadRegister(addresses[i], REG_SIZE_DRAVONEL_FW_VERSION))
            return false;
        *parts[i] = RegDataLowWord();
    }
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_FW_SVN, REG_SIZE_DRAVONEL_FW_SVN))
        return false;
    EncoderSignature.FWverSVN = REG_SIZE_DRAVONEL_FW_SVN == 2 ? RegDataLowWord() : RegDataValue();
    return true;
}

bool readFirmwareVersion() {
    if (!readFirmwareParts())
        return false;
    TEncoderSignature& s = EncoderSignature;
    s.FWverStr = QStringLiteral("%1.%2.%3.%4")
                     .arg(s.FWverMajor)
                     .arg(s.FWverMinor)
                     .arg(s.FWverComm)
                     .arg(s.FWverSVN);
    if (REG_SIZE_DRAVONEL_FW_HASH != 4)
        return true;
    if (!Dravonel_ReadRegister(REG_ADDR_DRAVONEL_FW_HASH, 4))
        return false;
    s.FWverHash = RegDataValue();
    s.FWverStr += QStringLiteral(".%1").arg(s.FWverHash, 8, 16, QLatin1Char('0')).toUpper();
    return true;
}

enum class TProbeOutcome { Absent, Present, Error, WrongSize };

// Reads the register and tells from the refusal whether it exists.
TProbeOutcome probeRegister(quint32 address, qint32 size) {
    if (Dravonel_ReadRegister(address, size))
        return TProbeOutcome::Present;
    if (LastError.contains(QLatin1String("RCV: 0x26:"))) {
        LastError.clear();
        return TProbeOutcome::Absent;
    }
    if (LastError.contains(QLatin1String("RCV: 0xee:")))
        return TProbeOutcome::WrongSize;
    return TProbeOutcome::Error;
}

// The firmware-version registers are 2 bytes on older and 4 bytes on newer
// firmware: a 2-byte read refused as the wrong size is repeated with 4.
TProbeOutcome probeVersionRegister(quint32 address, qint32& size) {
    size = 2;
    TProbeOutcome outcome = probeRegister(address, size);
    if (outcome == TProbeOutcome::WrongSize) {
        size = 4;
        outcome = probeRegister(address, size);
    }
    return outcome;
}

struct TPresenceProbe {
    quint32 Address;
    qint32 Size;
    bool* Flag;
};

} // namespace

bool Dravonel_CheckPresenceOfRegisters() {
    CommLogMarker("Dravonel_CheckPresenceOfRegisters");
    const TPresenceProbe probes[] = {
        {REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD, 1, &Present_MT_ERR_TRESHOLD},
        {REG_ADDR_DRAVONEL_PERSISTENT_STATUS, REG_SIZE_DRAVONEL_PERSISTENT_STATUS,
         &Present_PERSISTENT_STATUS},
        {REG_ADDR_DRAVONEL_SIGNAL_LEVEL, REG_SIZE_DRAVONEL_SIGNAL_LEVEL, &Present_SIGNAL_LEVEL},
        {REG_ADDR_DRAVONEL_CAL_TIMEOUT, 1, &Present_SELF_CAL_TIMEOUT},
        {REG_ADDR_DRAVONEL_U4_RUNTIME_LOG, 1, &Present_U4_RUNTIME_LOG},
    };
    for (const TPresenceProbe& probe : probes) {
        const TProbeOutcome outcome = probeRegister(probe.Address, probe.Size);
        *probe.Flag = outcome == TProbeOutcome::Present;
        if (outcome == TProbeOutcome::Error)
            return false;
    }
    // Both version probes set the one firmware flag; the source revision's
    // outcome is the one that stays.
    const std::pair<quint32, qint32*> versionProbes[] = {
        {REG_ADDR_DRAVONEL_FW_MAJOR, &REG_SIZE_DRAVONEL_FW_VERSION},
        {REG_ADDR_DRAVONEL_FW_SVN, &REG_SIZE_DRAVONEL_FW_SVN},
    };
    for (const auto& [address, size] : versionProbes) {
        const TProbeOutcome outcome = probeVersionRegister(address, *size);
        Present_FIRMWARE_REVISION = outcome == TProbeOutcome::Present;
        if (outcome == TProbeOutcome::Error)
            return false;
    }
    return true;
}

bool Dravonel_ReadEncoderSignature() {
    CommLogMarker("Dravonel_ReadEncoderSignature");
    clearIdentity();
    QByteArray reply;
    if (!readIdentificationText(reply))
        return false;
    applyIdentificationWorkaround(reply);
    EncoderSignature.PartNumber = KeepPrintable(reply).mid(PartNumberIndex, PartNumberLength);
    if (!identifyEncoderType(reply) || !identifyResolution(reply))
        return false;
    InstallRegisterMap(UsesRegisterMapU4(EncoderType) ? TRegisterMapColumn::U4
                                                      : TRegisterMapColumn::U2);
    if (!Dravonel_CheckPresenceOfRegisters() || !readSerialNumber())
        return false;
    if (!Present_FIRMWARE_REVISION)
        return true;
    return readFirmwareVersion();
}
