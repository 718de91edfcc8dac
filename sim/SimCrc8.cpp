#include "SimCrc8.h"

quint8 BitwiseCrc8(const QByteArray& bytes) {
    constexpr quint8 polynomial = 0x97;
    quint8 crc = 0;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? static_cast<quint8>((crc << 1) ^ polynomial)
                               : static_cast<quint8>(crc << 1);
    }
    return crc;
}
