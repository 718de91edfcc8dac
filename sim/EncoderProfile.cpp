#include "EncoderProfile.h"

bool SendsInvertedFrameCrc(int encoderType) {
    return encoderType == 1 || encoderType == 6 || encoderType == 7;
}

bool SendsStatusWord(int encoderType) {
    return encoderType >= 3 && encoderType <= 5;
}

int CodeLengthOfPart(const QByteArray& identification) {
    const QByteArray part = identification.mid(2);
    for (const char* ring : {"RX731", "RX746", "JW", "JY"})
        if (part.startsWith(ring))
            return 9;
    for (const char* ring : {"RX712", "RX718"})
        if (part.startsWith(ring))
            return 7;
    for (const char* ring : {"RX705", "RX702"})
        if (part.startsWith(ring))
            return 6;
    return part.startsWith("JV4") ? 5 : 8;
}

int SerialNumberSpace(const EncoderProfile& profile) {
    if (profile.map == RegisterMapKind::U2)
        return 8;
    return profile.type == 5 ? 18 : 16;
}

namespace {

// Firmware 4.x: 4-byte version registers, 4-byte source revision, a hash.
void useFirmware4(EncoderProfile& p, quint32 minor, quint32 comm, quint32 svn, quint32 hash) {
    p.fwMajor = 4;
    p.fwMinor = minor;
    p.fwComm = comm;
    p.fwSvn = svn;
    p.fwRegisterSize = 4;
    p.svnRegisterSize = 4;
    p.hashRegister = true;
    p.fwHash = hash;
}

EncoderProfile base(const char* name, const char* summary, const char* identification, int type,
                    int stBits, bool multiturn) {
    EncoderProfile p;
    p.name = QString::fromLatin1(name);
    p.summary = QString::fromLatin1(summary);
    p.identification = identification;
    p.type = type;
    p.map = type >= 5 ? RegisterMapKind::U4 : RegisterMapKind::U2;
    p.stBits = stBits;
    p.multiturn = multiturn;
    p.twoChannels = type == 7;
    return p;
}

EncoderProfile type2Multiturn17() {
    EncoderProfile p = base("t2-mt17",
                            "everyday encoder: all optional registers, firmware 2.9 with 2-byte "
                            "version registers",
                            "73RX712KAN17MDG000", 2, 17, true);
    p.serialNumber = "UX217041";
    p.signalLevelBase = 475;
    return p;
}

EncoderProfile type1Singleturn19() {
    EncoderProfile p = base("t1-st19",
                            "oldest kind: inverted frame CRC, no firmware, persistent-status, "
                            "runtime-log or time-out registers; zero-padded serial",
                            "64RX705AAX19BDA000", 1, 19, false);
    p.firmwareRegisters = false;
    p.fwMajor = p.fwMinor = p.fwComm = p.fwSvn = 0;
    p.hasMtErrThreshold = false;
    p.hasPersistentStatus = false;
    p.hasCalTimeout = false;
    p.hasRuntimeLog = false;
    p.serialNumber = "A1905";
    p.signalLevelBase = 420;
    return p;
}

EncoderProfile type1Multiturn20() {
    EncoderProfile p = base("t1-mt20",
                            "family 62, inverted frame CRC, firmware 2.8 (debug latch by "
                            "\"?07:021\", base air-gap coefficients)",
                            "62RX746BBN20MDB000", 1, 20, true);
    p.fwMinor = 8;
    p.fwSvn = 8120;
    p.serialNumber = "UX120113";
    p.signalLevelBase = 240;
    return p;
}

EncoderProfile type2Singleturn22() {
    EncoderProfile p =
        base("t2-st22", "widest single-turn field: 22 bits, only the flag bits below",
             "73JW301CCN22BDC000", 2, 22, false);
    p.serialNumber = "UX222002";
    p.signalLevelBase = 490;
    return p;
}

EncoderProfile type2NonInvertedCrc() {
    EncoderProfile p = base("t2-mt16-cr",
                            "register protocol with non-inverted CRC: fails under \"Ce\", works "
                            "under \"Cr\" (the program retries)",
                            "73RX731DDN16MDD000", 2, 16, true);
    p.registerCrc = RegisterCrc::NonInverted;
    p.serialNumber = "UX216777";
    p.signalLevelBase = 480;
    return p;
}

EncoderProfile type3Singleturn18() {
    EncoderProfile p =
        base("t3-st18", "status word or thermistor reading in front of the position field",
             "73RX718EEP18BDE000", 3, 18, false);
    p.serialNumber = "UX318230";
    p.signalLevelBase = 470;
    return p;
}

EncoderProfile type4Singleturn20() {
    EncoderProfile p =
        base("t4-st20", "thermistor reading plus five warning bits in the status word",
             "75RX712FFQ20BDF000", 4, 20, false);
    p.serialNumber = "UX420554";
    p.signalLevelBase = 475;
    return p;
}

EncoderProfile type5Singleturn21() {
    EncoderProfile p = base("t5-st21",
                            "U4 map with 2-byte frame status, firmware 4.2 (4-byte version "
                            "registers, hash), 18-character serial",
                            "75JW402GGR21BDG000", 5, 21, false);
    useFirmware4(p, 2, 0, 10231, 0x5E1D2C3B);
    p.serialNumber = "UX5-21-0004087-AB7";
    p.signalLevelBase = 300;
    return p;
}

EncoderProfile type6Multiturn19() {
    EncoderProfile p = base("t6-mt19",
                            "U4 map, inverted frame CRC, firmware 4.1, extended air gap (part "
                            "letter S) with extra self-calibration results",
                            "84RX746HHM19MSH000", 6, 19, true);
    useFirmware4(p, 1, 3, 10512, 0x0A17C3E9);
    p.serialNumber = "UX6-19-000012345";
    p.signalLevelBase = 420;
    return p;
}

EncoderProfile type6Workaround() {
    EncoderProfile p = base("t6-st17-jw306",
                            "sends the faulty identification \"84JW306xxx17Bxxx00\" that the "
                            "program replaces",
                            "84JW306xxx17Bxxx00", 6, 17, false);
    useFirmware4(p, 0, 5, 9870, 0x33C0FFEE);
    p.serialNumber = "UX6-17-000000306";
    p.signalLevelBase = 140;
    return p;
}

EncoderProfile type6Multiturn17ExtraResults() {
    EncoderProfile p = base("t6-mt17-w",
                            "U4 map, 4-byte self-calibration status, part letter W (extra "
                            "results), firmware 4.0 with source revision 9310 (a run ends when "
                            "its results change)",
                            "84JW306KTM17MWV100", 6, 17, true);
    useFirmware4(p, 0, 2, 9310, 0x1C0FFEE7);
    p.serialNumber = "UX6-17-000009310";
    p.signalLevelBase = 160;
    return p;
}

EncoderProfile type7Multiturn18() {
    EncoderProfile p = base("t7-mt18",
                            "two rings: channel 1 in the trailing bytes (9-byte stream), "
                            "firmware 4.3",
                            "86RX731JJP18MDJ000", 7, 18, true);
    useFirmware4(p, 3, 1, 11020, 0x7D21B004);
    p.serialNumber = "UX7-18-000007001";
    p.signalLevelBase = 290;
    return p;
}

EncoderProfile type7Singleturn20() {
    EncoderProfile p =
        base("t7-st20", "two rings, single-turn: 7-byte channel-1 stream, firmware 4.3",
             "84JY205KKP20BDK000", 7, 20, false);
    useFirmware4(p, 3, 1, 11020, 0x7D21B004);
    p.serialNumber = "UX7-20-000007002";
    p.signalLevelBase = 290;
    return p;
}

} // namespace

QList<EncoderProfile> EncoderCatalogue() {
    return {type2Multiturn17(),
            type1Singleturn19(),
            type1Multiturn20(),
            type2Singleturn22(),
            type2NonInvertedCrc(),
            type3Singleturn18(),
            type4Singleturn20(),
            type5Singleturn21(),
            type6Multiturn19(),
            type6Workaround(),
            type6Multiturn17ExtraResults(),
            type7Multiturn18(),
            type7Singleturn20()};
}

std::optional<EncoderProfile> FindEncoderProfile(const QString& name) {
    for (const EncoderProfile& profile : EncoderCatalogue())
        if (profile.name.compare(name, Qt::CaseInsensitive) == 0)
            return profile;
    return std::nullopt;
}

QString DefaultEncoderModelName() {
    return QStringLiteral("t2-mt17");
}

EncoderProfile DefaultEncoderProfile() {
    return type2Multiturn17();
}
