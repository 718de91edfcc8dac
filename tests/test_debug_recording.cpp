// Debug recording as the window runs it: the check box starting and stopping
// it, the file's path and duration in mmFileName, rows appearing as readings
// are taken, the box unticked with a message when a file cannot be created or
// written, the debug unlock at the start, on a refused readout and at a
// Connect, and the file closed with the window. The rows, the file's name and
// creation and the cut-back of short writes are in test_workflow_debug_record.
#include "DebugRecording.h"
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

} // namespace

class TestDebugRecording : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    // The unlock first, then the header; each reading adds its row with the
    // supply shown and the signal level and temperature read for it.
    void headerAndRows() {
        RecordingWindow w;
        w.startRecording();
        QCOMPARE(w.Sent().mid(0, 2), (QList<QByteArray>{"x", "W:0001:00000049:00000044"}));
        w.form.btnReadEncoderClick();
        w.form.btnReadEncoderClick();
        const QStringList lines = w.lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QString::fromLatin1(DebugRecordHeader()));
        const QStringList row = lines[2].split(';');
        QCOMPARE(row.size(), 76);
        QCOMPARE(row[2], QStringLiteral("0"));
        QCOMPARE(row[3], QStringLiteral("1000"));
        QCOMPARE(row[6], w.form.lblPower->text());
        QCOMPARE(row[7], QString::number(EncoderStatus.SignalLevel)); // read while recording
        QVERIFY(row[7].toInt() != 0);
        QCOMPARE(row[8], QString::number(EncoderStatus.TemperatureSEN));
    }

    // Firmware 4 rows carry the record's position; the window shows the
    // frame's.
    void protocol4RowsAndTheShownPosition() {
        RecordingWindow w("t6-mt19");
        w.Script("R:0004:00020090", "0x9:0x00000007\r");
        w.startRecording();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.lines().at(1).split(';').at(3), QStringLiteral("7"));
        QCOMPARE(w.form.lblPosST->text(), QStringLiteral("1000"));
    }

    void fileNameAndDuration() {
        RecordingWindow w;
        w.startRecording();
        QVERIFY(w.form.ShraniFajl);
        QCOMPARE(w.path(), w.form.ShraniFajl->fileName());
        QVERIFY(QFileInfo(w.path()).fileName().startsWith(QLatin1String("TEST_")));
        QCOMPARE(QFileInfo(w.path()).absolutePath(), QDir(w.folder.path()).absolutePath());
        w.form.cbShranjujMeritveDebug->setChecked(false);
        QVERIFY(!w.form.ShraniFajl);
        QVERIFY(QRegularExpression(QStringLiteral("\nRecord duration: \\d+ sec\\.$"))
                    .match(w.form.mmFileName->toPlainText())
                    .hasMatch());
    }

    // Without an encoder the failed unlock is logged and the recording
    // starts all the same.
    void recordingWithoutAnIdentifiedEncoder() {
        SimulatedWindow w;
        QTemporaryDir folder;
        w.form.DebugRecordFolder = folder.path();
        w.form.cbShranjujMeritveDebug->setChecked(true);
        QVERIFY(w.form.ShraniFajl);
        QVERIFY(
            w.form.Memo1->toPlainText().startsWith(QStringLiteral("Error\nsCmd: W:0001:00000049")));
    }

    // Each row is in the file as soon as the reading is done.
    void rowsAppearWithTheReadings() {
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

    // While recording, a readout the re-powered encoder refuses sends the
    // debug unlock again.
    void aRefusedReadoutUnlocksAgain() {
        RecordingWindow w;
        w.encoder([](SimulatedEncoder& e) { e.SetDebugLock(true); });
        w.startRecording();
        w.form.btnPowerOFFClick();
        w.form.btnPowerONClick();
        w.sim.Adapter().ClearReceivedCommands();
        w.form.btnReadEncoderClick();
        QCOMPARE(w.Sent().count("W:0001:00000049:00000044"), 1);
        QCOMPARE(w.lines().last().split(';').at(4), QString());
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

    // A file that cannot be written stops the recording once, with a
    // message naming the file and the reason.
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
