// The configuration workflows against simulated encoders: reading and
// writing the stored settings, the multi-turn preset, saving to NVRAM and the factory reset with
// their outcome, and "Set zero here" with its refusals, each checked in the encoder's registers,
// its NVRAM and the next reading.
#include "AdapterWorkflows.h"
#include "Configuration.h"
#include "Enkoderji_splosno.h"
#include "Reading.h"
#include "SimCrc8.h"
#include "WorkflowSim.h"

#include <QTest>

namespace {

const QByteArray SaveCommand = "W:0001:00000049:00000063";
const QByteArray PresetCommand = "W:0001:00000049:0000006D";

// A connected encoder of `model` whose traffic and log start empty.
struct ConfigSim : WorkflowSim {
    explicit ConfigSim(const char* model = "t2-mt17") : WorkflowSim(model) { Connect(); }

    const RegisterMapLayout& layout() { return LayoutOf(Adapter().EncoderProfileInUse().map); }
    quint32 registerValue(quint32 address) {
        return encoder([&](SimulatedEncoder& e) { return e.RegisterValue(address); });
    }
    void setRegister(quint32 address, quint32 value) {
        encoder([&](SimulatedEncoder& e) { e.SetRegisterValue(address, value); });
    }
    quint32 storedOffset() {
        return encoder([](SimulatedEncoder& e) { return e.Nvram().Stored(0x00); });
    }
    Commands writes() {
        Commands result;
        for (const QByteArray& command : Sent())
            if (command.startsWith("W:"))
                result << command;
        return result;
    }
    PositionReading encoderPosition() {
        return encoder([](SimulatedEncoder& e) { return e.ReadPosition(); });
    }
    // The supply off and on again: what was not saved is lost.
    void powerCycle() {
        PowerOffEncoder();
        PowerOnEncoder(EncoderSupplyVoltage::V5, front);
    }
    // The single-turn count of a reading through the program.
    quint32 readSingleturn() {
        TakeReading({}, front);
        return EncoderPosition.ST_value;
    }
};

// The front-end's side of "Set zero here" as the window takes it: an offset
// field that the settings refresh fills (a failed read leaves what it held),
// a reading, and a record of what the workflow reported.
struct ZeroHooks {
    explicit ZeroHooks(ReadingOptions readingOptions = {}) : options(readingOptions) {}

    SetZeroHooks For(FrontEnd& front) {
        SetZeroHooks hooks;
        hooks.refreshSettings = [this, &front]() -> ZeroReference {
            ++refreshes;
            if (const std::optional<quint32> read = ReadEncoderSettings(front).positionOffset)
                offsetField = *read;
            if (offsetField)
                return {*offsetField, {}};
            return {std::nullopt, QStringLiteral("no offset")};
        };
        hooks.takeReading = [this, &front] { return TakeReading(options, front).positionRead; };
        hooks.status = [this](const QString& text) { statuses << text; };
        hooks.newOffset = [this](qint64 offset) { newOffsets << offset; };
        hooks.presetSetToZero = [this] { ++presetsSetToZero; };
        return hooks;
    }

    ReadingOptions options;
    std::optional<qint64> offsetField; // empty: never read
    int refreshes = 0;
    QStringList statuses;
    QList<qint64> newOffsets;
    int presetsSetToZero = 0;
};

} // namespace

class TestWorkflowConfiguration : public QObject {
    Q_OBJECT

private slots:
    void readingTheSettingsReadsEachRegister() {
        ConfigSim sim;
        sim.setRegister(sim.layout().posOffset, 1234);
        sim.setRegister(sim.layout().filterPosVal, 9);
        sim.setRegister(sim.layout().mtErrThreshold, 45);
        const EncoderSettings settings = ReadEncoderSettings(sim.front);
        QCOMPARE(settings.positionOffset, std::optional<quint32>(1234));
        QCOMPARE(settings.positionFilter, std::optional<quint32>(9));
        QCOMPARE(settings.multiturnErrorArc, std::optional<quint8>(45));
        QCOMPARE(sim.Sent(), Commands({"R:0004:00000000", "R:0004:00000004", "R:0001:00000018"}));
        QVERIFY(sim.front.lines.isEmpty());
    }

    void withoutTheErrorArcRegisterTheArcIsNotRead() {
        ConfigSim sim("t1-st19");
        const EncoderSettings settings = ReadEncoderSettings(sim.front);
        QCOMPARE(sim.Sent(), Commands({"R:0004:00000000", "R:0004:00000004"}));
        QVERIFY(settings.positionOffset && settings.positionFilter);
        QVERIFY(!settings.multiturnErrorArc);
        QVERIFY(sim.front.lines.isEmpty());
    }

    void aFailedSettingReadIsLoggedAndLeftEmpty() {
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::ReadCrc); });
        const EncoderSettings settings = ReadEncoderSettings(sim.front);
        QVERIFY(!settings.positionOffset);
        QVERIFY(settings.positionFilter && settings.multiturnErrorArc);
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("CRC invalid on read"));
    }

    void writingSettingsReachesTheRegisters() {
        ConfigSim sim;
        QVERIFY(WriteEncoderSetting(EncoderSetting::PositionOffset, 300, sim.front));
        QVERIFY(WriteEncoderSetting(EncoderSetting::PositionFilter, 0, sim.front));
        QVERIFY(WriteEncoderSetting(EncoderSetting::MultiturnErrorArc, 20, sim.front));
        QCOMPARE(sim.writes(), Commands({"W:0004:00000000:0000012C", "W:0004:00000004:00000000",
                                         "W:0001:00000018:00000014"}));
        QCOMPARE(sim.registerValue(sim.layout().posOffset), 300u);
        QCOMPARE(sim.registerValue(sim.layout().filterPosVal), 0u);
        QCOMPARE(sim.registerValue(sim.layout().mtErrThreshold), 20u);
        QVERIFY(sim.front.lines.isEmpty());
    }

    // The encoder itself refuses an arc above its limit: its reply is logged.
    void aRefusedWriteIsLogged() {
        ConfigSim sim;
        const quint32 arcBefore = sim.registerValue(sim.layout().mtErrThreshold);
        QVERIFY(!WriteEncoderSetting(EncoderSetting::MultiturnErrorArc, 300, sim.front));
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("Parameter out of range"));
        QVERIFY(sim.front.alerts.isEmpty());
        QCOMPARE(sim.registerValue(sim.layout().mtErrThreshold), arcBefore);
    }

    void multiturnPresetIsTheLow16Bits_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QByteArray>("presetWrite");
        QTest::addColumn<int>("turns");
        QTest::newRow("4464") << 4464 << QByteArray("W:0004:00000014:00001170") << 4464;
        QTest::newRow("65535 is -1") << 65535 << QByteArray("W:0004:00000014:0000FFFF") << -1;
        QTest::newRow("0") << 0 << QByteArray("W:0004:00000014:00000000") << 0;
    }

    void multiturnPresetIsTheLow16Bits() {
        QFETCH(int, preset);
        QFETCH(QByteArray, presetWrite);
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(12, 500); });
        QVERIFY(PresetMultiturn(quint16(preset), sim.front));
        QCOMPARE(sim.writes(), Commands({presetWrite, PresetCommand}));
        QTEST(sim.encoderPosition().multiturn, "turns");
        TakeReading({}, sim.front);
        QTEST(EncoderPosition.MT_value, "turns");
        QVERIFY(sim.front.lines.isEmpty() && sim.front.alerts.isEmpty());
    }

    void aFailedPresetIsLogged() {
        ConfigSim sim;
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x49, RegisterFault::WriteLocked); });
        QVERIFY(!PresetMultiturn(3, sim.front));
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith("Write access is locked"));
    }

    void aSettingIsKeptOnlyWhenSaved() {
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 1000); });
        WriteEncoderSetting(EncoderSetting::PositionOffset, 400, sim.front);
        sim.powerCycle(); // not saved: lost
        QCOMPARE(sim.registerValue(sim.layout().posOffset), 0u);

        WriteEncoderSetting(EncoderSetting::PositionOffset, 400, sim.front);
        sim.Forget();
        const qint64 pausedBefore = sim.front.pausedMs;
        Commands sentBeforeRefresh;
        int refreshes = 0;
        QVERIFY(StoreSettings(StoreCommand::SaveToNvram, sim.front, [&] {
            ++refreshes;
            sentBeforeRefresh = sim.Sent();
        }));
        QCOMPARE(sentBeforeRefresh, Commands({"x", SaveCommand}));
        QCOMPARE(refreshes, 1);
        QCOMPARE(sim.front.pausedMs - pausedBefore, qint64(150)); // the encoder writes its NVRAM
        // A success, told rather than alerted: a front end may keep it quiet.
        QCOMPARE(sim.front.informs, QStringList{"Save data done!"});
        QVERIFY(sim.front.alerts.isEmpty());
        QVERIFY(sim.front.lines.isEmpty());
        QCOMPARE(sim.storedOffset(), 400u);
        sim.powerCycle();
        QCOMPARE(sim.readSingleturn(), 600u);
    }

    void factoryResetBringsBackTheDefaults() {
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 1000); });
        WriteEncoderSetting(EncoderSetting::PositionOffset, 400, sim.front);
        WriteEncoderSetting(EncoderSetting::PositionFilter, 9, sim.front);
        StoreSettings(StoreCommand::SaveToNvram, sim.front);
        sim.Forget();
        const qint64 pausedBefore = sim.front.pausedMs;
        int refreshes = 0;
        QVERIFY(StoreSettings(StoreCommand::FactoryReset, sim.front, [&] { ++refreshes; }));
        QCOMPARE(sim.Sent().mid(0, 2), Commands({"x", "W:0001:00000049:00000072"}));
        QCOMPARE(refreshes, 1);
        QCOMPARE(sim.front.pausedMs - pausedBefore, qint64(150));
        QCOMPARE(sim.front.informs, QStringList{"Factory reset done!"});
        QVERIFY(sim.front.alerts.isEmpty());
        const EncoderSettings settings = ReadEncoderSettings(sim.front);
        QCOMPARE(settings.positionOffset, std::optional<quint32>(0));
        QCOMPARE(settings.positionFilter, std::optional<quint32>(4));
        sim.powerCycle();
        QCOMPARE(sim.readSingleturn(), 1000u);
    }

    // A failed command is reported as failed, not done; the refresh still
    // follows.
    void aFailedSaveOrResetIsNotReportedAsDone() {
        ConfigSim sim;
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x49, RegisterFault::WriteLocked); });
        const qint64 pausedBefore = sim.front.pausedMs;
        int refreshes = 0;
        const auto refresh = [&] { ++refreshes; };
        QVERIFY(!StoreSettings(StoreCommand::SaveToNvram, sim.front, refresh));
        QVERIFY(!StoreSettings(StoreCommand::FactoryReset, sim.front, refresh));
        QCOMPARE(refreshes, 2);
        const QString locked = "Write access is locked\nsCmd: ";
        QCOMPARE(sim.front.alerts.size(), 2);
        QVERIFY(sim.front.alerts[0].startsWith("Save data failed!\n" + locked + SaveCommand));
        QVERIFY(sim.front.alerts[1].startsWith("Factory reset failed!\n" + locked));
        QCOMPARE(sim.front.lines.size(), 2);
        QVERIFY(sim.front.LogLines().join('\n').startsWith(locked + SaveCommand));
        QCOMPARE(sim.front.pausedMs - pausedBefore, qint64(300)); // the pause all the same
    }

    void readingErrors_data() {
        QTest::addColumn<bool>("timeout");
        QTest::addColumn<bool>("errorBit");
        QTest::addColumn<bool>("crc");
        QTest::addColumn<int>("comm");
        QTest::addColumn<bool>("positionRead");
        QTest::addColumn<QString>("text");
        QTest::newRow("good") << false << false << false << 0 << true << "";
        QTest::newRow("time-out") << true << false << false << 0 << true << "Timeout, ";
        QTest::newRow("error bit") << false << true << false << 0 << true << "Error bit, ";
        QTest::newRow("crc") << false << false << true << 0 << true << "CRC, ";
        QTest::newRow("comm") << false << false << false << -1 << true << "Comm, ";
        QTest::newRow("not read") << false << false << false << 0 << false << "Read, ";
        QTest::newRow("all") << true << true << true << -3 << false
                             << "Timeout, Error bit, CRC, Comm, Read, ";
    }

    void readingErrors() {
        QFETCH(bool, timeout);
        QFETCH(bool, errorBit);
        QFETCH(bool, crc);
        QFETCH(int, comm);
        QFETCH(bool, positionRead);
        ResetEncoderRecords();
        EncoderPosition.ErrTimeout = timeout;
        EncoderPosition.ErrBit = errorBit;
        EncoderPosition.ErrCRC = crc;
        EncoderPosition.ErrComm = comm;
        EncoderPosition.WarnBit = true; // a warning does not spoil a reference
        QTEST(ReadingErrorsText(positionRead), "text");
        ResetEncoderRecords();
    }

    void zeroOffsets_data() {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("singleturn");
        QTest::addColumn<qint64>("countsPerTurn");
        QTest::addColumn<qint64>("zero");
        QTest::newRow("100 + 50 - 2") << qint64(100) << qint64(50) << qint64(131072) << qint64(148);
        QTest::newRow("0 - 2 wraps") << qint64(0) << qint64(0) << qint64(131072) << qint64(131070);
        QTest::newRow("261998 wraps")
            << qint64(131000) << qint64(131000) << qint64(131072) << qint64(130926);
        QTest::newRow("no overflow of 32 bits") << qint64(4294967295) << qint64(4294967295)
                                                << qint64(131072) << (qint64(8589934588) % 131072);
        QTest::newRow("resolution unknown") << qint64(0) << qint64(0) << qint64(0) << qint64(-2);
    }

    void zeroOffsets() {
        QFETCH(qint64, offset);
        QFETCH(qint64, singleturn);
        QFETCH(qint64, countsPerTurn);
        QTEST(ZeroOffsetAt(offset, singleturn, countsPerTurn), "zero");
    }

    void setZeroHere_data() {
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<quint32>("singleturn");
        QTest::addColumn<quint32>("newOffset");
        QTest::newRow("100 + 50 - 2") << 100u << 50u << 148u;
        QTest::newRow("0 - 2 wraps") << 0u << 0u << 131070u;
        QTest::newRow("261998 wraps") << 131000u << 131000u << 130926u;
    }

    void setZeroHere() {
        QFETCH(quint32, offset);
        QFETCH(quint32, singleturn);
        QFETCH(quint32, newOffset);
        ConfigSim sim;
        QCOMPARE(STcounts, 131072);
        sim.setRegister(sim.layout().posOffset, offset);
        sim.encoder([&](SimulatedEncoder& e) { e.SetPosition(5, singleturn); });
        ZeroHooks zero;
        const SetZeroResult result = SetZeroHere(sim.front, zero.For(sim.front));
        QVERIFY(result.done);
        QCOMPARE(result.previousOffset, qint64(offset));
        QCOMPARE(result.singleturn, singleturn);
        QCOMPARE(result.newOffset, qint64(newOffset));
        QCOMPARE(zero.refreshes, 1);
        QCOMPARE(zero.presetsSetToZero, 1);
        QCOMPARE(zero.newOffsets, QList<qint64>{newOffset});
        const QString before =
            QString("Current zero pos: %1\nEncoder pos: %2\n").arg(offset).arg(singleturn);
        QCOMPARE(zero.statuses,
                 QStringList(
                     {before,
                      before + QString("New zero pos: %1\nMultiturn preset: 0").arg(newOffset)}));
        // Preset, new offset, save, preset again.
        const QByteArray offsetWrite =
            "W:0004:00000000:" + QByteArray::number(newOffset, 16).toUpper().rightJustified(8, '0');
        QCOMPARE(sim.writes(), Commands({"W:0004:00000014:00000000", PresetCommand, offsetWrite,
                                         SaveCommand, "W:0004:00000014:00000000", PresetCommand}));
        QCOMPARE(sim.storedOffset(), newOffset);
        QCOMPARE(sim.front.informs, QStringList{"Save data done!"});
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
        const PositionReading now = sim.encoderPosition();
        QCOMPARE(now.singleturn, 2u);
        QCOMPARE(now.multiturn, 0);
    }

    void theStoreHookTakesThePlaceOfTheSave() {
        ConfigSim sim;
        ZeroHooks zero;
        SetZeroHooks hooks = zero.For(sim.front);
        int stores = 0;
        hooks.store = [&] { ++stores; };
        QVERIFY(SetZeroHere(sim.front, hooks).done);
        QCOMPARE(stores, 1);
        QVERIFY(!sim.Sent().contains(SaveCommand));
        QVERIFY(sim.front.alerts.isEmpty() && sim.front.informs.isEmpty());
    }

    void setZeroOnASingleTurnEncoderLeavesTheCounterAlone() {
        ConfigSim sim("t1-st19");
        sim.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 7000); });
        ZeroHooks zero;
        QVERIFY(SetZeroHere(sim.front, zero.For(sim.front)).done);
        QVERIFY(!sim.Sent().join().contains("00000014"));
        QCOMPARE(sim.writes().count(PresetCommand), 0);
        QCOMPARE(zero.presetsSetToZero, 1); // the field shows 0 all the same
        QVERIFY(zero.statuses.last().endsWith("Multiturn preset: 0"));
        QCOMPARE(sim.storedOffset(), 6998u);
        QCOMPARE(sim.encoderPosition().singleturn, 2u);
        QCOMPARE(sim.front.informs, QStringList{"Save data done!"});
    }

    void setZeroRefusesABadReading() {
        ConfigSim sim;
        QByteArray frame = QByteArray::fromHex("0000000C03");
        const quint8 badCrc = BitwiseCrc8(frame) ^ 0x5A;
        sim.Script("?07:000",
                   frame.toHex().toUpper() + QByteArray::number(badCrc, 16).toUpper() + "00\r");
        ZeroHooks zero;
        SetZeroHooks hooks = zero.For(sim.front);
        hooks.takeReading = [&] {
            const bool read = TakeReading({}, sim.front).positionRead;
            EncoderPosition.ErrTimeout = true; // nothing else sets it
            return read;
        };
        const SetZeroResult result = SetZeroHere(sim.front, hooks);
        QVERIFY(!result.done);
        QCOMPARE(sim.front.alerts,
                 QStringList{"Unable to set zero position. Errors encountered: Timeout, CRC, "});
        QVERIFY(sim.writes().isEmpty());
        QCOMPARE(zero.presetsSetToZero, 0);
        QVERIFY(zero.statuses.isEmpty() && zero.newOffsets.isEmpty());
        QCOMPARE(sim.storedOffset(), 0u);
    }

    // A reply the read cannot use raises no flag, but is no reference.
    void setZeroRefusesAnUnusableReply() {
        ConfigSim sim;
        ReadingOptions decoded;
        decoded.decodedStatus = true;
        sim.Script("d", "0123\r");
        ZeroHooks zero(decoded);
        QVERIFY(!SetZeroHere(sim.front, zero.For(sim.front)).done);
        QCOMPARE(sim.front.alerts,
                 QStringList{"Unable to set zero position. Errors encountered: Read, "});
        QVERIFY(sim.writes().isEmpty());
    }

    // Without an offset to move from (unreadable, or a typo in the window's
    // field) no zero is computed: the front-end's reason is shown.
    void setZeroRefusesWithoutAnOffset() {
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::ReadCrc); });
        ZeroHooks zero;
        QVERIFY(!SetZeroHere(sim.front, zero.For(sim.front)).done);
        QCOMPARE(sim.front.alerts, QStringList{"no offset"});
        QVERIFY(sim.front.lines.value(0).startsWith("CRC invalid on read")); // the refresh
        QVERIFY(sim.writes().isEmpty());
        QCOMPARE(zero.presetsSetToZero, 0);
    }

    void setZeroAlertsAFailedOffsetWrite() {
        ConfigSim sim;
        sim.encoder([](SimulatedEncoder& e) { e.SetRegisterFault(0x00, RegisterFault::WriteCrc); });
        ZeroHooks zero;
        QVERIFY(SetZeroHere(sim.front, zero.For(sim.front)).done);
        QCOMPARE(sim.front.alerts.size(), 1);
        QVERIFY(sim.front.alerts[0].startsWith(
            "Error writing new zero position. Errors encountered: CRC invalid on write"));
        QVERIFY(!sim.front.alerts[0].contains('\r'));
        QCOMPARE(sim.front.informs, QStringList{"Save data done!"});
        QVERIFY(sim.front.lines.value(0).startsWith("CRC invalid on write"));
        QCOMPARE(sim.writes().count(PresetCommand), 2); // the preset still follows
    }
};

QTEST_GUILESS_MAIN(TestWorkflowConfiguration)
#include "test_workflow_configuration.moc"
