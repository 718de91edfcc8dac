#pragma once
// A model of the Q714-7R adapter with one simulated encoder behind it. Pure
// model: bytes in, reply bytes out; no I/O. Thread-safe: the serving thread
// and a test may call it at the same time.
//
// Without encoder supply the adapter still answers its own commands; the
// register protocol ("j", "R:", "W:") and "d" answer "ERROR: encoder supply is
// off", raw SPI transfers ("?07:000") return zero bytes (an unpowered encoder
// leaves its data line low), and "x" still confirms the adapter-side reset.

#include "SimulatedEncoder.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <memory>

struct AdapterSettings {
    QByteArray identity = "Q714-7R v1.12"; // reply to "v" (a CR is added)
    QByteArray serialNumber = "Q7R00417";  // reply to "r"
    int revision = 57;                     // reply to "o"
};

enum class SupplyVoltage { V5, V3 };
// The adapter's CRC mode of the register protocol: "Ce" inverted, "Cr" not.
enum class AdapterCrcMode { Inverted, NonInverted };
// Which form the "d" reply takes; Auto: 22 characters for multi-turn
// encoders, 15 for single-turn ones.
enum class StatusReplyForm { Auto, Singleturn15, Multiturn22, TurnsOnly17 };

class SimulatedAdapter {
public:
    explicit SimulatedAdapter(const AdapterSettings& settings = {});
    // With an encoder of the catalogue; an unknown name keeps the default model.
    explicit SimulatedAdapter(const QString& modelName, const AdapterSettings& settings = {});
    ~SimulatedAdapter();

    // Length of the first complete command at the start of `buffer`, 0 while
    // more bytes are needed. Commands carry no terminator, so the adapter
    // recognises them by their syntax; a byte that starts no command is a
    // command of length 1 (answered with an error reply). A command whose
    // syntax breaks ends before the offending byte and is answered with an
    // error reply; the offending byte starts the next command.
    static qsizetype CommandLength(const QByteArray& buffer);

    // The reply to one complete command, ending with CR; empty when the
    // adapter stays silent.
    QByteArray Reply(const QByteArray& command);

    // Replaces the reply to one exact command text by raw bytes (sent as
    // they are, no CR added). An empty map entry removes the override.
    void OverrideReply(const QByteArray& command, const QByteArray& rawReply);
    void ClearOverrides();

    void SetSettings(const AdapterSettings& settings);
    AdapterSettings Settings() const;

    // Every command received so far, in order (tests read this).
    QList<QByteArray> ReceivedCommands() const;
    void ClearReceivedCommands();
    // The commands received so far, removed from the list (a long-running
    // simulator takes them regularly so the list does not grow).
    QList<QByteArray> TakeReceivedCommands();

    // ---- The encoder behind the adapter ----
    // Replaces the encoder by a new one of a catalogue model; false (and no
    // change) for an unknown name. The supply state is kept.
    bool SelectModel(const QString& name);
    void SetEncoderProfile(const EncoderProfile& profile);
    EncoderProfile EncoderProfileInUse() const;
    // Runs `function` on the encoder under the adapter's lock and returns its
    // result: adapter.WithEncoder([](SimulatedEncoder& e) { e.SetSpeedRpm(6); });
    template <typename Function> auto WithEncoder(Function&& function) {
        QMutexLocker lock(&mutex);
        return function(*encoder);
    }

    // ---- Adapter state (the commands change it too) ----
    void SetSupplyOn(bool on); // like "n" / "f"
    bool SupplyOn() const;
    SupplyVoltage Voltage() const;
    AdapterCrcMode CrcMode() const;
    int SpiClockSetting() const; // 1 to 8, as "M1".."M8"
    int NcsSckDelay() const;     // microseconds
    void SetStatusReplyForm(StatusReplyForm form);

private:
    QByteArray answer(const QByteArray& command);
    QByteArray answerSupply(const QByteArray& command);
    QByteArray answerInterfaceSetup(const QByteArray& command);
    QByteArray answerEncoder(const QByteArray& command);
    QByteArray answerRegisterRead(const QByteArray& command);
    QByteArray answerRegisterWrite(const QByteArray& command);
    QByteArray answerSpiTransfer(const QByteArray& command);
    QByteArray answerStatusPosition();
    QByteArray supplyText() const;
    bool registerCrcMatches() const;
    void switchSupply(bool on);

    mutable QMutex mutex;
    AdapterSettings settings;
    QMap<QByteArray, QByteArray> overrides;
    QList<QByteArray> received;

    std::unique_ptr<SimulatedEncoder> encoder;
    bool supplyOn = false;
    SupplyVoltage voltage = SupplyVoltage::V5;
    AdapterCrcMode crcMode = AdapterCrcMode::Inverted;
    int spiClock = 5;
    int ncsSckDelay = 15;
    StatusReplyForm statusReplyForm = StatusReplyForm::Auto;
};
