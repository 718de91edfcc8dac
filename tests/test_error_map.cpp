// The Error Map tab as the window shows it: the chart and its axis, the
// progress bar and the chart's title after a read that fails on the way, the
// read cycle paused meanwhile, and "Save to file" with its dialog, its CSV
// and PNG, its proposed name and its failures. The workflow's byte order,
// progress, log lines and file text are in test_workflow_error_map.
#include "Q714_SPI_Dravonel.h"
#include "SimulatedErrorMap.h"
#include "SimulatedWindow.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct ErrorMapWindow : SimulatedWindow {
    explicit ErrorMapWindow(const char* model = "t2-mt17",
                            const std::function<void(SimulatedAdapter&)>& prepare = {})
        : SimulatedWindow(model, prepare) {
        PowerAndConnect();
        form.Memo1->clear();
    }
    void failReadAtPoint(int point) {
        encoder([point](SimulatedEncoder& e) {
            e.ReadFaults().FailAt(e.Layout().errorMap + 2 * point, RegisterFault::ReadCrc);
        });
    }
    QString saveAs(const QString& path) {
        interaction().saveAnswers.enqueue(path);
        form.btnErrorMapSaveFileClick();
        return path;
    }
};

QList<QByteArray> fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestErrorMap : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetEncoderProtocolState(); }
    void cleanup() { ResetEncoderProtocolState(); }

    void theChartShowsTheMapWithinItsAxis() {
        ErrorMapWindow w;
        const int codeLength =
            CodeLengthOfPart(w.sim.Adapter().EncoderProfileInUse().identification);
        w.form.btnReadErrMapClick();
        const QList<QPointF> points = w.form.Series1->points();
        QCOMPARE(points.size(), 512);
        for (int i = 0; i < points.size(); ++i)
            QCOMPARE(points[i], QPointF(i, ErrorMapCorrection(i, codeLength)));
        QVERIFY(w.form.ErrMapProgressBar->isHidden());
        QVERIFY(w.form.EnableConstReading);
        double lowest = 0, highest = 0;
        for (const QPointF& p : points)
            lowest = qMin(lowest, p.y()), highest = qMax(highest, p.y());
        QVERIFY(w.form.chartErrMapAxisLeft->min() <= lowest);
        QVERIFY(w.form.chartErrMapAxisLeft->max() >= highest);
    }

    void aFlatMapStillGetsAnAxis() {
        ErrorMapWindow w;
        for (int point = 0; point < 512; ++point)
            w.sim.Adapter().OverrideReply(
                "R:0002:" +
                    QByteArray::number(0x1800 + 2 * point, 16).toUpper().rightJustified(8, '0'),
                "0x9:0x00000000\r");
        w.form.btnReadErrMapClick();
        QCOMPARE(w.form.Series1->count(), 512);
        QVERIFY(w.form.chartErrMapAxisLeft->min() < 0 && w.form.chartErrMapAxisLeft->max() > 0);
    }

    void aFailedReadKeepsThePointsSoFarAndSavesNothing() {
        ErrorMapWindow w;
        w.failReadAtPoint(300);
        w.form.btnReadErrMapClick();
        QCOMPARE(w.form.Series1->count(), 300);
        QVERIFY(!w.form.ErrMapProgressBar->isHidden());
        QCOMPARE(w.form.ErrMapProgressBar->value(), 299);
        QVERIFY(!w.form.EnableConstReading);
        // The memo shows the log line naming the point; bar and chart say the
        // map is incomplete.
        QVERIFY(w.form.Memo1->toPlainText().endsWith(
            "Error map incomplete: point 300 could not be read (300 of 512 points read)."));
        QCOMPARE(w.form.ErrMapProgressBar->text(), QStringLiteral("Incomplete: 300 of 512 points"));
        QCOMPARE(w.form.chartErrMap->chart()->title(),
                 QStringLiteral("Incomplete error map: 300 of 512 points"));

        QTemporaryDir folder;
        w.saveAs(folder.filePath("map.csv"));
        QCOMPARE(w.interaction().messages, QStringList{"Error reading Error Map from encoder!"});
        QVERIFY(w.interaction().saveRequests.isEmpty());
        QVERIFY(QDir(folder.path()).isEmpty());
    }

    void aCompleteReadClearsTheIncompleteMarks() {
        ErrorMapWindow w;
        w.failReadAtPoint(10);
        w.form.btnReadErrMapClick();
        w.encoder([](SimulatedEncoder& e) { e.ClearRegisterFaults(); });
        w.form.btnReadErrMapClick();
        QCOMPARE(w.form.Series1->count(), 512);
        QVERIFY(w.form.chartErrMap->chart()->title().isEmpty());
        QCOMPARE(w.form.ErrMapProgressBar->format(), QStringLiteral("%p%"));
    }

    void saveWritesTheCsvAndThePngBesideIt() {
        ErrorMapWindow w;
        w.form.FormatSettings = QLocale(QLocale::German, QLocale::Germany);
        QTemporaryDir folder;
        w.saveAs(folder.filePath("map.txt"));
        const SaveDialogRequest request = w.interaction().saveRequests.value(0);
        QCOMPARE(request.title, QString("Save Error Map data"));
        QCOMPARE(request.proposedName, QString("ErrorMap_RX712KAN17MDG000_UX217041"));
        QCOMPARE(w.interaction().beeps, QList<BeepKind>{BeepKind::Question});

        QVERIFY(!QFile::exists(folder.filePath("map.txt")));
        const QList<QByteArray> lines = fileLines(folder.filePath("map.csv"));
        QCOMPARE(lines.size(), 514);
        QCOMPARE(lines[0], QByteArray("Ulvax Error Map;Serial: UX217041;Part: RX712KAN17MDG000\r"));
        QCOMPARE(lines[1], QByteArray("Point;Value\r"));
        QCOMPARE(lines[2], "0;" + QByteArray::number(ErrorMapCorrection(0, 7)) + "\r");
        QCOMPARE(lines[513], "511;" + QByteArray::number(ErrorMapCorrection(511, 7)) + "\r");
        QImage png(folder.filePath("map.png"));
        QCOMPARE(png.size(), w.form.chartErrMap->size());

        // From now on every number shows a full stop as decimal separator.
        QCOMPARE(w.form.FixedText(1.25, 2), QString("1.25"));
    }

    void anUnwritableFileIsReportedAndNoPngFollows() {
        ErrorMapWindow w;
        QTemporaryDir folder;
        const QString path = w.saveAs(folder.filePath("missing/map.csv"));
        QCOMPARE(w.interaction().errors.size(), 1);
        QVERIFY(w.interaction().errors[0].startsWith("The error map could not be saved to " + path +
                                                     ": "));
        QVERIFY(!QFile::exists(folder.filePath("missing/map.png")));

        // A map that cannot be read leaves an existing file as it was.
        const QString existing = folder.filePath("old.csv");
        QFile old(existing);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("kept");
        old.close();
        w.failReadAtPoint(3);
        w.saveAs(existing);
        QCOMPARE(fileLines(existing), QList<QByteArray>{"kept"});
    }

    void theProposedNameCannotLeaveTheFolder() {
        ErrorMapWindow w("t2-mt17", [](SimulatedAdapter& adapter) {
            EncoderProfile profile = DefaultEncoderProfile();
            profile.serialNumber = "../x\\y";
            adapter.SetEncoderProfile(profile);
        });
        w.form.btnErrorMapSaveFileClick(); // the dialog is cancelled
        QCOMPARE(w.interaction().saveRequests.value(0).proposedName,
                 QString("ErrorMap_RX712KAN17MDG000_..xy"));
    }
};

QTEST_MAIN(TestErrorMap)
#include "test_error_map.moc"
