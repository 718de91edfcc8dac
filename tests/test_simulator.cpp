// The simulated adapter and encoders: command framing, adapter commands, the
// register protocol of both maps, identification of every catalogue model,
// position frames and CRC, the "d" reply, encoder commands, and serving on a
// real pseudo-terminal.
#include "Orodja.h"
#include "Serial_driver.h"
#include "SimCrc8.h"
#include "SimFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>

namespace {

// ---- Helpers that read replies the way the program does ----

QByteArray withoutCr(const QByteArray& reply) {
    return reply.endsWith('\r') ? reply.chopped(1) : reply;
}

// An adapter whose encoder is powered and stands still.
void powerOn(SimulatedAdapter& adapter) {
    QVERIFY(adapter.Reply("n").startsWith("ON"));
}

QByteArray ask(SimulatedAdapter& adapter, const QByteArray& command) {
    return withoutCr(adapter.Reply(command));
}

QByteArray readCommand(quint32 address, int size) {
    return "R:" + QByteArray::number(size, 16).toUpper().rightJustified(4, '0') + ":" +
           QByteArray::number(address, 16).toUpper().rightJustified(8, '0');
}

QByteArray writeCommand(quint32 address, int size, quint32 value) {
    return "W:" + QByteArray::number(size, 16).toUpper().rightJustified(4, '0') + ":" +
           QByteArray::number(address, 16).toUpper().rightJustified(8, '0') + ":" +
           QByteArray::number(value, 16).toUpper().rightJustified(8, '0');
}

// The value of a successful read reply "0x9:" + 2 characters + 8 digits.
quint32 readValue(SimulatedAdapter& adapter, quint32 address, int size) {
    const QByteArray reply = ask(adapter, readCommand(address, size));
    if (!reply.startsWith("0x9:") || reply.size() != 14) {
        qWarning("unexpected read reply %s", reply.constData());
        return 0xDEADBEEF;
    }
    return reply.mid(6).toUInt(nullptr, 16);
}

struct DecodedFrame {
    qint32 multiturn = 0;
    quint32 singleturn = 0;
    quint16 statusWord = 0;
    bool error = false;
    bool warning = false;
    bool crcOk = false;
    quint8 trailing = 0;
};

// Cuts a raw frame reply by character position, as the program's layout
// table has it.
DecodedFrame decodeFrame(const QByteArray& hex, int type, int stBits, bool multiturn) {
    const bool statusWord = type >= 3 && type <= 5;
    const int dataDigits = statusWord || multiturn ? 10 : 6;
    DecodedFrame f;
    const quint32 field = hex.mid(dataDigits - 6, 6).toUInt(nullptr, 16);
    f.singleturn = (field >> (24 - stBits)) & ((1u << stBits) - 1);
    f.error = !(field & 2);
    f.warning = !(field & 1);
    if (statusWord)
        f.statusWord = static_cast<quint16>(hex.left(4).toUInt(nullptr, 16));
    else if (multiturn)
        f.multiturn = static_cast<qint16>(hex.left(4).toUInt(nullptr, 16));
    quint8 crc = static_cast<quint8>(hex.mid(dataDigits, 2).toUInt(nullptr, 16));
    if (type == 1 || type == 6 || type == 7)
        crc = static_cast<quint8>(~crc);
    f.crcOk = crc == BitwiseCrc8(QByteArray::fromHex(hex.left(dataDigits)));
    f.trailing = static_cast<quint8>(hex.mid(dataDigits + 2, 2).toUInt(nullptr, 16));
    return f;
}

QByteArray frameCommand(int type, bool multiturn) {
    return (type >= 3 && type <= 5) || multiturn ? "?07:000" : "?05:000";
}

// The program's identification and resolution tables.
struct Identified {
    int type = 0;
    int stBits = 0;
    bool multiturn = false;
};

bool identify(const QByteArray& text, Identified& result) {
    struct Row {
        const char* family;
        char letter; // 0: any
        int type;
    };
    static const Row rows[] = {{"62", 0, 1},   {"64", 0, 1},   {"73", 'N', 2}, {"73", 'P', 3},
                               {"75", 'Q', 4}, {"75", 'R', 5}, {"84", 'M', 6}, {"86", 'M', 6},
                               {"84", 'P', 7}, {"86", 'P', 7}};
    result = {};
    for (const Row& row : rows) {
        const bool letterFits = row.letter == 0 || (text.size() >= 10 && text[9] == row.letter);
        if (text.startsWith(row.family) && letterFits) {
            result.type = row.type;
            break;
        }
    }
    const QByteArray code = text.mid(10, 3);
    const int bits = code.left(2).toInt();
    const bool knownCode =
        bits >= 15 && bits <= 22 && (code[2] == 'B' || code[2] == 'M') && code != "15M";
    result.stBits = bits;
    result.multiturn = code.endsWith('M');
    return result.type != 0 && knownCode;
}

// The program replaces this faulty identification before parsing it.
QByteArray withWorkaround(const QByteArray& text) {
    return text.startsWith("84JW306xxx17Bxxx00") ? QByteArray("84JW306KTM17BGWV00") : text;
}

// Reads a whole reply from the port: up to its CR, or whatever came within
// the (generous) time.
QByteArray readReply(QSerialPort& port, int patienceMs = 5000) {
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (!reply.contains('\r') && clock.elapsed() < patienceMs) {
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(50))
            reply += port.readAll();
    }
    return reply;
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    // Framing
    void commandLength_data();
    void commandLength();
    void framingOfSplitAndConcatenatedInput();
    void brokenCommandsGetAnErrorReply();
    void anyBytesGetRepliesWithoutCrashing();

    // CRC
    void crcKnownAnswers();

    // Adapter commands
    void identityCarriesVersionDigits();
    void supplyCommands();
    void spiSetupCommands_data();
    void spiSetupCommands();
    void protocolResetConfirms();
    void overrideReplacesReplyBytes();

    // Without supply
    void withoutSupplyTheEncoderDoesNotAnswer();

    // Identification
    void everyCatalogueModelIdentifies_data();
    void everyCatalogueModelIdentifies();
    void defaultModelIsTypeTwoMultiturn();

    // Registers
    void registerReplies_data();
    void registerReplies();
    void firmwareRegistersBySize();
    void serialNumberRegistersSpellTheSerial();
    void writesAndWriteAccessStatus();
    void faultSwitchesReplaceReplies();
    void crcModeMustFitTheEncoder();

    // Frames and status
    void workedExampleFrame_data();
    void workedExampleFrame();
    void everyModelSendsDecodableFrames_data();
    void everyModelSendsDecodableFrames();
    void errorAndWarningAreActiveLow();
    void statusWordOfTypesThreeToFive();
    void statusReplyLayouts();
    void twoChannelStreamInTrailingBytes();
    void signalLevelVariesWithAngle();

    // Encoder commands
    void offsetSaveAndPowerCycle();
    void multiturnPresetAndFactoryReset();
    void selfCalibrationRun();
    void errorMapByteOrder();
    void debugRecordRegisters();

    // Serving on a pseudo-terminal
    void splitReplyArrivesWholeOverPty();
    void concatenatedCommandsOverPty();
    void unplugMakesThePortFail();
    void announcementsGiveOneLinkPerSimulator();
    void aKilledSimulatorsNameCanBeTakenAgain();
    void executableServesAndRemovesItsLink();
};

// ---- Framing ----

void TestSimulator::commandLength_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("length");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("identity") << QByteArray("v") << 1;
    QTest::newRow("letter then more") << QByteArray("vr") << 1;
    QTest::newRow("supply") << QByteArray("V5") << 2;
    QTest::newRow("supply incomplete") << QByteArray("V") << 0;
    QTest::newRow("clock") << QByteArray("M8n") << 2;
    QTest::newRow("crc mode") << QByteArray("Ce") << 2;
    QTest::newRow("delay") << QByteArray("D015") << 4;
    QTest::newRow("delay incomplete") << QByteArray("D01") << 0;
    QTest::newRow("setup") << QByteArray("G0:1") << 4;
    QTest::newRow("frame") << QByteArray("?07:000") << 7;
    QTest::newRow("frame incomplete") << QByteArray("?07:00") << 0;
    QTest::newRow("read") << QByteArray("R:0002:0000004C") << 15;
    QTest::newRow("read lower-case hex") << QByteArray("R:0002:0000004c") << 15;
    QTest::newRow("read incomplete") << QByteArray("R:0002:0000") << 0;
    QTest::newRow("write") << QByteArray("W:0001:00000049:00000063x") << 24;
    QTest::newRow("unknown byte") << QByteArray("Zv") << 1;
    QTest::newRow("carriage return") << QByteArray("\r") << 1;
    QTest::newRow("read broken by a command") << QByteArray("R:0002v") << 6;
    QTest::newRow("delay broken") << QByteArray("D0x5") << 2;
}

void TestSimulator::commandLength() {
    QFETCH(QByteArray, buffer);
    QFETCH(int, length);
    QCOMPARE(SimulatedAdapter::CommandLength(buffer), qsizetype(length));
}

void TestSimulator::framingOfSplitAndConcatenatedInput() {
    const QList<QByteArray> commands = {"v",
                                        "r",
                                        "o",
                                        "V5",
                                        "n",
                                        "e",
                                        "M5",
                                        "m",
                                        "D015",
                                        "Ce",
                                        "G0:1",
                                        "j",
                                        "x",
                                        "?07:000",
                                        "R:0002:0000004C",
                                        "d",
                                        "W:0001:00000049:00000063"};
    const QByteArray stream = commands.join();
    for (const int chunk : {1, 2, 3, 7, 16, int(stream.size())}) {
        QByteArray buffer;
        QList<QByteArray> framed;
        for (int at = 0; at < stream.size(); at += chunk) {
            buffer += stream.mid(at, chunk);
            while (const qsizetype length = SimulatedAdapter::CommandLength(buffer)) {
                framed.append(buffer.left(length));
                buffer.remove(0, length);
            }
        }
        QCOMPARE(framed, commands);
        QVERIFY(buffer.isEmpty());
    }
}

void TestSimulator::brokenCommandsGetAnErrorReply() {
    SimulatedAdapter adapter;
    for (const QByteArray& command :
         {QByteArray("Z"), QByteArray("\r"), QByteArray("R:0002"), QByteArray("D0"),
          QByteArray("V7"), QByteArray("Cx"), QByteArray("G1:1"), QByteArray("?99:000")}) {
        const QByteArray reply = adapter.Reply(command);
        QVERIFY2(reply.startsWith("ERROR") && reply.endsWith('\r'), reply.constData());
    }
}

// Random bytes mixed with pieces of real commands: every command framed from
// them gets a reply ending with CR, in every state the adapter gets into.
void TestSimulator::anyBytesGetRepliesWithoutCrashing() {
    const QList<QByteArray> pieces = {
        "n",    "f",     "x",        "R:",        "W:",       "?07:", "000", "D",
        "G0:1", "0004:", "0000004C", "00000049:", "00000041", "Cr",   "d"};
    QRandomGenerator random(1234);
    for (const QString& model : {QStringLiteral("t2-mt17"), QStringLiteral("t7-mt18")}) {
        SimulatedAdapter adapter(model);
        adapter.WithEncoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(0); });
        QByteArray buffer;
        int replies = 0;
        for (int round = 0; round < 20000; ++round) {
            if (random.bounded(3) == 0)
                buffer += pieces[random.bounded(int(pieces.size()))];
            else
                buffer += static_cast<char>(random.bounded(256));
            while (const qsizetype length = SimulatedAdapter::CommandLength(buffer)) {
                const QByteArray reply = adapter.Reply(buffer.left(length));
                buffer.remove(0, length);
                QVERIFY(reply.size() > 1 && reply.endsWith('\r'));
                ++replies;
            }
        }
        QVERIFY(replies > 1000);
    }
}

// ---- CRC ----

void TestSimulator::crcKnownAnswers() {
    QCOMPARE(BitwiseCrc8("123456789"), quint8(0x94));
    QCOMPARE(BitwiseCrc8(QByteArray()), quint8(0));
    QCOMPARE(BitwiseCrc8(QByteArray(1, '\x01')), quint8(0x97));
    QCOMPARE(BitwiseCrc8(QByteArray(1, '\x02')), quint8(0xB9));
    QCOMPARE(BitwiseCrc8(QByteArray(1, '\x03')), quint8(0x2E));
    QCOMPARE(BitwiseCrc8(QByteArray::fromHex("0001800003")), quint8(0xA0));
}

// ---- Adapter commands ----

void TestSimulator::identityCarriesVersionDigits() {
    SimulatedAdapter adapter;
    const QByteArray identity = adapter.Reply("v");
    QVERIFY(identity.startsWith("Q714-7R"));
    QVERIFY(identity.size() >= 13);
    const int version = (identity[9] - '0') * 100 + identity.mid(11, 2).toInt();
    QCOMPARE(version, 112);
    QCOMPARE(adapter.Reply("r"), QByteArray("Q7R00417\r"));
    QCOMPARE(adapter.Reply("o"), QByteArray("57\r"));

    adapter.SetSettings({"Q714-7R v1.08", "X1", 3});
    QCOMPARE(adapter.Reply("v"), QByteArray("Q714-7R v1.08\r"));
}

void TestSimulator::supplyCommands() {
    SimulatedAdapter adapter;
    QCOMPARE(ask(adapter, "e"), QByteArray("OFF"));
    QVERIFY(ask(adapter, "V3").startsWith("V3"));
    QVERIFY(ask(adapter, "n").startsWith("ON"));
    QVERIFY(adapter.SupplyOn());
    QVERIFY(ask(adapter, "e").startsWith("ON 3.3V"));
    QVERIFY(ask(adapter, "V5").startsWith("V5"));
    QVERIFY(ask(adapter, "e").startsWith("ON 5.0V"));
    QVERIFY(!ask(adapter, "f").isEmpty());
    QCOMPARE(ask(adapter, "e"), QByteArray("OFF"));
}

void TestSimulator::spiSetupCommands_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("M1") << QByteArray("M1") << true;
    QTest::newRow("M8") << QByteArray("M8") << true;
    QTest::newRow("M0") << QByteArray("M0") << false;
    QTest::newRow("M9") << QByteArray("M9") << false;
    QTest::newRow("D001") << QByteArray("D001") << true;
    QTest::newRow("D015") << QByteArray("D015") << true;
    QTest::newRow("D900") << QByteArray("D900") << true;
    QTest::newRow("D000") << QByteArray("D000") << false;
    QTest::newRow("D901") << QByteArray("D901") << false;
    QTest::newRow("Ce") << QByteArray("Ce") << true;
    QTest::newRow("Cr") << QByteArray("Cr") << true;
    QTest::newRow("G0:1") << QByteArray("G0:1") << true;
}

void TestSimulator::spiSetupCommands() {
    QFETCH(QByteArray, command);
    QFETCH(bool, accepted);
    SimulatedAdapter adapter;
    const QByteArray reply = ask(adapter, command);
    QVERIFY(!reply.isEmpty());
    QCOMPARE(!reply.toUpper().contains("ERROR"), accepted);
}

void TestSimulator::protocolResetConfirms() {
    SimulatedAdapter adapter;
    QCOMPARE(adapter.Reply("x"), QByteArray("Reset of Dravonel protocol performed\r"));
    powerOn(adapter);
    QCOMPARE(adapter.Reply("x"), QByteArray("Reset of Dravonel protocol performed\r"));
    QVERIFY(ask(adapter, "M8").size() > 0);
    QCOMPARE(ask(adapter, "m"), QByteArray("SPI clock 12 MHz"));
    QCOMPARE(adapter.ReceivedCommands(), QList<QByteArray>({"x", "n", "x", "M8", "m"}));
}

void TestSimulator::overrideReplacesReplyBytes() {
    SimulatedAdapter adapter;
    adapter.OverrideReply("v", "Q714-7R v1.1234567");
    QCOMPARE(adapter.Reply("v"), QByteArray("Q714-7R v1.1234567"));
    adapter.OverrideReply("v", QByteArray());
    QCOMPARE(adapter.Reply("v"), QByteArray("Q714-7R v1.12\r"));
}

// ---- Without supply ----

void TestSimulator::withoutSupplyTheEncoderDoesNotAnswer() {
    SimulatedAdapter adapter;
    for (const QByteArray& command :
         {QByteArray("j"), QByteArray("d"), QByteArray("R:0002:0000004C"),
          QByteArray("W:0001:00000049:00000063")})
        QVERIFY2(ask(adapter, command).startsWith("ERROR"), command.constData());
    QCOMPARE(ask(adapter, "?07:000"), QByteArray(14, '0'));
    QCOMPARE(ask(adapter, "?05:000"), QByteArray(10, '0'));

    powerOn(adapter);
    QCOMPARE(ask(adapter, "j"), DefaultEncoderProfile().identification);
    QVERIFY(ask(adapter, "R:0002:0000004C").startsWith("0x9:"));
    QVERIFY(ask(adapter, "?07:000") != QByteArray(14, '0'));
    adapter.Reply("f");
    QVERIFY(ask(adapter, "j").startsWith("ERROR"));
}

// ---- Identification ----

void TestSimulator::everyCatalogueModelIdentifies_data() {
    QTest::addColumn<QString>("model");
    for (const EncoderProfile& profile : EncoderCatalogue())
        QTest::newRow(qPrintable(profile.name)) << profile.name;
}

void TestSimulator::everyCatalogueModelIdentifies() {
    QFETCH(QString, model);
    SimulatedAdapter adapter(model);
    powerOn(adapter);
    const EncoderProfile profile = adapter.EncoderProfileInUse();
    QCOMPARE(profile.name, model);
    const QByteArray text = ask(adapter, "j");
    QVERIFY(text.size() >= 18);
    Identified identified;
    QVERIFY2(identify(withWorkaround(text), identified), text.constData());
    QCOMPARE(identified.type, profile.type);
    QCOMPARE(identified.stBits, profile.stBits);
    QCOMPARE(identified.multiturn, profile.multiturn);
    const bool u4 = identified.type >= 5;
    QCOMPARE(profile.map, u4 ? RegisterMapKind::U4 : RegisterMapKind::U2);
}

void TestSimulator::defaultModelIsTypeTwoMultiturn() {
    SimulatedAdapter adapter;
    const EncoderProfile profile = adapter.EncoderProfileInUse();
    QCOMPARE(profile.name, DefaultEncoderModelName());
    QCOMPARE(profile.type, 2);
    QVERIFY(profile.multiturn);
    QCOMPARE(profile.stBits, 17);
    QCOMPARE(profile.fwMajor, 2u);
    QCOMPARE(profile.fwMinor, 9u);
    QVERIFY(!adapter.SelectModel("no-such-model"));
    QCOMPARE(adapter.EncoderProfileInUse().name, DefaultEncoderModelName());
}

// ---- Registers ----

void TestSimulator::registerReplies_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply"); // the whole reply, or its beginning with "*"

    const auto row = [](const char* name, const char* model, const char* command,
                        const char* reply) {
        QTest::newRow(name) << QString::fromLatin1(model) << QByteArray(command)
                            << QByteArray(reply);
    };
    // U2 map
    row("U2 temperature", "t2-mt17", "R:0002:0000004C", "0x9:0x0000001F");
    row("U2 error arc", "t2-mt17", "R:0001:00000018", "0x9:0x0000001E");
    row("U2 error arc absent", "t1-st19", "R:0001:00000018", "0x26:");
    row("U2 persistent status", "t2-mt17", "R:0002:0000002C", "0x9:0x00000000");
    row("U2 persistent status 4 bytes", "t2-mt17", "R:0004:0000002C", "0xee:");
    row("U2 signal level", "t2-mt17", "R:0002:0000004E", "*0x9:0x0000");
    row("U2 time-out register", "t2-mt17", "R:0001:00000021", "0x9:0x0000000A");
    row("U2 runtime log probe", "t2-mt17", "R:0001:00000034", "0x9:0x00000000");
    row("U2 runtime log absent", "t1-st19", "R:0001:00000034", "0x26:");
    row("U2 firmware absent", "t1-st19", "R:0002:0000002F", "0x26:");
    row("U2 cal status", "t2-mt17", "R:0001:00000052", "0x9:0x00000000");
    row("U2 command not readable", "t2-mt17", "R:0001:00000049", "0x96:");
    row("U2 size zero", "t2-mt17", "R:0000:0000004C", "0xee:");
    row("U2 nothing there", "t2-mt17", "R:0004:00001234", "0x26:");
    // U4 map
    row("U4 temperature", "t6-mt19", "R:0002:00000000", "0x9:0x0000001F");
    row("U4 signal level", "t6-mt19", "R:0004:00000002", "*0x9:0x0000");
    row("U4 signal level 2 bytes", "t6-mt19", "R:0002:00000002", "0xee:");
    row("U4 persistent status", "t6-mt19", "R:0004:0000000A", "0x9:0x00000000");
    row("U4 error arc", "t6-mt19", "R:0001:00000098", "0x9:0x0000001E");
    row("U4 cal status", "t6-mt19", "R:0004:000000C0", "0x9:0x00000000");
    row("U4 hash", "t6-mt19", "R:0004:00000072", "0x9:0x0A17C3E9");
    row("U4 extra results", "t6-mt19", "R:0002:000000CE", "*0x9:0x0000");
    row("U4 extra results absent", "t7-mt18", "R:0002:000000CE", "0x26:");
    row("U4 safety margin", "t6-mt19", "R:0002:00000012", "*0x9:0x0000");
    row("write status", "t6-mt19", "R:0001:0000000E", "0x9:0x00000000");
}

void TestSimulator::registerReplies() {
    QFETCH(QString, model);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    SimulatedAdapter adapter(model);
    powerOn(adapter);
    const QByteArray answer = ask(adapter, command);
    if (reply.startsWith('*')) {
        QVERIFY2(answer.startsWith(reply.mid(1)), answer.constData());
        QCOMPARE(answer.size(), 14);
    } else {
        QCOMPARE(answer, reply);
    }
}

void TestSimulator::firmwareRegistersBySize() {
    SimulatedAdapter u2("t2-mt17");
    powerOn(u2);
    QCOMPARE(ask(u2, "R:0002:0000002F"), QByteArray("0x9:0x00000002"));
    QCOMPARE(ask(u2, "R:0002:00000031"), QByteArray("0x9:0x00000009"));
    QCOMPARE(readValue(u2, 0x35, 2), 8812u);

    SimulatedAdapter u4("t5-st21");
    powerOn(u4);
    QCOMPARE(ask(u4, "R:0002:00000068"), QByteArray("0xee:"));
    QCOMPARE(ask(u4, "R:0004:00000068"), QByteArray("0x9:0x00000004"));
    QCOMPARE(ask(u4, "R:0002:0000006E"), QByteArray("0xee:"));
    QCOMPARE(readValue(u4, 0x6E, 4), 10231u);
    QCOMPARE(readValue(u4, 0x72, 4), 0x5E1D2C3Bu);
}

void TestSimulator::serialNumberRegistersSpellTheSerial() {
    const auto serialOf = [](SimulatedAdapter& adapter, quint32 base, int words, bool extra) {
        QByteArray text;
        for (int i = 0; i < words; ++i) {
            const quint32 word = readValue(adapter, base + 4 * i, 4);
            for (int b = 3; b >= 0; --b)
                text.append(static_cast<char>(word >> (8 * b)));
        }
        if (extra) {
            const quint32 last = readValue(adapter, base + 16, 2);
            text.append(static_cast<char>(last >> 8)).append(static_cast<char>(last));
        }
        return text;
    };
    SimulatedAdapter u2("t2-mt17");
    powerOn(u2);
    QCOMPARE(serialOf(u2, 0x5C, 2, false), QByteArray("UX217041"));

    SimulatedAdapter padded("t1-st19");
    powerOn(padded);
    QCOMPARE(serialOf(padded, 0x5C, 2, false), QByteArray("A1905\0\0\0", 8));

    SimulatedAdapter type5("t5-st21");
    powerOn(type5);
    QCOMPARE(serialOf(type5, 0x40, 4, true), QByteArray("UX5-21-0004087-AB7"));
}

void TestSimulator::writesAndWriteAccessStatus() {
    SimulatedAdapter adapter("t2-mt17");
    powerOn(adapter);
    QCOMPARE(ask(adapter, "R:0001:0000000E"), QByteArray("0x9:0x00000000"));

    QCOMPARE(ask(adapter, "W:0001:00000018:00000063"), QByteArray("0x9:"));
    QCOMPARE(readValue(adapter, 0x18, 1), 0x63u);

    QCOMPARE(ask(adapter, "W:0002:0000004C:00000001"), QByteArray("0x96:"));
    QCOMPARE(readValue(adapter, 0x0E, 1), 0x01u); // access denied

    QCOMPARE(ask(adapter, "W:0001:00000018:00000100"), QByteArray("0x56:"));
    QCOMPARE(readValue(adapter, 0x0E, 1), 0x02u); // value out of range

    QCOMPARE(ask(adapter, "W:0004:00000018:00000001"), QByteArray("0xee:"));
    QCOMPARE(ask(adapter, "W:0001:00000077:00000001"), QByteArray("0x26:"));

    QCOMPARE(ask(adapter, "W:0001:00000049:00000063"), QByteArray("0x9:"));
    QCOMPARE(readValue(adapter, 0x0E, 1), 0x40u); // command executed

    adapter.WithEncoder(
        [](SimulatedEncoder& e) { e.SetRegisterFault(0x18, RegisterFault::WriteLocked); });
    QCOMPARE(ask(adapter, "W:0001:00000018:00000001"), QByteArray("0xf6:"));
    QCOMPARE(readValue(adapter, 0x0E, 1), 0x80u); // write lock active
    QCOMPARE(readValue(adapter, 0x18, 1), 0x63u); // reads still work
}

void TestSimulator::faultSwitchesReplaceReplies() {
    SimulatedAdapter adapter;
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) {
        e.SetRegisterFault(0x4C, RegisterFault::ReadCrc);
        e.SetRegisterFault(0x4E, RegisterFault::OutOfRange);
    });
    QCOMPARE(ask(adapter, "R:0002:0000004C"), QByteArray("0xe6:"));
    QCOMPARE(ask(adapter, "R:0002:0000004E"), QByteArray("0x56:"));
    QVERIFY(ask(adapter, "R:0001:00000018").startsWith("0x9:"));

    adapter.WithEncoder(
        [](SimulatedEncoder& e) { e.SetGlobalRegisterFault(RegisterFault::WriteCrc); });
    QCOMPARE(ask(adapter, "W:0001:00000018:00000001"), QByteArray("0xf9:"));
    QVERIFY(ask(adapter, "R:0001:00000018").startsWith("0x9:"));

    adapter.WithEncoder(
        [](SimulatedEncoder& e) { e.SetGlobalRegisterFault(RegisterFault::NoResponse); });
    QVERIFY(ask(adapter, "R:0001:00000018").contains("retries"));

    adapter.WithEncoder([](SimulatedEncoder& e) { e.ClearRegisterFaults(); });
    QVERIFY(ask(adapter, "R:0002:0000004C").startsWith("0x9:"));
}

void TestSimulator::crcModeMustFitTheEncoder() {
    SimulatedAdapter normal("t2-mt17");
    powerOn(normal);
    QVERIFY(!ask(normal, "Ce").contains("ERROR"));
    QVERIFY(ask(normal, "R:0001:00000018").startsWith("0x9:"));
    QVERIFY(!ask(normal, "Cr").contains("ERROR"));
    QCOMPARE(ask(normal, "R:0001:00000018"), QByteArray("0xe6:"));

    SimulatedAdapter plain("t2-mt16-cr");
    powerOn(plain);
    ask(plain, "Ce");
    // The identification still comes, so the program learns the type and retries.
    QCOMPARE(ask(plain, "j"), plain.EncoderProfileInUse().identification);
    QCOMPARE(ask(plain, "R:0001:00000018"), QByteArray("0xe6:"));
    QCOMPARE(ask(plain, "W:0001:00000018:00000001"), QByteArray("0xf9:"));
    ask(plain, "Cr");
    QVERIFY(ask(plain, "R:0001:00000018").startsWith("0x9:"));
    QCOMPARE(ask(plain, "W:0001:00000018:00000001"), QByteArray("0x9:"));
    QCOMPARE(plain.CrcMode(), AdapterCrcMode::NonInverted);
}

// ---- Frames and status ----

void TestSimulator::workedExampleFrame_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("type 2") << 2 << QByteArray("0001800003A0");
    QTest::newRow("type 1") << 1 << QByteArray("00018000035F");
    QTest::newRow("type 6") << 6 << QByteArray("00018000035F");
}

void TestSimulator::workedExampleFrame() {
    QFETCH(int, type);
    QFETCH(QByteArray, reply);
    EncoderProfile profile = DefaultEncoderProfile(); // 17-bit multi-turn
    profile.type = type;
    SimulatedAdapter adapter;
    adapter.SetEncoderProfile(profile);
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(1, 65536); });
    const QByteArray frame = ask(adapter, "?07:000");
    QCOMPARE(frame.size(), 14);
    QCOMPARE(frame.left(12), reply);
}

void TestSimulator::everyModelSendsDecodableFrames_data() {
    everyCatalogueModelIdentifies_data();
}

void TestSimulator::everyModelSendsDecodableFrames() {
    QFETCH(QString, model);
    SimulatedAdapter adapter(model);
    powerOn(adapter);
    const EncoderProfile p = adapter.EncoderProfileInUse();
    const quint32 singleturn = (1u << p.stBits) - 3; // all high bits set
    const qint32 multiturn = p.multiturn ? -2 : 0;
    adapter.WithEncoder([&](SimulatedEncoder& e) { e.SetPosition(multiturn, singleturn); });
    const QByteArray hex = ask(adapter, frameCommand(p.type, p.multiturn));
    QCOMPARE(hex.size(), frameCommand(p.type, p.multiturn) == "?07:000" ? 14 : 10);
    const DecodedFrame f = decodeFrame(hex, p.type, p.stBits, p.multiturn);
    QVERIFY2(f.crcOk, hex.constData());
    QCOMPARE(f.singleturn, singleturn);
    if (p.multiturn && p.type != 3 && p.type != 4 && p.type != 5)
        QCOMPARE(f.multiturn, multiturn);
    QVERIFY(!f.error);
    QVERIFY(!f.warning);
}

void TestSimulator::errorAndWarningAreActiveLow() {
    SimulatedAdapter adapter("t2-st22");
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(0, 5); });
    QCOMPARE(ask(adapter, "?05:000").left(6), QByteArray("000017")); // 5 << 2 | 0b11

    adapter.WithEncoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
    DecodedFrame f = decodeFrame(ask(adapter, "?05:000"), 2, 22, false);
    QVERIFY(f.error && !f.warning && f.crcOk);
    QCOMPARE(f.singleturn, 5u);

    adapter.WithEncoder([](SimulatedEncoder& e) {
        e.SetErrorActive(false);
        e.SetWarningActive(true);
    });
    f = decodeFrame(ask(adapter, "?05:000"), 2, 22, false);
    QVERIFY(!f.error && f.warning && f.crcOk);
    // The persistent status kept both.
    QCOMPARE(readValue(adapter, 0x2C, 2), 0x0014u);
}

void TestSimulator::statusWordOfTypesThreeToFive() {
    SimulatedAdapter type3("t3-st18");
    powerOn(type3);
    DecodedFrame f = decodeFrame(ask(type3, "?07:000"), 3, 18, false);
    QCOMPARE(f.statusWord, quint16(1312)); // thermistor at 25 °C
    type3.WithEncoder([](SimulatedEncoder& e) { e.SetStatusBits(0x0020); });
    f = decodeFrame(ask(type3, "?07:000"), 3, 18, false);
    QVERIFY(f.error);
    QCOMPARE(f.statusWord, quint16(0x0020));

    SimulatedAdapter type4("t4-st20");
    powerOn(type4);
    type4.WithEncoder([](SimulatedEncoder& e) {
        e.SetAmbientTemperature(60);
        e.SetStatusBits(0x0010); // "Warning Temperature"
    });
    f = decodeFrame(ask(type4, "?07:000"), 4, 20, false);
    QVERIFY(f.warning && !f.error && f.crcOk);
    QCOMPARE(f.statusWord & 0xF800, 0x8000);
    QVERIFY((f.statusWord & 0x7FF) < 1312); // warmer: lower thermistor reading

    SimulatedAdapter type5("t5-st21");
    powerOn(type5);
    type5.WithEncoder([](SimulatedEncoder& e) { e.SetStatusBits(0x0800 | 0x0008); });
    f = decodeFrame(ask(type5, "?07:000"), 5, 21, false);
    QVERIFY(f.error && f.warning);
    QCOMPARE(f.statusWord, quint16(0x0808)); // error: the status itself
}

void TestSimulator::statusReplyLayouts() {
    SimulatedAdapter multi("t2-mt17");
    powerOn(multi);
    multi.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(-2, 16); });
    QByteArray reply = ask(multi, "d");
    QCOMPARE(reply.size(), 22);
    QCOMPARE(reply.mid(2, 4), QByteArray("0000"));
    QCOMPARE(reply.mid(9, 4), QByteArray("FFFE"));
    QCOMPARE(reply.mid(16, 6), QByteArray("000010"));

    multi.SetStatusReplyForm(StatusReplyForm::TurnsOnly17);
    reply = ask(multi, "d");
    QCOMPARE(reply.size(), 17);
    QCOMPARE(static_cast<qint16>(reply.mid(9, 8).toUInt(nullptr, 16) & 0xFFFF), qint16(-2));

    SimulatedAdapter single("t3-st18");
    powerOn(single);
    single.WithEncoder([](SimulatedEncoder& e) {
        e.SetPosition(0, 0x2ABCD);
        e.SetStatusBits(0x0303);
    });
    reply = ask(single, "d");
    QCOMPARE(reply.size(), 15);
    QCOMPARE(reply.mid(2, 4), QByteArray("0303"));
    QCOMPARE(reply.mid(9, 6), QByteArray("02ABCD"));
}

void TestSimulator::twoChannelStreamInTrailingBytes() {
    SimulatedAdapter adapter("t7-mt18");
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) {
        e.SetPosition(3, 1000);
        e.SetChannel1Offset(5000);
    });
    for (int i = 0; i < 4; ++i) // somewhere in the middle of a reading
        ask(adapter, "?07:000");
    QCOMPARE(ask(adapter, "x"), QByteArray("Reset of Dravonel protocol performed"));
    QByteArray stream;
    for (int i = 0; i < 9; ++i) {
        const DecodedFrame f = decodeFrame(ask(adapter, "?07:000"), 7, 18, true);
        QVERIFY(f.crcOk);
        QCOMPARE(f.multiturn, 3);
        stream.append(static_cast<char>(f.trailing));
    }
    const quint64 value = stream.left(5).toHex().toULongLong(nullptr, 16);
    QCOMPARE(static_cast<qint16>(value >> 24), qint16(3));
    const quint32 field = value & 0xFFFFFF;
    QCOMPARE(field >> 6, 6000u);
    QCOMPARE(field & 3, 3u); // no error, no warning
    QCOMPARE(stream.mid(5, 2), QByteArray(2, '\0'));
    QCOMPARE(static_cast<quint8>(stream[7]), BitwiseCrc8(stream.left(7)));

    // A new reset starts the stream again at byte 0.
    ask(adapter, "?07:000");
    ask(adapter, "x");
    QCOMPARE(decodeFrame(ask(adapter, "?07:000"), 7, 18, true).trailing, quint8(stream[0]));
}

void TestSimulator::signalLevelVariesWithAngle() {
    SimulatedAdapter adapter("t6-mt19");
    powerOn(adapter);
    QList<quint32> levels;
    for (int step = 0; step < 8; ++step) {
        adapter.WithEncoder([step](SimulatedEncoder& e) { e.SetPosition(0, step << 16); });
        levels.append(readValue(adapter, 0x02, 4));
    }
    const auto [low, high] = std::minmax_element(levels.cbegin(), levels.cend());
    QVERIFY(*low > 0);
    QVERIFY(*high > *low * 1.2); // enough to trace a curve of the air gap
}

// ---- Encoder commands ----

void TestSimulator::offsetSaveAndPowerCycle() {
    SimulatedAdapter adapter("t2-mt17");
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(0, 50); });
    QCOMPARE(readValue(adapter, 0x00, 4), 0u);

    // Zero two counts before the current position, as "Set zero here" does.
    QCOMPARE(ask(adapter, "x"), QByteArray("Reset of Dravonel protocol performed"));
    QCOMPARE(ask(adapter, "W:0004:00000000:00000030"), QByteArray("0x9:"));
    QCOMPARE(decodeFrame(ask(adapter, "?07:000"), 2, 17, true).singleturn, 2u);

    ask(adapter, "f");
    powerOn(adapter);
    QCOMPARE(readValue(adapter, 0x00, 4), 0u); // not saved: lost

    ask(adapter, "W:0004:00000000:00000030");
    QCOMPARE(ask(adapter, "W:0001:00000049:00000063"), QByteArray("0x9:")); // save
    ask(adapter, "f");
    powerOn(adapter);
    QCOMPARE(readValue(adapter, 0x00, 4), 0x30u);
    QCOMPARE(ask(adapter, "W:0004:00000000:00020000"), QByteArray("0x56:")); // beyond a turn
}

void TestSimulator::multiturnPresetAndFactoryReset() {
    SimulatedAdapter adapter("t6-mt19");
    powerOn(adapter);
    adapter.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(7, 100); });
    QCOMPARE(ask(adapter, writeCommand(0x94, 4, 0xFFFF)), QByteArray("0x9:"));
    QCOMPARE(ask(adapter, writeCommand(0xBD, 1, 0x6D)), QByteArray("0x9:"));
    DecodedFrame f = decodeFrame(ask(adapter, "?07:000"), 6, 19, true);
    QCOMPARE(f.multiturn, -1);
    QCOMPARE(f.singleturn, 100u);

    ask(adapter, writeCommand(0x80, 4, 40));
    ask(adapter, writeCommand(0xBD, 1, 0x63));
    QCOMPARE(readValue(adapter, 0x80, 4), 40u);
    QCOMPARE(ask(adapter, writeCommand(0xBD, 1, 0x72)), QByteArray("0x9:")); // factory reset
    QCOMPARE(readValue(adapter, 0x80, 4), 0u);
    ask(adapter, "f");
    powerOn(adapter);
    QCOMPARE(readValue(adapter, 0x80, 4), 0u);
    QVERIFY(readValue(adapter, 0x34, 4) > 0); // power cycles counted
}

void TestSimulator::selfCalibrationRun() {
    // Firmware 4: the start is acknowledged; the run ends at once here.
    SimulatedAdapter u4("t6-mt19");
    powerOn(u4);
    u4.WithEncoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(0); });
    const quint32 eccentricityBefore = readValue(u4, 0xC8, 2);
    QCOMPARE(readValue(u4, 0xC0, 4) & 3, 0u);
    QCOMPARE(ask(u4, writeCommand(0xBD, 1, 0x41)), QByteArray("0x9:"));
    const quint32 status = readValue(u4, 0xC0, 4);
    QCOMPARE(status & 3, 1u);       // one run finished
    QVERIFY(status & (1u << 4));    // successful
    QVERIFY(!(status & (1u << 6))); // not failed
    QVERIFY(readValue(u4, 0xC8, 2) != eccentricityBefore);

    // An arc out of range fails the run.
    ask(u4, writeCommand(0xC4, 2, 5));
    ask(u4, writeCommand(0xBD, 1, 0x41));
    QVERIFY(readValue(u4, 0xC0, 4) & (1u << 6));

    // Firmware 2 starts at once and leaves the start unanswered ("retries"),
    // then answers nothing until the run is over.
    SimulatedAdapter u2("t2-mt17");
    powerOn(u2);
    u2.WithEncoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(60000); });
    QVERIFY(ask(u2, "W:0001:00000049:00000041").contains("retries"));
    QVERIFY(ask(u2, "R:0001:00000052").startsWith("ERROR"));
    QVERIFY(u2.WithEncoder([](SimulatedEncoder& e) { return e.SelfCalRunning(); }));
    ask(u2, "f"); // a power cycle ends the run
    powerOn(u2);
    QCOMPARE(readValue(u2, 0x52, 1), 0u);
}

void TestSimulator::errorMapByteOrder() {
    // The same encoder with firmware 2 and 4: the same curve, other byte order.
    SimulatedAdapter fw2;
    EncoderProfile profile = DefaultEncoderProfile();
    profile.fwMajor = 4;
    SimulatedAdapter fw4;
    fw4.SetEncoderProfile(profile);
    powerOn(fw2);
    powerOn(fw4);
    int nonZero = 0;
    for (int i = 0; i < 512; i += 37) {
        const quint32 raw2 = readValue(fw2, 0x1800 + 2 * i, 2);
        const quint32 raw4 = readValue(fw4, 0x1800 + 2 * i, 2);
        const qint16 swapped = static_cast<qint16>(((raw2 & 0xFF) << 8) | (raw2 >> 8));
        QCOMPARE(swapped, static_cast<qint16>(raw4));
        nonZero += raw4 != 0;
    }
    QVERIFY(nonZero > 5);

    SimulatedAdapter u4("t6-mt19");
    powerOn(u4);
    QVERIFY(ask(u4, readCommand(0x10000 + 2 * 511, 2)).startsWith("0x9:"));
    QCOMPARE(ask(u4, readCommand(0x10000 + 2 * 512, 2)), QByteArray("0x26:"));
    QCOMPARE(ask(u4, readCommand(0x10000, 4)), QByteArray("0xee:"));
}

void TestSimulator::debugRecordRegisters() {
    SimulatedAdapter fw4("t6-mt19");
    powerOn(fw4);
    fw4.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(3, 5); });
    QCOMPARE(ask(fw4, writeCommand(0xBD, 1, 0x44)), QByteArray("0x9:")); // latch
    QCOMPARE(ask(fw4, "R:0001:00020088"), QByteArray("0x9:0x0C000000"));
    QCOMPARE(readValue(fw4, 0x2008C, 2), 3u);
    QCOMPARE(readValue(fw4, 0x20090, 4), 5u);

    SimulatedAdapter fw29("t2-mt17");
    powerOn(fw29);
    QCOMPARE(ask(fw29, "W:0001:00000048:00000001"), QByteArray("0x9:"));
    QCOMPARE(readValue(fw29, 0x200, 4) >> 24, quint32('D'));
    QCOMPARE(ask(fw29, "R:0004:00000280").size(), 14);

    SimulatedAdapter fw28("t1-mt20");
    powerOn(fw28);
    const int before = fw28.WithEncoder([](SimulatedEncoder& e) { return e.DebugLatches(); });
    QCOMPARE(ask(fw28, "?07:021").size(), 14);
    QCOMPARE(fw28.WithEncoder([](SimulatedEncoder& e) { return e.DebugLatches(); }), before + 1);
}

// ---- Serving on a pseudo-terminal ----

void TestSimulator::splitReplyArrivesWholeOverPty() {
    SimFixture sim;
    QVERIFY(sim.Serving());
    QVERIFY(QFileInfo::exists(sim.DevicePath()));
    FaultSettings faults;
    faults.splitParts = 4;
    faults.splitGapMs = 20;
    sim.Server().SetFaults(faults);
    QVERIFY(sim.OpenChannel());
    QSerialPort& port = *COMPortHandle;
    QCOMPARE(port.baudRate(), 115200);
    QCOMPARE(port.write("v"), qint64(1));
    QVERIFY(port.waitForBytesWritten(2000));
    QCOMPARE(readReply(port), QByteArray("Q714-7R v1.12\r"));
    QCOMPARE(sim.Adapter().ReceivedCommands(), QList<QByteArray>({"v"}));

    sim.Server().SendRaw("late\r");
    QCOMPARE(readReply(port), QByteArray("late\r"));
}

void TestSimulator::concatenatedCommandsOverPty() {
    SimFixture sim(QStringLiteral("t6-mt19"));
    QVERIFY(sim.OpenChannel());
    QSerialPort& port = *COMPortHandle;
    port.write("V5nR:0004:00000072");
    QVERIFY(port.waitForBytesWritten(2000));
    QByteArray replies;
    while (replies.count('\r') < 3) {
        const QByteArray more = readReply(port);
        if (more.isEmpty())
            break;
        replies += more;
    }
    QCOMPARE(replies, QByteArray("V5 OK\rON 5.0V\r0x9:0x0A17C3E9\r"));
    QCOMPARE(sim.Adapter().ReceivedCommands(), QList<QByteArray>({"V5", "n", "R:0004:00000072"}));
}

void TestSimulator::unplugMakesThePortFail() {
    SimFixture sim;
    QVERIFY(sim.OpenChannel());
    QSerialPort& port = *COMPortHandle;
    sim.Server().Unplug();

    // The terminal is hung up: the port reports an error and nothing answers.
    // (Its device path may soon belong to another terminal, so the test does
    // not look at the path.)
    port.write("v");
    port.waitForBytesWritten(500);
    QVERIFY(!readReply(port, 500).contains('\r'));
    QVERIFY(port.error() != QSerialPort::NoError);
    sim.CloseChannel();
    QVERIFY(!COMPortHandle);
    QVERIFY(!sim.Server().Start()); // nothing left to serve
}

void TestSimulator::announcementsGiveOneLinkPerSimulator() {
    const QByteArray outside = qgetenv("XDG_RUNTIME_DIR");
    QString folder;
    {
        SimFixture sim;
        QVERIFY(qgetenv("XDG_RUNTIME_DIR") != outside);
        QVERIFY(sim.Announce(QStringLiteral("first")));
        folder = SimulatedAdapterFolder();
        QVERIFY(folder.startsWith(sim.RuntimeFolder()));
        QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions());

        SimulatedAdapter otherAdapter;
        PtySimulator otherServer(otherAdapter);
        QVERIFY(otherServer.Open());
        Announcement other;
        QVERIFY(!other.Announce(otherServer.DevicePath(), QStringLiteral("first"))); // taken
        QVERIFY(other.Announce(otherServer.DevicePath(), QStringLiteral("second")));

        const QStringList links = QDir(folder).entryList(QDir::System | QDir::Files);
        QCOMPARE(links, QStringList({"first", "second"}));
        QCOMPARE(QFileInfo(folder + "/first").symLinkTarget(), sim.DevicePath());
        QCOMPARE(QFileInfo(folder + "/second").symLinkTarget(), otherServer.DevicePath());
        other.Withdraw();
        QVERIFY(!QFileInfo(folder + "/second").isSymLink());
    }
    QCOMPARE(qgetenv("XDG_RUNTIME_DIR"), outside);
}

namespace {

// Starts q714-sim announced as `name` in `runtime`; true once it serves.
bool startSimulator(QProcess& sim, const QString& runtime, const QString& name) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime);
    sim.setProcessEnvironment(environment);
    sim.start(QStringLiteral(Q714_SIM_PATH), {"--name", name});
    QByteArray output;
    while (!output.contains("Serving") && sim.waitForReadyRead(30000))
        output += sim.readAllStandardOutput();
    return output.contains("Serving");
}

} // namespace

// A simulator killed with SIGKILL leaves its link behind, and the link's
// terminal number is soon another terminal's (the next simulator's own, as a
// rule). A new simulator of that name replaces the link, while a running one
// keeps its name.
void TestSimulator::aKilledSimulatorsNameCanBeTakenAgain() {
    if (!QFileInfo::exists(QStringLiteral(Q714_SIM_PATH)))
        QSKIP("q714-sim is not built");
    QTemporaryDir runtime;
    const QString link = runtime.path() + "/q714-7r/bench-1";
    QProcess killed;
    QVERIFY(startSimulator(killed, runtime.path(), "bench-1"));
    killed.kill();
    QVERIFY(killed.waitForFinished(30000));
    QVERIFY(QFileInfo(link).isSymLink());

    QProcess next;
    QVERIFY(startSimulator(next, runtime.path(), "bench-1"));
    QSerialPort port(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write("r");
    QVERIFY(port.waitForBytesWritten(2000));
    QCOMPARE(readReply(port), QByteArray("Q7R00417\r"));

    QProcess third;
    QVERIFY(!startSimulator(third, runtime.path(), "bench-1"));
    if (third.state() != QProcess::NotRunning)
        QVERIFY(third.waitForFinished(30000));
    QCOMPARE(third.exitCode(), 1);
    next.terminate();
    QVERIFY(next.waitForFinished(30000));
}

void TestSimulator::executableServesAndRemovesItsLink() {
    const QString program = QStringLiteral(Q714_SIM_PATH);
    if (!QFileInfo::exists(program))
        QSKIP("q714-sim is not built");
    QProcess list;
    list.start(program, {"--list-models"});
    QVERIFY(list.waitForFinished(30000));
    const QList<QByteArray> lines = list.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), EncoderCatalogue().size() + 1); // heading and one line each

    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess sim;
    sim.setProcessEnvironment(environment);
    sim.start(program, {"--name", "bench-1", "--model", "t7-st20", "--power-on"});
    QVERIFY(sim.waitForStarted(30000));
    const QString link = runtime.path() + "/q714-7r/bench-1";
    QByteArray output;
    while (!output.contains("Serving") && sim.waitForReadyRead(30000))
        output += sim.readAllStandardOutput();
    QVERIFY2(QFileInfo(link).isSymLink(), output.constData());

    QSerialPort port(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write("j");
    QVERIFY(port.waitForBytesWritten(2000));
    QCOMPARE(readReply(port), QByteArray("84JY205KKP20BDK000\r"));
    port.close();

    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
