#pragma once
// The Dravonel register protocol of the Ulvax encoders, carried by the
// Q714-7R adapter: register access, identification and register map,
// position and status frames, and the named encoder operations.
//
// Every operation returns a success flag and leaves the reason of a failure
// in LastError; nothing the adapter or the encoder answers throws. Every
// register, frame and status exchange stores its result code in
// EncoderPosition.ErrComm (the identification request "j" does not).
//
// Implemented by concern in Q714_SPI_Dravonel_Registers.cpp,
// _Identification.cpp, _Frames.cpp, _Operations.cpp, _Settings.cpp; module
// state in _State.cpp.

#include "Enkoderji_splosno.h"

#include <QByteArray>
#include <QString>
#include <array>

// ---------------------------------------------------------------------------
// Register access

// Message of the most recent failure; empty after a successful access.
extern QString LastError;
// Data bytes b0..b3 of the most recent register read, most significant first.
// All zero unless the last read succeeded.
extern std::array<quint8, 4> RegData;

// Trims characters of code 0x20 and below from both ends, then deletes every
// remaining space.
QByteArray NormaliseReply(const QByteArray& reply);

// Reads `size` bytes at `address` into RegData (right-aligned: a 2-byte value
// is b2·256 + b3). Does not reset the protocol first.
bool Dravonel_ReadRegister(quint32 address, qint32 size);
// RegData after a read: the 32-bit value b0..b3, its low 16 bits (b2, b3),
// and those taken signed; the callers choose what the register holds.
quint32 RegDataValue();
quint16 RegDataLowWord();
qint16 RegDataSigned16();
qint8 RegDataSigned8();

// Resets the protocol, then writes the value (negative values as two's
// complement). Sends no write when the reset fails.
bool Dravonel_WriteRegister(quint32 address, qint32 size, quint32 value);
// Sends "x"; on success LastError holds the adapter's confirmation text.
bool Dravonel_ResetProtocol();
// True when LastError says the encoder refused a register access for want of
// access rights: access denied, write access locked, or a read refused with
// "CRC invalid on read" (what a locked debug record answers).
bool LastErrorRefusesAccess();

// ---------------------------------------------------------------------------
// Identification and register map

// 0 until an encoder is identified, then 1 to 7.
extern quint8 EncoderType;
// Register-protocol version 1 to 4 (0 until identified).
extern quint8 DravonelVersion;
extern qint32 STbits;   // single-turn resolution in bits
extern qint32 STcounts; // 2^STbits
extern qint32 STmask;   // 2^STbits - 1
extern qint32 MTbits;   // 0 (single-turn) or 16

// The installed register map (U2 until an Ulvax-4 encoder is identified).
extern quint32 REG_ADDR_DRAVONEL_POS_OFFSET;
extern quint32 REG_ADDR_DRAVONEL_FILTER_POS_VAL;
extern quint32 REG_ADDR_DRAVONEL_MT_PRESET;
extern quint32 REG_ADDR_DRAVONEL_MT_ERR_TRESHOLD;
extern quint32 REG_ADDR_DRAVONEL_PERSISTENT_STATUS;
extern quint32 REG_ADDR_DRAVONEL_SIGNAL_LEVEL;
extern quint32 REG_ADDR_DRAVONEL_TEMPERATURE;
extern quint32 REG_ADDR_DRAVONEL_COMMAND;
extern quint32 REG_ADDR_DRAVONEL_CAL_STATUS;
extern quint32 REG_ADDR_DRAVONEL_CAL_ANGLE;
extern quint32 REG_ADDR_DRAVONEL_CAL_TIMEOUT;
extern quint32 REG_ADDR_DRAVONEL_CAL_ECCENTRICITY;
extern quint32 REG_ADDR_DRAVONEL_CAL_ECC_PHASE;
extern quint32 REG_ADDR_DRAVONEL_CAL_RADIAL_SHIFT;
extern quint32 REG_ADDR_DRAVONEL_FW_MAJOR;
extern quint32 REG_ADDR_DRAVONEL_FW_MINOR;
extern quint32 REG_ADDR_DRAVONEL_FW_COMM;
extern quint32 REG_ADDR_DRAVONEL_FW_SVN;
extern quint32 REG_ADDR_DRAVONEL_FW_HASH;
extern quint32 REG_ADDR_DRAVONEL_SERIAL_NUMBER;
extern quint32 REG_ADDR_DRAVONEL_ERROR_MAP;
extern qint32 REG_SIZE_DRAVONEL_PERSISTENT_STATUS;
extern qint32 REG_SIZE_DRAVONEL_SIGNAL_LEVEL;
extern qint32 REG_SIZE_DRAVONEL_CAL_STATUS;
extern qint32 REG_SIZE_DRAVONEL_FW_VERSION;
extern qint32 REG_SIZE_DRAVONEL_FW_SVN;
extern qint32 REG_SIZE_DRAVONEL_FW_HASH; // 0 = no hash register
extern qint32 REG_WORDS_DRAVONEL_SERIAL_NUMBER;

// Which optional registers the encoder implements (set by the presence check).
extern bool Present_MT_ERR_TRESHOLD;
extern bool Present_PERSISTENT_STATUS;
extern bool Present_SIGNAL_LEVEL;
extern bool Present_SELF_CAL_TIMEOUT;
extern bool Present_FIRMWARE_REVISION;
extern bool Present_U4_RUNTIME_LOG;

// Reads the identification ("j"), sets type, resolution and register map,
// probes the optional registers and reads serial number and firmware version
// into EncoderSignature.
bool Dravonel_ReadEncoderSignature();

// An identification whose resolution code the tables do not know, as a
// value: LastError holds the window's words for it, and other programs word
// it themselves.
struct UnknownResolution {
    QByteArray code; // characters 11 to 13 of the identification
};
// Set by an identification that failed on its resolution code; empty after
// any other.
extern QByteArray UnknownResolutionCode;
// Probes the optional registers of the installed map, sets the Present_ flags
// and settles the sizes of the firmware-version registers.
bool Dravonel_CheckPresenceOfRegisters();

// ---------------------------------------------------------------------------
// Position and status frames

// Status of the latest reading.
struct TEncoderStatus {
    qint32 SignalLevel = 0;
    quint32 DetailedStatus = 0;
    qint16 TemperatureSEN = 0; // degrees Celsius
    // Raw external thermistor reading (11 bits) from the frame of types 3
    // to 5. A type-3 status word of 0x8000 or more is kept as its 16-bit
    // pattern, so it shows as a negative number.
    qint16 TemperatureEXT = 0;
};
extern TEncoderStatus EncoderStatus;

// When set, a position reply that is not a whole frame (a "?" reply of
// other than two hexadecimal digits per byte, a "d" reply whose fields are
// not hexadecimal) fails its read with LastError naming the reply, and the
// position and flags keep their previous values. Unset (the window), such a
// reply decodes with its missing or invalid digits read as 0. q714 sets it:
// a script must never take such a reply for position 0.
extern bool RefuseMalformedFrames;

// Reads one raw frame ("?07:000" or "?05:000") into EncoderPosition and the
// frame-borne fields of EncoderStatus. True means the adapter answered; the
// encoder's error, warning and CRC state are in the flags. TrailingByte
// receives the frame's last byte (types 1, 2, 6, 7).
bool Dravonel_ReadPosition(quint8& TrailingByte);
// Reads the adapter's decoded status and position ("d").
bool Dravonel_ReadStatusPosition();
// Reads the second channel of a two-channel encoder from the trailing bytes
// of successive frames after a protocol reset.
bool Dravonel_ReadTwoChannelPosition();

// The texts of the set status bits, each followed by CR LF, in the order of
// the table for a status register of that size (2 or 4 bytes; none for any
// other size).
QString DetailedStatusTexts(quint32 status, qint32 registerSize);

// CRC-8 (polynomial 0x97) of the bytes; 0 for none.
quint8 CRC8(const QByteArray& bytes);
// CRC8 of the bytes the hexadecimal text spells ("ABC" = 0x0A 0xBC); pairs
// that are not hexadecimal count as 0.
quint8 CRC8OfHexText(const QByteArray& hexText);
// The lowest `digits` bits of value as "0"/"1" text, most significant first.
QByteArray IntToBin(qint32 digits, quint64 value);

// ---------------------------------------------------------------------------
// Encoder operations

// Last value of the self-calibration status register.
extern quint32 SelfCalStatus;
// Eccentricity, phase and radial shift of the last self-calibration.
extern QString SelfCalResultsText;

bool Dravonel_ReadSignalLevel();
bool Dravonel_ReadTemperature();
bool Dravonel_ReadPersistentStatus();
bool Dravonel_ClearPersistentStatus();
bool Dravonel_SaveToFlash();
bool Dravonel_FactoryReset();
bool Dravonel_ReadSelfCalStatus();
// Sets the arc (degrees) and time-out (seconds) when not 0, then starts the
// self-calibration.
bool Dravonel_StartSefCal(quint16 arc, quint8 timeout);
bool Dravonel_ReadSelfCalResults();
// Writes the preset, then the command that applies it.
bool Dravonel_PresetMultiturnCounter(quint16 preset);
// "Write status: [0xNN] " + the decoded status, or LastError when the read
// fails.
QString Dravonel_GetWriteAccesStatusRegister();

// ---------------------------------------------------------------------------
// Settings, self-calibration parameters, diagnostics and error map
// (Q714_SPI_Dravonel_Settings.cpp): register accesses of the Configuration,
// Self-Calibration, Diagnostics and Error Map workflows. Each is announced in
// the communication log by its register variable's name.

bool Dravonel_ReadPositionOffset(quint32& offset);
bool Dravonel_WritePositionOffset(quint32 offset);
bool Dravonel_ReadPositionFilter(quint32& filter);
bool Dravonel_WritePositionFilter(quint32 filter);
bool Dravonel_ReadMultiturnErrorArc(quint8& degrees);
// The value goes out as given: the encoder itself refuses one above 255.
bool Dravonel_WriteMultiturnErrorArc(quint32 degrees);
bool Dravonel_ReadSelfCalArc(quint16& degrees);
bool Dravonel_ReadSelfCalTimeout(quint8& seconds);
// The self-calibration's arc and time-out written on their own (a start
// with 0 for both then keeps them).
bool Dravonel_WriteSelfCalArc(quint16 degrees);
bool Dravonel_WriteSelfCalTimeout(quint8 seconds);
// Reads a 2-byte register at a fixed address, without a log marker (the
// extra self-calibration results).
bool Dravonel_ReadWord(quint32 address, quint16& word);
// Sets the recorded decoding safety margin "PER" back to 32000.
bool Dravonel_ResetDecodingSafetyMargin();
// One correction of the error map, point 0 to 511, in counts. Firmware 2
// sends the value low byte first.
bool Dravonel_ReadErrorMapPoint(int point, qint16& correction);

// ---------------------------------------------------------------------------
// Debug data (Q714_SPI_Dravonel_DebugData.cpp)

// The encoder's debug record as last read. Zero at start; a readout that does
// not reach a field leaves it as it was.
struct TDebugData {
    std::array<qint16, 56> Samples{}; // raw sensor samples, signed
    quint8 SampleCount = 0;           // valid samples: 53 (block) or 56 (protocol 4)
    quint32 AbsPos = 0;               // absolute position as the decoder saw it
    quint8 DecodSelect = 0;           // decoder's sample phase, 1-based
    quint16 CodeA = 0;                // decoded code words, low bits significant
    quint16 CodeB = 0;
    quint16 McuTemp = 0;   // raw
    quint16 CycleTime = 0; // clock ticks
    quint16 Status = 0;
    quint16 Vdda = 0; // raw
    quint8 ResetCnt = 0;
    quint16 DcdTrs = 0; // decoder threshold
    quint16 DcdWrn = 0; // decoder warning level
};
extern TDebugData DebugData;

// Latches a fresh debug record and reads it into DebugData. How the latch is
// sent and where the record lies follow the firmware version: protocol-4
// firmware (major 4) latches by the command register, and only when `latch`
// is true (otherwise it reads what the encoder latched on its own); firmware
// from minor version 9 on latches by register 0x48; older firmware by the
// adapter's SPI command "?07:021". Protocol-4 readouts also overwrite the
// position fields of EncoderPosition.
bool Dravonel_ReadDebugData(bool latch);
// Sends the encoder the debug unlock code (the same code that latches the
// debug record) through the command register of the U2 map.
bool Dravonel_UnlockDebug();

// ---------------------------------------------------------------------------

// Puts every global of the encoder layer back to its start value, the two
// records of Enkoderji_splosno included.
void ResetEncoderProtocolState();
