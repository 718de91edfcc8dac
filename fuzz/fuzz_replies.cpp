// Fuzz target: whatever the adapter or the encoder answers, the reply parsers
// of the serial channel, the adapter search and the encoder protocol return
// a result and never crash, read out of bounds or overflow.
//
// Input: byte 0 picks the operation, bytes 1 to 3 the encoder kind that an
// identification would have left, and the rest, split at LF, are the replies
// to the operation's commands in turn.
#include "AdapterSearch.h"
#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Q714_SPI_Dravonel_p.h"
#include "ReplyScript.h"
#include "Serial_driver.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <cstdint>
#include <functional>

namespace {

ReplyScript& adapter() {
    static ReplyScript script;
    return script;
}

bool openChannel() {
    if (COMPortHandle)
        return true;
    COMPortHandle = OpenSerialPort(adapter().DevicePath());
    return COMPortHandle != nullptr;
}

void assumeEncoder(const uint8_t* kind) {
    EncoderType = quint8(1 + kind[0] % 7);
    STbits = 15 + kind[1] % 8;
    STcounts = 1 << STbits;
    STmask = STcounts - 1;
    MTbits = kind[2] & 1 ? 16 : 0;
    EncoderSignature.Multiturn = MTbits > 0;
    EncoderSignature.FWverMajor = kind[2] & 2 ? 4 : 2;
    if (kind[2] & 4)
        InstallRegisterMap(TRegisterMapColumn::U4);
}

const std::function<void(const uint8_t*)> Operations[] = {
    [](const uint8_t*) {
        quint8 trailing = 0;
        Dravonel_ReadPosition(trailing);
    },
    [](const uint8_t*) { Dravonel_ReadStatusPosition(); },
    [](const uint8_t*) { Dravonel_ReadTwoChannelPosition(); },
    [](const uint8_t* kind) { Dravonel_ReadRegister(quint32(kind[0]) << 4, 1 + kind[1] % 4); },
    [](const uint8_t* kind) {
        Dravonel_WriteRegister(quint32(kind[0]) << 4, 1 + kind[1] % 4, 0x80000000u | kind[2]);
    },
    [](const uint8_t*) { Dravonel_ReadEncoderSignature(); },
    [](const uint8_t*) {
        QByteArray identity;
        SerialTransaction(COMPortHandle, "v", 7, identity);
        AdapterFirmwareVersion(identity);
        KeepPrintable(identity);
        ReadAdapterSerialNumber();
        ReadAdapterRevision();
    },
    [](const uint8_t*) {
        Dravonel_ReadSignalLevel();
        Dravonel_ReadTemperature();
        Dravonel_ReadPersistentStatus();
    },
    [](const uint8_t*) {
        Dravonel_ReadSelfCalStatus();
        Dravonel_ReadSelfCalResults();
    },
    [](const uint8_t*) { Dravonel_GetWriteAccesStatusRegister(); },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    static int argc = 1;
    static char name[] = "fuzz_replies";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    if (!adapter().Ready() || !openChannel())
        return 0;
    SerialTimeout = 5; // a reply without CR, or none, ends quickly
    ResetEncoderProtocolState();
    assumeEncoder(data + 1);
    const QByteArray rest(reinterpret_cast<const char*>(data + 4), qsizetype(size - 4));
    adapter().SetReplies(rest.split('\n'));
    CommLogEnabled = data[0] & 0x80;
    Operations[data[0] % std::size(Operations)](data + 1);
    CommLogText.clear();
    return 0;
}
