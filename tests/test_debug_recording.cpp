// Debug recording to CSV files: the header and the rows, the file name and
// its folder, the duration line, rows on disk as they are written, and files
// that cannot be created or written.
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct RecordingWindow : RestingEncoderWindow {
    explicit RecordingWindow(const char* model = "t2-mt17") : RestingEncoderWindow(model) {
        form.DebugRecordFolder = folder.path();
    }
    void startRecording() { form.cbShranjujMeritveDebug->setChecked(true); }
    QString path() const { return form.mmFileName->toPlainText().section(QLatin1Char('\n'), 0, 0); }
    QStringList lines() const {
        QFile file(path());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
        lines.removeLast(); // after the last line end
        return lines;
    }
    QTemporaryDir folder;
};

QString expectedHeader() {
    QString header = QStringLiteral(
        "Time(ms);RX;MT;ST;Error;Status;Supply;Signal;Temperature;CodeA;CodeB;ResetCnt;"
        "CycleTime(clks);DecodSelect;AbsPos;McuTemp;Vdda;DcdTrs;DcdWrn;");
    for (int n = 1; n <= 56; ++n)
        header += QStringLiteral("MIS%1;").arg(n);
    return header;
}

} // namespace

class TestDebugRecording : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void headerAndRows() {
        RecordingWindow w;
        w.startRecording();
        QCOMPARE(w.Sent().mid(0, 2), (QList<QByteArray>{"x", "W:0001:00000049:00000044"}));
        w.form.btnReadEncoderClick();
        w.form.btnReadEncoderClick();
        const QStringList lines = w.lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], expectedHeader());
        QVERIFY(lines[0].endsWith("MIS56;"));
        QCOMPARE(lines[0].count(';'), 75);

        const QStringList row = lines[2].split(';');
        QCOMPARE(row.size(), 76); // 75 values, each followed by ";"
        QCOMPARE(row.last(), QString());
        QCOMPARE(row[1], QString::fromLatin1(EncoderPosition.RxData));
        QCOMPARE(row[2], QStringLiteral("0"));
        QCOMPARE(row[3], QStringLiteral("1000"));
        QVERIFY(lines[2].contains(QStringLiteral(";1000;;") + row[5] + ';')); // no status flags
        QCOMPARE(row[5], QString::fromLatin1(IntToBin(16, DebugData.Status)));
        QCOMPARE(row[6], w.form.lblPower->text());
        QCOMPARE(row[7], QString::number(EncoderStatus.SignalLevel)); // read while recording
        QCOMPARE(row[8], QString::number(EncoderStatus.TemperatureSEN));
        QCOMPARE(row[9], QString::fromLatin1(IntToBin(9, DebugData.CodeA)));
        QCOMPARE(row[13], QString::number(DebugData.DecodSelect));
        QCOMPARE(row[14], QStringLiteral("1000")); // the decoder's absolute position
        for (int i = 0; i < 56; ++i)
            QCOMPARE(row[19 + i], QString::number(DebugData.Samples[i]));
        QVERIFY(row[19].toInt() != 0);
    }

    void statusTextsInTheErrorColumn() {
        RecordingWindow w;
        w.form.cbDetailedStatus->setChecked(true);
        w.encoder([](SimulatedEncoder& e) { e.SetStatusBits(0x8800); });
        w.startRecording();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.lines().at(1).split(';').at(4), QStringLiteral("Error Multiturn,Error SSync,"));
    }

    // Firmware 4 rows carry the record's position; RX stays the frame.
    void protocol4RowsCarryTheRecordsPosition() {
        RecordingWindow w("t6-mt19");
        w.Script("R:0002:0002008C", "0x9:0x0000FFFE\r");
        w.Script("R:0004:00020090", "0x9:0x00000007\r");
        w.startRecording();
        w.form.btnReadEncoderClick();
        const QStringList row = w.lines().at(1).split(';');
        QCOMPARE(row[2], QStringLiteral("65534"));
        QCOMPARE(row[3], QStringLiteral("7"));
        QCOMPARE(row[1], w.form.lblPosRX->text());
        QCOMPARE(w.form.lblPosST->text(), QStringLiteral("1000"));
    }

    void fileNameAndDuration() {
        RecordingWindow w;
        EncoderSignature.PartNumber = "RX712/../..\\x:y\x01";
        EncoderSignature.SerialNumber = "UX/7";
        w.startRecording();
        const QString name = QFileInfo(w.path()).fileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^TEST_RX712....xy_UX7_\\d{14}\\.csv$"))
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        QCOMPARE(QFileInfo(w.path()).absolutePath(), QDir(w.folder.path()).absolutePath());
        w.form.cbShranjujMeritveDebug->setChecked(false);
        QVERIFY(!w.form.ShraniFajl);
        QVERIFY(QRegularExpression(QStringLiteral("\nRecord duration: \\d+ sec\\.$"))
                    .match(w.form.mmFileName->toPlainText())
                    .hasMatch());

        QCOMPARE(TMainForm::RecordDurationSeconds(2500), qint64(2));
        QCOMPARE(TMainForm::RecordDurationSeconds(3500), qint64(4));
        QCOMPARE(TMainForm::RecordDurationSeconds(3501), qint64(4));
        QCOMPARE(TMainForm::RecordDurationSeconds(499), qint64(0));
    }

    // Without an encoder the name has empty part and serial numbers; the
    // failed unlock is logged and the recording starts all the same.
    void fileNameWithoutAnIdentifiedEncoder() {
        SimulatedWindow w;
        QTemporaryDir folder;
        w.form.DebugRecordFolder = folder.path();
        w.form.cbShranjujMeritveDebug->setChecked(true);
        QVERIFY(w.form.ShraniFajl);
        const QString name = QFileInfo(w.form.ShraniFajl->fileName()).fileName();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^TEST___\\d{14}\\.csv$")).match(name).hasMatch(),
            qPrintable(name));
        QVERIFY(
            w.form.Memo1->toPlainText().startsWith(QStringLiteral("Error\nsCmd: W:0001:00000049")));
    }

    // Each row is in the file as soon as the reading is done, so a killed
    // program loses none of them.
    void rowsAreOnDiskAsTheyAreWritten() {
        RecordingWindow w;
        w.startRecording();
        QCOMPARE(w.lines().size(), 1);
        for (int rows = 1; rows <= 3; ++rows) {
            w.form.btnReadEncoderClick();
            QCOMPARE(w.lines().size(), 1 + rows);
        }
    }

    void readOnlyFolderIsReportedAndTheBoxUnticked() {
        RecordingWindow w;
        QFile::setPermissions(w.folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        // The superuser writes into any folder, but not into sysfs.
        if (::geteuid() == 0)
            w.form.DebugRecordFolder = QStringLiteral("/sys");
        w.startRecording();
        QFile::setPermissions(w.folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!w.form.cbShranjujMeritveDebug->isChecked());
        QVERIFY(!w.form.ShraniFajl);
        QCOMPARE(w.interaction().messages.size(), 1);
        const QString message = w.interaction().messages.first();
        QVERIFY2(message.contains(w.form.DebugRecordFolder + QStringLiteral("/TEST_")) &&
                     message.contains("Permission denied"),
                 qPrintable(message));
        w.form.btnReadEncoderClick(); // reading goes on without a file
        QCOMPARE(w.form.lblPosST->text(), QStringLiteral("1000"));
        QCOMPARE(QDir(w.folder.path()).entryList(QDir::Files).size(), 0);
    }

    // A reading whose debug record could not be read gets a row that says
    // so, with the record's columns empty: no row carries a record it did
    // not read. Position and status are the frame's.
    void aFailedReadoutIsMarkedInItsRow() {
        RecordingWindow w;
        w.startRecording();
        w.form.btnReadEncoderClick();
        w.encoder([](SimulatedEncoder& e) {
            e.SetRegisterFault(0x210, RegisterFault::OutOfRange);
            e.SetPosition(0, 2000);
        });
        w.form.btnReadEncoderClick();
        const QStringList lines = w.lines();
        QCOMPARE(lines.size(), 3);
        const QStringList good = lines[1].split(';');
        const QStringList failed = lines[2].split(';');
        QCOMPARE(failed.size(), 76);
        QCOMPARE(failed[3], QStringLiteral("2000"));
        QCOMPARE(failed[4], QStringLiteral("Debug readout failed"));
        QCOMPARE(failed[5], QString());
        QCOMPARE(failed[6], good[6]);
        for (int column = 9; column < 75; ++column)
            QVERIFY2(failed[column].isEmpty(), qPrintable(QString::number(column)));
        QVERIFY(w.form.Memo1->toPlainText().contains("Parameter out of range"));
    }

    // An encoder re-powered or replaced mid-recording has forgotten the
    // debug unlock: a refused readout sends it again and is tried once more.
    void aRefusedReadoutUnlocksAgain() {
        RecordingWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        w.startRecording();
        w.form.btnPowerOFFClick();
        w.form.btnPowerONClick();
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.Sent().count("W:0001:00000049:00000044"), 1);
        const QStringList row = w.lines().last().split(';');
        QCOMPARE(row[4], QString());
        QCOMPARE(row[19], QString::number(DebugData.Samples[0]));
        QVERIFY(w.form.Memo1->toPlainText().contains("CRC invalid on read"));
    }

    // A Connect while recording unlocks the (new) encoder at once.
    void aConnectWhileRecordingUnlocks() {
        RecordingWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        w.startRecording();
        w.sim.Adapter().SetEncoderProfile(*FindEncoderProfile("t2-mt17"));
        w.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        w.form.RestartAdapterSearch();
        w.form.initTimerTimer();
        w.PowerAndConnect();
        QVERIFY(w.encoder([](SimulatedEncoder& e) { return e.DebugUnlocked(); }));
        w.form.Memo1->clear();
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.Memo1->toPlainText().contains("CRC invalid on read"));
        QCOMPARE(w.lines().last().split(';').at(4), QString());
    }

    // Two recordings started in the same second never share a file.
    void aSecondRecordingNeverOverwritesTheFirst() {
        RecordingWindow w;
        w.startRecording();
        w.form.btnReadEncoderClick();
        const QString first = w.path();
        w.form.cbShranjujMeritveDebug->setChecked(false);
        w.startRecording();
        const QString second = w.path();
        QVERIFY(second != first);
        if (second.section('_', 0, -2) == first.chopped(4))
            QVERIFY(second.endsWith("_2.csv"));
        QFile file(first);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), 2);
    }

    // A write that stops short (the disk is full, the file may not grow) is
    // cut back to the last whole row, and the message says why.
    void aShortWriteLeavesOnlyWholeRows() {
        RecordingWindow w;
        w.startRecording();
        w.form.btnReadEncoderClick();
        const qint64 size = QFileInfo(w.path()).size();
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit saved = limit;
        limit.rlim_cur = rlim_t(size + 100); // half a row more
        setrlimit(RLIMIT_FSIZE, &limit);
        w.form.btnReadEncoderClick();
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!w.form.cbShranjujMeritveDebug->isChecked());
        QCOMPARE(QFileInfo(w.path()).size(), size);
        QCOMPARE(w.lines().size(), 2);
        QCOMPARE(w.interaction().messages.size(), 1);
        QVERIFY2(w.interaction().messages.first().contains("File too large"),
                 qPrintable(w.interaction().messages.first()));
    }

    void fullDiskStopsTheRecording() {
        RecordingWindow w;
        w.startRecording();
        auto full = std::make_unique<QFile>(QStringLiteral("/dev/full"));
        QVERIFY(full->open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        w.form.ShraniFajl = std::move(full);
        w.form.btnReadEncoderClick();
        QVERIFY(!w.form.cbShranjujMeritveDebug->isChecked());
        QVERIFY(!w.form.ShraniFajl);
        QCOMPARE(w.interaction().messages.size(), 1);
        QVERIFY(w.interaction().messages.first().contains(QStringLiteral("/dev/full")));
        QVERIFY(
            w.interaction().messages.first().contains(QStringLiteral("No space left on device")));
        QVERIFY(w.form.mmFileName->toPlainText().contains(QStringLiteral("Recording stopped: ")));
        w.form.btnReadEncoderClick();
        QCOMPARE(w.interaction().messages.size(), 1);
    }

    void closingTheWindowClosesTheFile() {
        RecordingWindow w;
        w.startRecording();
        w.form.btnReadEncoderClick();
        w.form.close();
        QVERIFY(w.form.ShraniFajl && !w.form.ShraniFajl->isOpen());
        QCOMPARE(w.lines().size(), 2);
    }
};

QTEST_MAIN(TestDebugRecording)
#include "test_debug_recording.moc"
