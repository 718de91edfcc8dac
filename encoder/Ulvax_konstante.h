#pragma once
// Constants of the Ulvax-2 and Ulvax-4 encoders: how an identification text
// maps to an encoder kind and resolution, the two register maps, the
// registers at fixed addresses, the encoder's command codes and the frame CRC.
// Tables are data; the protocol code in Q714_SPI_Dravonel_*.cpp reads them.

#include <QtGlobal>
#include <array>

// ---------------------------------------------------------------------------
// Identification text ("j" reply): characters 1-2 family code, 10 variant
// letter, 11-13 resolution code, 3-18 part number.

struct TIdentificationRow {
    char Family[3];     // characters 1 and 2
    char VariantLetter; // character 10; 0 = any letter (also a short reply)
    quint8 EncoderType;
    quint8 DravonelVersion;
};

// Tested in this order; the first matching row wins.
inline constexpr std::array<TIdentificationRow, 10> IdentificationTable = {{
    {"62", 0, 1, 1},
    {"64", 0, 1, 1},
    {"73", 'N', 2, 2},
    {"73", 'P', 3, 2},
    {"75", 'Q', 4, 3},
    {"75", 'R', 5, 3},
    {"84", 'M', 6, 4},
    {"86", 'M', 6, 4},
    {"84", 'P', 7, 4},
    {"86", 'P', 7, 4},
}};

struct TResolutionRow {
    char Code[4]; // characters 11 to 13, exact match
    qint32 STbits;
    qint32 STcounts;
    qint32 MTbits; // 16 when the encoder counts turns
};

// There is deliberately no "15M": no multi-turn encoder has 15 bits.
inline constexpr std::array<TResolutionRow, 15> ResolutionTable = {{
    {"15B", 15, 32768, 0},
    {"16B", 16, 65536, 0},
    {"17B", 17, 131072, 0},
    {"18B", 18, 262144, 0},
    {"19B", 19, 524288, 0},
    {"20B", 20, 1048576, 0},
    {"21B", 21, 2097152, 0},
    {"22B", 22, 4194304, 0},
    {"16M", 16, 65536, 16},
    {"17M", 17, 131072, 16},
    {"18M", 18, 262144, 16},
    {"19M", 19, 524288, 16},
    {"20M", 20, 1048576, 16},
    {"21M", 21, 2097152, 16},
    {"22M", 22, 4194304, 16},
}};

// Some encoders answer with placeholder letters in their identification; they
// are Ulvax-4 single-turn encoders with 17 bits and are identified as such.
inline constexpr char IdentificationPlaceholder[] = "84JW306xxx17Bxxx00";
inline constexpr char IdentificationReplacement[] = "84JW306KTM17BGWV00";

// ---------------------------------------------------------------------------
// Register maps. Ulvax-2 generation encoders (types 1 to 4) use the U2 column,
// Ulvax-4 generation encoders (types 5 to 7) the U4 column.

enum class TRegisterMapColumn { U2, U4 };

template <typename T> struct TRegisterMapRow {
    T U2;
    T U4;
    constexpr T In(TRegisterMapColumn column) const {
        return column == TRegisterMapColumn::U4 ? U4 : U2;
    }
};

struct TRegisterMap {
    // Register addresses.
    TRegisterMapRow<quint32> POS_OFFSET;
    TRegisterMapRow<quint32> FILTER_POS_VAL;
    TRegisterMapRow<quint32> MT_PRESET;
    TRegisterMapRow<quint32> MT_ERR_TRESHOLD;
    TRegisterMapRow<quint32> PERSISTENT_STATUS;
    TRegisterMapRow<quint32> SIGNAL_LEVEL;
    TRegisterMapRow<quint32> TEMPERATURE;
    TRegisterMapRow<quint32> COMMAND;
    TRegisterMapRow<quint32> CAL_STATUS;
    TRegisterMapRow<quint32> CAL_ANGLE;
    TRegisterMapRow<quint32> CAL_TIMEOUT;
    TRegisterMapRow<quint32> CAL_ECCENTRICITY;
    TRegisterMapRow<quint32> CAL_ECC_PHASE;
    TRegisterMapRow<quint32> CAL_RADIAL_SHIFT;
    TRegisterMapRow<quint32> FW_MAJOR;
    TRegisterMapRow<quint32> FW_MINOR;
    TRegisterMapRow<quint32> FW_COMM;
    TRegisterMapRow<quint32> FW_SVN;
    TRegisterMapRow<quint32> FW_HASH;
    TRegisterMapRow<quint32> SERIAL_NUMBER;
    TRegisterMapRow<quint32> ERROR_MAP;
    // Register sizes in bytes (0 = not known yet or no such register).
    TRegisterMapRow<qint32> SIZE_PERSISTENT_STATUS;
    TRegisterMapRow<qint32> SIZE_SIGNAL_LEVEL;
    TRegisterMapRow<qint32> SIZE_CAL_STATUS;
    TRegisterMapRow<qint32> SIZE_FW_VERSION; // settled by the presence check
    TRegisterMapRow<qint32> SIZE_FW_SVN;     // settled by the presence check
    TRegisterMapRow<qint32> SIZE_FW_HASH;
    // Number of 4-byte reads that make up the serial number.
    TRegisterMapRow<qint32> WORDS_SERIAL_NUMBER;
};

inline constexpr TRegisterMap UlvaxRegisterMap = {
    //  U2      U4
    {0x00, 0x80},      // POS_OFFSET
    {0x04, 0x84},      // FILTER_POS_VAL
    {0x14, 0x94},      // MT_PRESET
    {0x18, 0x98},      // MT_ERR_TRESHOLD
    {0x2C, 0x0A},      // PERSISTENT_STATUS
    {0x4E, 0x02},      // SIGNAL_LEVEL
    {0x4C, 0x00},      // TEMPERATURE
    {0x49, 0xBD},      // COMMAND
    {0x52, 0xC0},      // CAL_STATUS
    {0x19, 0xC4},      // CAL_ANGLE
    {0x21, 0xC6},      // CAL_TIMEOUT
    {0x1B, 0xC8},      // CAL_ECCENTRICITY
    {0x1D, 0xCA},      // CAL_ECC_PHASE
    {0x1F, 0xCC},      // CAL_RADIAL_SHIFT
    {0x2F, 0x68},      // FW_MAJOR
    {0x31, 0x6A},      // FW_MINOR
    {0x33, 0x6C},      // FW_COMM
    {0x35, 0x6E},      // FW_SVN
    {0x00, 0x72},      // FW_HASH
    {0x5C, 0x40},      // SERIAL_NUMBER
    {0x1800, 0x10000}, // ERROR_MAP
    {2, 4},            // SIZE_PERSISTENT_STATUS
    {2, 4},            // SIZE_SIGNAL_LEVEL
    {1, 4},            // SIZE_CAL_STATUS
    {0, 2},            // SIZE_FW_VERSION
    {0, 4},            // SIZE_FW_SVN
    {0, 4},            // SIZE_FW_HASH
    {2, 4},            // WORDS_SERIAL_NUMBER
};

// Points of the error map, 2 bytes each from REG_ADDR_DRAVONEL_ERROR_MAP on.
inline constexpr int ErrorMapPoints = 512;

// The encoder with two rings (channel 0 the outer, channel 1 the inner ring),
// read by raw frames whose trailing bytes carry channel 1.
inline constexpr quint8 TwoRingEncoderType = 7;
constexpr bool IsTwoRingEncoder(quint8 encoderType) {
    return encoderType == TwoRingEncoderType;
}

// Encoder types that carry the U4 register map.
constexpr bool UsesRegisterMapU4(quint8 encoderType) {
    return encoderType >= 5 && encoderType <= 7;
}

// Registers at the same address on every encoder (outside the switched map).
inline constexpr quint32 REG_ADDR_DRAVONEL_WRITE_STATUS = 0x0E;        // 1 byte
inline constexpr quint32 REG_ADDR_DRAVONEL_SAFE_MARGIN_RT = 0x10;      // 2 bytes, signed
inline constexpr quint32 REG_ADDR_DRAVONEL_U4_SAFE_MARGIN_PER = 0x12;  // 2 bytes, signed
inline constexpr quint32 REG_ADDR_DRAVONEL_U4_RUNTIME_LOG = 0x34;      // power cycles, 4 bytes
inline constexpr quint32 REG_ADDR_DRAVONEL_OPERATING_MINUTES = 0x38;   // 4 bytes
inline constexpr quint32 REG_ADDR_DRAVONEL_TEMPERATURE_LOWEST = 0x3C;  // 1 byte
inline constexpr quint32 REG_ADDR_DRAVONEL_TEMPERATURE_HIGHEST = 0x3E; // 2 bytes
inline constexpr quint32 REG_ADDR_DRAVONEL_DEBUG_LATCH = 0x48;         // 1 byte
inline constexpr quint32 REG_ADDR_DRAVONEL_DEBUG_BLOCK = 0x200;        // 33 words, firmware x.9+
inline constexpr quint32 REG_ADDR_DRAVONEL_DEBUG_P4 = 0x20000;         // protocol-4 debug set
inline constexpr quint32 REG_ADDR_DRAVONEL_U2_COMMAND = 0x49;          // 1 byte
inline constexpr quint32 REG_ADDR_DRAVONEL_CAL_AVG_H = 0xCE;           // 2 bytes, signed
inline constexpr quint32 REG_ADDR_DRAVONEL_CAL_ECC_SHIFT = 0xD0;       // 2 bytes
inline constexpr quint32 REG_ADDR_DRAVONEL_CAL_ECC_PHASE_EXTRA = 0xD2; // 2 bytes

// Value written to the decoding safety margin "PER" to reset it.
inline constexpr qint32 SafeMarginResetValue = 32000;

// ---------------------------------------------------------------------------
// Encoder commands, written as one byte to REG_ADDR_DRAVONEL_COMMAND.

inline constexpr quint8 DRAVONEL_CMD_START_SELF_CAL = 0x41;          // 'A'
inline constexpr quint8 DRAVONEL_CMD_CLEAR_PERSISTENT_STATUS = 0x62; // 'b'
inline constexpr quint8 DRAVONEL_CMD_SAVE_TO_FLASH = 0x63;           // 'c'
inline constexpr quint8 DRAVONEL_CMD_APPLY_MT_PRESET = 0x6D;         // 'm'
inline constexpr quint8 DRAVONEL_CMD_FACTORY_RESET = 0x72;           // 'r'
// Latches the debug record (protocol-4 firmware) and, written to the U2
// command register 0x49, unlocks the debug functions. The code comes with the
// encoder's documentation; this is its one home.
inline constexpr quint8 DRAVONEL_CMD_DEBUG_LATCH = 0x44; // 'D'

// Bits of the write-access status register, tested in this order; the first
// that applies names the status.
struct TWriteStatusRow {
    quint8 Mask;
    const char* Text;
};
inline constexpr std::array<TWriteStatusRow, 4> WriteStatusTable = {{
    {0x01, "Access Denied"},
    {0x02, "Value out of range"},
    {0x40, "Command executed"},
    {0x80, "Write lock active"},
}};
inline constexpr char WriteStatusOtherBits[] = "Unknown status";
inline constexpr char WriteStatusNone[] = "(no recent write access)";

// ---------------------------------------------------------------------------
// Position frames.

// CRC-8 of the raw frames: x^8 + x^7 + x^4 + x^2 + x + 1, MSB first, initial
// value 0, no reflection, no final XOR.
inline constexpr quint8 CRC8_POLYNOMIAL = 0x97;

// Warning bits 15..11 of the status word of types 4 and 5 and the detailed
// status bits they stand for.
struct TStatusWordRow {
    quint16 WordBit;
    quint32 Type4Status;
    quint32 Type5Status;
};
inline constexpr std::array<TStatusWordRow, 5> StatusWordTable = {{
    {0x8000, 0x0110, 0x4000}, // "Warning Temperature"
    {0x4000, 0x0140, 0x2000}, // "Warning Signal Low"
    {0x2000, 0x0180, 0x1000}, // "Warning Signal High"
    {0x1000, 0x0102, 0x0800}, // "Warning Magnetic Pattern"
    {0x0800, 0x0101, 0x0400}, // "Warning High Speed"
}};
// Thermistor reading carried in the low bits of the status word (types 4, 5).
inline constexpr quint16 StatusWordTemperatureMask = 0x07FF;

// ---------------------------------------------------------------------------
// Texts of the detailed status bits, by the size of the status register. A
// row's text applies when all its bits are set.

struct TStatusTextRow {
    quint32 Bits;
    const char* Text;
};

// Status register of 2 bytes. Bits 9 and 8 say error or warning, bits 1 and
// 0 which of the pattern or motion conditions.
inline constexpr std::array<TStatusTextRow, 16> TwoByteStatusTexts = {{
    {1u << 15, "Error Multiturn"},
    {1u << 14, "Error Signal Clipping"},
    {1u << 13, "Warning Signal High 2"},
    {1u << 12, "Error Sensor"},
    {1u << 11, "Error SSync"},
    {1u << 10, "Error Configuration"},
    {1u << 7, "Warning Signal High"},
    {1u << 6, "Warning Signal Low"},
    {1u << 5, "Error Signal Lost"},
    {1u << 4, "Warning Temperature"},
    {1u << 3, "Error Poiwer"},
    {1u << 2, "Error System"},
    {(1u << 9) | (1u << 1), "Error Magnetic pattern"},
    {(1u << 8) | (1u << 1), "Warning Magnetic Pattern"},
    {(1u << 9) | (1u << 0), "Error Acceleration"},
    {(1u << 8) | (1u << 0), "Warning High Speed"},
}};

// Status register of 4 bytes; bits 16 to 31 have no text.
inline constexpr std::array<TStatusTextRow, 16> FourByteStatusTexts = {{
    {1u << 15, "Warning 8000"},
    {1u << 14, "Warning Temperature"},
    {1u << 13, "Warning Signal Low"},
    {1u << 12, "Warning Signal High"},
    {1u << 11, "Warning Magnetic Pattern"},
    {1u << 10, "Warning High Speed"},
    {1u << 9, "Error Multiturn"},
    {1u << 8, "Error Acceleration"},
    {1u << 7, "Error Magnetic Pattern"},
    {1u << 6, "Error Signal Lost"},
    {1u << 5, "Error Signal High"},
    {1u << 4, "Error System"},
    {1u << 3, "Error Power"},
    {1u << 2, "Error Configuration"},
    {1u << 1, "Error 0002"},
    {1u << 0, "Error 0001"},
}};
