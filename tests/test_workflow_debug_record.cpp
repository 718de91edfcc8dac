// The debug record without the window: its readout by firmware generation
// with the debug unlock sent again when the encoder refuses it, the header
// and rows of the recording file with known answers and from simulated
// readings, the file's name and creation (never over another file), whole
// rows only on a short write, the duration, and the Debug tab's code-length
// view, taper and spectrum bars.
#include "DebugRecording.h"
#include "EncoderProfile.h"
#include "Enkoderji_splosno.h"
#include "Reading.h"
#include "WorkflowSim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr double Pi = 3.14159265358979323846;
const QByteArray UnlockCommand = "W:0001:00000049:00000044";
const QString RefusalNote = QStringLiteral("Debug record refused: sending the debug unlock again.");

// The options of a reading whose row is recorded.
ReadingOptions recordedReading() {
    ReadingOptions options;
    options.temperature = true;
    options.signalLevel = true;
    options.debugRecord = true;
    return options;
}

// Connects the encoder, its shaft resting at single-turn count 1000.
ConnectResult connectResting(WorkflowSim& sim) {
    sim.encoder([](SimulatedEncoder& e) {
        e.SetSpeedRpm(0);
        e.SetNoiseCounts(0);
        e.SetPosition(0, 1000);
    });
    return sim.Connect();
}

// The row of the reading just taken, split at ";".
QStringList rowOf(const Reading& reading, const QByteArray& supply = "ON 5.0V 38mA") {
    DebugRecordReading row;
    row.timeMs = 40;
    row.statusTexts = reading.statusTexts;
    row.supplyState = supply;
    row.debugRecordRead = reading.debugRecordRead;
    row.frameMT = reading.frameMT;
    row.frameST = reading.frameST;
    const QByteArray text = DebugRecordRow(row);
    return QString::fromLatin1(text.chopped(2)).split(QLatin1Char(';'));
}

// The commands that latch a record: register writes and the adapter's latch.
Commands latchCommands(const Commands& sent) {
    Commands latches;
    for (const QByteArray& command : sent)
        if (command.startsWith("W:") || command == "?07:021")
            latches << command;
    return latches;
}

QString expectedHeader() {
    QString header = QStringLiteral(
        "Time(ms);RX;MT;ST;Error;Status;Supply;Signal;Temperature;CodeA;CodeB;ResetCnt;"
        "CycleTime(clks);DecodSelect;AbsPos;McuTemp;Vdda;DcdTrs;DcdWrn;");
    for (int n = 1; n <= 56; ++n)
        header += QStringLiteral("MIS%1;").arg(n);
    return header;
}

// A record whose every column has a value that tells it apart.
void fillKnownRecord() {
    EncoderPosition.RxData = "7F\x01;0012";
    EncoderPosition.MT_value = -3;
    EncoderPosition.ST_value = 1000;
    EncoderStatus.SignalLevel = 812;
    EncoderStatus.TemperatureSEN = -5;
    TDebugData& d = DebugData;
    d.Status = 0x8001;
    d.CodeA = 0x2F5; // a tenth bit, beyond the nine recorded
    d.CodeB = 3;
    d.ResetCnt = 2;
    d.CycleTime = 1500;
    d.DecodSelect = 3;
    d.AbsPos = 4000000000u;
    d.McuTemp = 700;
    d.Vdda = 3300;
    d.DcdTrs = 192;
    d.DcdWrn = 128;
    for (int i = 0; i < 56; ++i)
        d.Samples[i] = static_cast<qint16>(10 * i - 200);
}

QByteArray knownSamplesText() {
    QByteArray text;
    for (int i = 0; i < 56; ++i)
        text += QByteArray::number(10 * i - 200) + ';';
    return text;
}

// Samples 1..55 a sine of `cycles` periods over `window` samples; sample 0,
// which the spectrum does not use, far off.
void fillSine(int cycles, int window, double amplitude) {
    for (int i = 0; i < 56; ++i)
        DebugData.Samples[i] = static_cast<qint16>(
            std::lround(amplitude * std::sin(2 * Pi * cycles * (i - 1) / window)));
    DebugData.Samples[0] = 30000;
}

int spectrumWindow(int codeLength) {
    return codeLength == 9 ? 54 : (codeLength == 8 || codeLength == 6) ? 48 : 49;
}

QByteArray fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(not readable)");
}

// The file size limit of the process, put back when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes) {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN); // a short write, not a signal
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};

} // namespace

class TestWorkflowDebugRecord : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    // -- the readout --

    void readoutLatchesAsTheFirmwareDoes_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<bool>("latch");
        QTest::addColumn<Commands>("latches");
        QTest::newRow("protocol 4 latching")
            << QByteArray("t6-mt19") << true << Commands{"W:0001:000000BD:00000044"};
        QTest::newRow("protocol 4 reading what the encoder latched")
            << QByteArray("t6-mt19") << false << Commands{};
        QTest::newRow("firmware 2.9, always by its latch register")
            << QByteArray("t2-mt17") << false << Commands{"W:0001:00000048:00000001"};
        QTest::newRow("firmware 2.8, by the adapter")
            << QByteArray("t1-mt20") << true << Commands{"?07:021"};
    }

    void readoutLatchesAsTheFirmwareDoes() {
        QFETCH(QByteArray, model);
        QFETCH(bool, latch);
        QFETCH(Commands, latches);
        WorkflowSim sim(model.constData());
        QVERIFY(sim.Connect().identified);
        QVERIFY(ReadDebugRecord(latch, true, sim.front));
        QCOMPARE(latchCommands(sim.Sent()), latches);
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('|')));
    }

    // An encoder re-powered or replaced has forgotten the debug unlock: a
    // refused readout sends it again and is tried once more.
    void aRefusedReadoutUnlocksAndIsTriedAgain() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        DebugData.Samples.fill(0);
        QVERIFY(ReadDebugRecord(true, true, sim.front));
        const Commands sent = sim.Sent();
        QCOMPARE(sent.count(UnlockCommand), 1);
        QCOMPARE(sent.count("W:0001:00000048:00000001"), 2); // latched for each readout
        QVERIFY(sent.indexOf(UnlockCommand) > sent.indexOf("W:0001:00000048:00000001"));
        QCOMPARE(sim.front.lines.size(), 2);
        QVERIFY2(sim.front.lines[0].startsWith(QLatin1String("CRC invalid on read\r\n")),
                 qPrintable(sim.front.lines[0]));
        QCOMPARE(sim.front.lines[1], RefusalNote);
        QVERIFY(DebugData.Samples[0] != 0);
        QVERIFY(sim.encoder([](SimulatedEncoder& e) { return e.DebugUnlocked(); }));

        sim.Forget(); // unlocked now: nothing more to send
        QVERIFY(ReadDebugRecord(true, true, sim.front));
        QVERIFY(!sim.Sent().contains(UnlockCommand));
        QVERIFY(sim.front.lines.isEmpty());
    }

    void aRefusedReadoutIsOnlyLoggedWhenNoUnlockIsAsked() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        QVERIFY(!ReadDebugRecord(true, false, sim.front));
        QVERIFY(!sim.Sent().contains(UnlockCommand));
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines[0].startsWith(QLatin1String("CRC invalid on read\r\n")));
    }

    // One more try at most: a second refusal, or a refused unlock, is logged
    // and the readout fails.
    void theUnlockIsSentOnceAtMost() {
        WorkflowSim sim;
        sim.Connect();
        sim.Script("R:0004:00000200", "0xe6:\r"); // every readout refused
        QVERIFY(!ReadDebugRecord(true, true, sim.front));
        QCOMPARE(sim.Sent().count(UnlockCommand), 1);
        QCOMPARE(sim.Sent().count("R:0004:00000200"), 2);
        QCOMPARE(sim.front.lines.size(), 3);
        QCOMPARE(sim.front.lines[1], RefusalNote);
        QVERIFY(sim.front.lines[2].startsWith(QLatin1String("CRC invalid on read\r\n")));

        sim.Forget();
        sim.Script(UnlockCommand, "0x96\r");
        QVERIFY(!ReadDebugRecord(true, true, sim.front));
        QCOMPARE(sim.Sent().count(UnlockCommand), 1);
        QCOMPARE(sim.Sent().count("R:0004:00000200"), 1); // not tried again
        QCOMPARE(sim.front.lines.size(), 3);
        QVERIFY2(sim.front.lines[2].startsWith(QLatin1String("Access denied")),
                 qPrintable(sim.front.lines[2]));
    }

    // Only a refusal for access is answered with the unlock.
    void otherFailuresAreLoggedWithoutAnUnlock() {
        WorkflowSim sim;
        sim.Connect();
        sim.encoder(
            [](SimulatedEncoder& e) { e.SetRegisterFault(0x210, RegisterFault::OutOfRange); });
        QVERIFY(!ReadDebugRecord(true, true, sim.front));
        QVERIFY(!sim.Sent().contains(UnlockCommand));
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY2(sim.front.lines[0].contains(QLatin1String("Parameter out of range")),
                 qPrintable(sim.front.lines[0]));
    }

    void aFailedProtocol4ReadoutLogsTheCommand() {
        WorkflowSim sim("t6-mt19");
        sim.Connect();
        sim.Script("R:0004:00020000", "0x26:\r");
        QVERIFY(!ReadDebugRecord(true, true, sim.front));
        QVERIFY(!sim.Sent().contains(UnlockCommand));
        QVERIFY(sim.front.LogLines().join('\n').contains(
            QLatin1String("Invalid register address\nsCmd: R:0004:00020000")));
    }

    // Every ready-made encoder gives a record without a complaint, and the
    // centre bar of its spectrum is the highest.
    void everyModelGivesARecord_data() {
        QTest::addColumn<QString>("model");
        for (const EncoderProfile& profile : EncoderCatalogue())
            QTest::newRow(qPrintable(profile.name)) << profile.name;
    }

    void everyModelGivesARecord() {
        QFETCH(QString, model);
        const QByteArray name = model.toLatin1();
        WorkflowSim sim(name.constData());
        const int codeLength = connectResting(sim).codeLength;
        ReadingOptions options;
        options.debugRecord = true;
        const Reading reading = TakeReading(options, sim.front);
        QVERIFY(reading.debugRecordRead);
        QVERIFY2(sim.front.lines.isEmpty(), qPrintable(sim.front.lines.join('\n')));
        if (DebugData.SampleCount == 0) // firmware without a known record layout
            return;
        const std::array<qint64, 3> heights = DebugSpectrumHeights(codeLength);
        QVERIFY2(
            heights[1] > heights[0] && heights[1] > heights[2],
            qPrintable(QStringLiteral("%1 %2 %3").arg(heights[0]).arg(heights[1]).arg(heights[2])));
    }

    // -- the rows --

    void headerNamesTheSeventyFiveColumns() {
        const QByteArray header = DebugRecordHeader();
        QCOMPARE(QString::fromLatin1(header), expectedHeader());
        QCOMPARE(header.count(';'), 75);
        QVERIFY(header.endsWith("MIS56;"));
    }

    void rowOfAKnownRecord() {
        fillKnownRecord();
        DebugRecordReading reading;
        reading.timeMs = 1234;
        reading.statusTexts = QStringLiteral("Error Multiturn\r\nError SSync\r\n");
        reading.supplyState = "ON 5.0V;38mA";
        reading.debugRecordRead = true;
        reading.frameMT = 5; // replaced by the record's position
        reading.frameST = 2000;
        QCOMPARE(DebugRecordRow(reading),
                 QByteArray("1234;7F,0012;-3;1000;Error Multiturn,Error SSync,;1000000000000001;"
                            "ON 5.0V,38mA;812;-5;011110101;000000011;2;1500;3;4000000000;700;"
                            "3300;192;128;") +
                     knownSamplesText() + "\r\n");
        QCOMPARE(DebugRecordRow(reading).count(';'), 75);
    }

    // No row carries a record it did not read: its columns stay empty, the
    // Error column says so, and position and status are the frame's.
    void rowOfAFailedReadout() {
        fillKnownRecord();
        DebugRecordReading reading;
        reading.timeMs = 7;
        reading.statusTexts = QStringLiteral("Error Multiturn\r\n");
        reading.supplyState = "ON 5.0V 38mA";
        reading.frameMT = 5;
        reading.frameST = 2000;
        QCOMPARE(DebugRecordRow(reading),
                 QByteArray("7;7F,0012;5;2000;Error Multiturn,Debug readout failed;;ON 5.0V 38mA;"
                            "812;-5;") +
                     QByteArray(66, ';') + "\r\n");
    }

    void rowOfASimulatedReading() {
        WorkflowSim sim;
        connectResting(sim);
        const Reading reading = TakeReading(recordedReading(), sim.front);
        const QStringList row = rowOf(reading);
        QCOMPARE(row.size(), 76); // 75 values, each followed by ";"
        QCOMPARE(row.last(), QString());
        QCOMPARE(row[0], QStringLiteral("40"));
        QCOMPARE(row[1], QString::fromLatin1(EncoderPosition.RxData));
        QCOMPARE(row[2], QStringLiteral("0"));
        QCOMPARE(row[3], QStringLiteral("1000"));
        QCOMPARE(row[4], QString()); // no status flags
        QCOMPARE(row[5], QString::fromLatin1(IntToBin(16, DebugData.Status)));
        QCOMPARE(row[6], QStringLiteral("ON 5.0V 38mA"));
        QVERIFY(reading.signalLevelRead);
        QCOMPARE(row[7], QString::number(EncoderStatus.SignalLevel));
        QCOMPARE(row[8], QString::number(EncoderStatus.TemperatureSEN));
        QCOMPARE(row[9], QString::fromLatin1(IntToBin(9, DebugData.CodeA)));
        QCOMPARE(row[13], QString::number(DebugData.DecodSelect));
        QCOMPARE(row[14], QStringLiteral("1000")); // the decoder's absolute position
        for (int i = 0; i < 56; ++i)
            QCOMPARE(row[19 + i], QString::number(DebugData.Samples[i]));
        QVERIFY(row[19].toInt() != 0);
    }

    void statusTextsInTheErrorColumn() {
        WorkflowSim sim;
        connectResting(sim);
        sim.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0x8800); });
        ReadingOptions options = recordedReading();
        options.decodedStatus = true;
        const QStringList row = rowOf(TakeReading(options, sim.front));
        QCOMPARE(row.at(4), QStringLiteral("Error Multiturn,Error SSync,"));
    }

    // Firmware 4 rows carry the record's position; RX stays the frame, and
    // the reading keeps the frame's position.
    void protocol4RowsCarryTheRecordsPosition() {
        WorkflowSim sim("t6-mt19");
        connectResting(sim);
        sim.Script("R:0002:0002008C", "0x9:0x0000FFFE\r");
        sim.Script("R:0004:00020090", "0x9:0x00000007\r");
        const Reading reading = TakeReading(recordedReading(), sim.front);
        const QByteArray frame = EncoderPosition.RxData;
        const QStringList row = rowOf(reading);
        QCOMPARE(row[1], QString::fromLatin1(frame));
        QCOMPARE(row[2], QStringLiteral("65534"));
        QCOMPARE(row[3], QStringLiteral("7"));
        QCOMPARE(reading.frameST, 1000u);
    }

    void aFailedReadoutIsMarkedInItsRow() {
        WorkflowSim sim;
        connectResting(sim);
        const QStringList good = rowOf(TakeReading(recordedReading(), sim.front));
        sim.encoder([](SimulatedEncoder& e) {
            e.SetRegisterFault(0x210, RegisterFault::OutOfRange);
            e.SetPosition(0, 2000);
        });
        const Reading reading = TakeReading(recordedReading(), sim.front);
        QVERIFY(!reading.debugRecordRead);
        QVERIFY(sim.front.LogLines().join('\n').contains(QLatin1String("Parameter out of range")));
        const QStringList failed = rowOf(reading);
        QCOMPARE(failed.size(), 76);
        QCOMPARE(failed[3], QStringLiteral("2000"));
        QCOMPARE(failed[4], QStringLiteral("Debug readout failed"));
        QCOMPARE(failed[5], QString());
        QCOMPARE(failed[6], good[6]);
        for (int column = 9; column < 75; ++column)
            QVERIFY2(failed[column].isEmpty(), qPrintable(QString::number(column)));
    }

    // -- the file --

    void fileNameOfTheIdentifiedEncoder() {
        QTemporaryDir folder;
        EncoderSignature.PartNumber = "RX712/../..\\x:y\x01";
        EncoderSignature.SerialNumber = "UX/7";
        const QString base = DebugRecordBaseName();
        QVERIFY2(QRegularExpression(QStringLiteral("^TEST_RX712....xy_UX7_\\d{14}$"))
                     .match(base)
                     .hasMatch(),
                 qPrintable(base));
        QVERIFY(QDateTime::fromString(base.right(14), QStringLiteral("yyyyMMddHHmmss")).isValid());
        QString path;
        const std::unique_ptr<QFile> file = CreateDebugRecordFile(folder.path(), path);
        QVERIFY(file && file->isOpen());
        QCOMPARE(file->fileName(), path);
        const QFileInfo created(path);
        QCOMPARE(created.absolutePath(), QDir(folder.path()).absolutePath());
        QVERIFY2(QRegularExpression(QStringLiteral("^TEST_RX712....xy_UX7_\\d{14}\\.csv$"))
                     .match(created.fileName())
                     .hasMatch(),
                 qPrintable(created.fileName()));
        QCOMPARE(created.size(), 0);
    }

    // Without an encoder the name has empty part and serial numbers.
    void fileNameWithoutAnIdentifiedEncoder() {
        const QString base = DebugRecordBaseName();
        QVERIFY2(QRegularExpression(QStringLiteral("^TEST___\\d{14}$")).match(base).hasMatch(),
                 qPrintable(base));
    }

    // Files taken in the same second, or a dangling link with the name,
    // are never written over: the next free number is used.
    void aNewFileNeverOverwritesAnother() {
        QTemporaryDir folder;
        for (int attempt = 0; attempt < 10; ++attempt) {
            const QString base = QDir(folder.path()).filePath(DebugRecordBaseName());
            QFile first(base + QStringLiteral(".csv"));
            QVERIFY(first.open(QIODevice::WriteOnly | QIODevice::NewOnly));
            first.write("first\r\n");
            first.close();
            QVERIFY(QFile::link(folder.filePath(QStringLiteral("nowhere")),
                                base + QStringLiteral("_2.csv")));
            QString path;
            const std::unique_ptr<QFile> file = CreateDebugRecordFile(folder.path(), path);
            QVERIFY(file && file->isOpen());
            QCOMPARE(fileText(base + QStringLiteral(".csv")), QByteArray("first\r\n"));
            QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("nowhere"))));
            if (QDir(folder.path()).filePath(DebugRecordBaseName()) != base)
                continue; // the clock went on to the next second meanwhile
            QCOMPARE(path, base + QStringLiteral("_3.csv"));
            return;
        }
        QFAIL("the clock never stayed within one second");
    }

    void aFolderThatCannotBeWrittenGivesTheSystemsReason() {
        QTemporaryDir temporary;
        QFile::setPermissions(temporary.path(), QFile::ReadOwner | QFile::ExeOwner);
        // The superuser writes into any folder, but not into sysfs.
        const QString folder = ::geteuid() == 0 ? QStringLiteral("/sys") : temporary.path();
        QString path;
        const std::unique_ptr<QFile> file = CreateDebugRecordFile(folder, path);
        QFile::setPermissions(temporary.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(file);
        QVERIFY(!file->isOpen());
        QVERIFY2(path.startsWith(folder + QStringLiteral("/TEST_")) && path.endsWith(".csv"),
                 qPrintable(path));
        QVERIFY2(file->errorString().contains(QLatin1String("Permission denied")),
                 qPrintable(file->errorString()));
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(QDir(temporary.path()).entryList(QDir::Files).size(), 0);
    }

    // Each row is in the file as soon as it is written, so a killed program
    // loses none of them.
    void rowsAreOnDiskAsTheyAreWritten() {
        QTemporaryDir folder;
        QString path;
        const std::unique_ptr<QFile> file = CreateDebugRecordFile(folder.path(), path);
        QString reason;
        QVERIFY(AppendWhole(*file, DebugRecordHeader() + "\r\n", reason));
        QByteArray expected = DebugRecordHeader() + "\r\n";
        QCOMPARE(fileText(path), expected);
        for (int rows = 1; rows <= 3; ++rows) {
            const QByteArray row = QByteArray::number(rows) + ";\r\n";
            QVERIFY(AppendWhole(*file, row, reason));
            expected += row;
            QCOMPARE(fileText(path), expected);
        }
        QCOMPARE(reason, QString());
    }

    // A write that stops short (the file may not grow) is cut back to the
    // last whole row, and the reason is the system's; the file goes on
    // where it stopped once it may grow again.
    void aShortWriteLeavesOnlyWholeRows() {
        QTemporaryDir folder;
        QString path;
        const std::unique_ptr<QFile> file = CreateDebugRecordFile(folder.path(), path);
        QString reason;
        const QByteArray header = DebugRecordHeader() + "\r\n";
        QVERIFY(AppendWhole(*file, header, reason));
        const QByteArray row = QByteArray(250, 'r') + "\r\n";
        {
            const FileSizeLimit limit(header.size() + 100); // half a row more
            QVERIFY(!AppendWhole(*file, row, reason));
        }
        QVERIFY2(reason.contains(QLatin1String("File too large")), qPrintable(reason));
        QCOMPARE(QFileInfo(path).size(), qint64(header.size()));
        QCOMPARE(file->pos(), qint64(header.size()));
        QVERIFY(AppendWhole(*file, row, reason));
        QCOMPARE(fileText(path), header + row);
    }

    void aFullDiskGivesItsReason() {
        QFile full(QStringLiteral("/dev/full"));
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QString reason;
        QVERIFY(!AppendWhole(full, DebugRecordHeader() + "\r\n", reason));
        QVERIFY2(reason.contains(QLatin1String("No space left on device")), qPrintable(reason));
    }

    // Whole seconds, a half to the even one.
    void recordDuration_data() {
        QTest::addColumn<quint32>("elapsedMs");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("0") << 0u << qint64(0);
        QTest::newRow("499") << 499u << qint64(0);
        QTest::newRow("500") << 500u << qint64(0);
        QTest::newRow("1500") << 1500u << qint64(2);
        QTest::newRow("2500") << 2500u << qint64(2);
        QTest::newRow("3500") << 3500u << qint64(4);
        QTest::newRow("3501") << 3501u << qint64(4);
        QTest::newRow("longest") << 4294967295u << qint64(4294967);
    }

    void recordDuration() {
        QFETCH(quint32, elapsedMs);
        QTEST(RecordDurationSeconds(elapsedMs), "seconds");
    }

    // -- the Debug tab's view --

    void codeLengthView_data() {
        QTest::addColumn<int>("codeLength");
        QTest::addColumn<int>("spacer");
        QTest::addColumn<int>("step");
        QTest::newRow("5") << 5 << 13 << 10;
        QTest::newRow("6") << 6 << 11 << 8;
        QTest::newRow("7") << 7 << 10 << 7;
        QTest::newRow("8") << 8 << 9 << 6;
        QTest::newRow("9") << 9 << 8 << 6;
        QTest::newRow("not connected") << 0 << 9 << 6;
        QTest::newRow("unknown") << 12 << 9 << 6;
    }

    void codeLengthView() {
        QFETCH(int, codeLength);
        const CodeLengthView view = CodeLengthViewFor(codeLength);
        QTEST(view.spacer, "spacer");
        QTEST(view.step, "step");
    }

    // No taper below an alpha of 0.01; a whole taper is the Hann window; the
    // window is symmetric, zero at both ends and flat in the middle.
    void tukeyWeights() {
        for (int n = 0; n < 56; n += 11)
            QCOMPARE(TukeyWeight(n, 56, 0.0f), 1.0f);
        for (int n = 0; n < 56; ++n) {
            const double hann = (1 - std::cos(2 * Pi * n / 55)) / 2;
            QVERIFY2(std::fabs(TukeyWeight(n, 56, 1.0f) - hann) < 1e-5,
                     qPrintable(QString::number(n)));
        }
        QVERIFY(std::fabs(TukeyWeight(0, 56, 0.9f)) < 1e-6f);
        QVERIFY(std::fabs(TukeyWeight(55, 56, 0.9f)) < 1e-6f);
        QCOMPARE(TukeyWeight(27, 56, 0.2f), 1.0f);
        for (int n = 0; n < 56; ++n)
            QVERIFY2(std::fabs(TukeyWeight(n, 56, 0.5f) - TukeyWeight(55 - n, 56, 0.5f)) < 1e-5f,
                     qPrintable(QString::number(n)));
        QVERIFY(TukeyWeight(3, 56, 0.5f) < TukeyWeight(6, 56, 0.5f));
    }

    void spectrumKnownAnswers() {
        fillSine(5, 49, 800); // window 49, bars for 4, 5 and 6 cycles
        QCOMPARE(DebugSpectrumHeights(5), (std::array<qint64, 3>{200, 440, 200}));
        fillSine(9, 54, 600); // window 54
        QCOMPARE(DebugSpectrumHeights(9), (std::array<qint64, 3>{166, 363, 166}));
        DebugData.Samples.fill(0);
        QCOMPARE(DebugSpectrumHeights(7), (std::array<qint64, 3>{0, 0, 0}));
    }

    // A pure cycle of L per window gives the highest centre bar; sample 0
    // and the samples after the window do not count.
    void spectrumOfACycleOfTheCodeLength_data() {
        QTest::addColumn<int>("codeLength");
        for (int length = 5; length <= 9; ++length)
            QTest::newRow(qPrintable(QString::number(length))) << length;
    }

    void spectrumOfACycleOfTheCodeLength() {
        QFETCH(int, codeLength);
        const int window = spectrumWindow(codeLength);
        fillSine(codeLength, window, 700);
        const std::array<qint64, 3> heights = DebugSpectrumHeights(codeLength);
        QVERIFY2(
            heights[1] > heights[0] && heights[1] > heights[2],
            qPrintable(QStringLiteral("%1 %2 %3").arg(heights[0]).arg(heights[1]).arg(heights[2])));
        DebugData.Samples[0] = -30000;
        for (int i = window + 1; i < 56; ++i)
            DebugData.Samples[i] = 12345;
        QCOMPARE(DebugSpectrumHeights(codeLength), heights);
    }
};

QTEST_GUILESS_MAIN(TestWorkflowDebugRecord)
#include "test_workflow_debug_record.moc"
