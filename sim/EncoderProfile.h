#pragma once
// What makes one simulated encoder model differ from another, and the
// ready-made catalogue of models, chosen by name.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

enum class RegisterMapKind { U2, U4 };

// The CRC the encoder's register protocol uses. The adapter must be set to the
// same one ("Ce" inverted, "Cr" non-inverted), otherwise register accesses
// fail with CRC errors.
enum class RegisterCrc { Inverted, NonInverted };

struct EncoderProfile {
    QString name;
    QString summary;           // one line: what this model shows
    QByteArray identification; // reply to "j" (the adapter adds CR)
    int type = 2;              // 1 to 7
    RegisterMapKind map = RegisterMapKind::U2;
    int stBits = 17;
    bool multiturn = true;
    bool twoChannels = false; // channel 1 streams through the trailing bytes

    // Firmware version registers; absent when firmwareRegisters is false.
    bool firmwareRegisters = true;
    quint32 fwMajor = 2, fwMinor = 9, fwComm = 1, fwSvn = 8812;
    int fwRegisterSize = 2;  // major, minor and third part: 2 or 4 bytes
    int svnRegisterSize = 2; // source revision: 2 or 4 bytes
    bool hashRegister = false;
    quint32 fwHash = 0;

    // Serial-number registers: the text, padded with zero bytes to the
    // register space (8 characters on U2, 16 on U4, 18 for type 5).
    QByteArray serialNumber = "UX000000";

    // Optional registers.
    bool hasMtErrThreshold = true;
    bool hasPersistentStatus = true;
    bool hasSignalLevel = true;
    bool hasCalTimeout = true;
    bool hasRuntimeLog = true; // runtime log 0x34..0x3E and safety margins

    RegisterCrc registerCrc = RegisterCrc::Inverted;
    int signalLevelBase = 500; // mean raw signal level over a turn
};

// Types 1, 6 and 7 send the frame CRC inverted.
bool SendsInvertedFrameCrc(int encoderType);
// Types 3 to 5 send a status word in front of the position field.
bool SendsStatusWord(int encoderType);
// Code length of the ring (5 to 9) by the part number's ring code.
int CodeLengthOfPart(const QByteArray& identification);
// Bytes the serial-number registers hold.
int SerialNumberSpace(const EncoderProfile& profile);

QList<EncoderProfile> EncoderCatalogue();
std::optional<EncoderProfile> FindEncoderProfile(const QString& name); // case-insensitive
QString DefaultEncoderModelName();
EncoderProfile DefaultEncoderProfile();
