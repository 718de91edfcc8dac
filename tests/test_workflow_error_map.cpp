// The error-map workflow against simulated encoders: the 512 corrections in
// the byte order of the firmware, the progress of the read, a read that
// fails on the way, the file text and the chart points.
#include "Serial_driver.h"
#include "WorkflowSim.h"

#include "ErrorMap.h"
#include "SimulatedErrorMap.h"

#include <QTest>

namespace {

// A connected encoder of `model` whose traffic and log start empty.
struct ErrorMapSim : WorkflowSim {
    explicit ErrorMapSim(const char* model = "t2-mt17") : WorkflowSim(model) { Connect(); }

    int codeLength() { return CodeLengthOfPart(Adapter().EncoderProfileInUse().identification); }
    quint32 mapBase() {
        return encoder([](SimulatedEncoder& e) { return e.Layout().errorMap; });
    }
    void failReadAtPoint(int point) {
        encoder([point](SimulatedEncoder& e) {
            e.ReadFaults().FailAt(e.Layout().errorMap + 2 * point, RegisterFault::ReadCrc);
        });
    }
    // The read command of one point.
    QByteArray readOf(int point) {
        return "R:0002:" +
               QByteArray::number(mapBase() + 2 * point, 16).toUpper().rightJustified(8, '0');
    }
};

} // namespace

class TestWorkflowErrorMap : public QObject {
    Q_OBJECT

private slots:
    // Bytes 0x01 0xFF of the reply: firmware 2 sends the low byte first.
    void byteOrderFollowsTheFirmware_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("firstRead");
        QTest::addColumn<int>("firstPoint");
        QTest::newRow("firmware 2")
            << QByteArray("t2-mt17") << QByteArray("R:0002:00001800") << -255;
        QTest::newRow("firmware 4")
            << QByteArray("t6-mt19") << QByteArray("R:0002:00010000") << 511;
    }

    void byteOrderFollowsTheFirmware() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, firstRead);
        ErrorMapSim sim(model.constData());
        sim.Script(firstRead, "0x9:0x000001FF\r");
        CommLogEnabled = true;
        QList<int> progress;
        const ErrorMapReadout map = ReadErrorMap(sim.front, [&](int point) { progress << point; });
        QVERIFY(CommLogText.startsWith("ReadErrMap\r\n"));
        QVERIFY(map.Complete());
        QCOMPARE(map.failedPoint, -1);
        QCOMPARE(map.corrections.size(), 512);
        QTEST(int(map.corrections[0]), "firstPoint");
        for (int i = 1; i < map.corrections.size(); ++i) // the rest as the encoder holds them
            QCOMPARE(map.corrections[i], ErrorMapCorrection(i, sim.codeLength()));
        QCOMPARE(progress.size(), 512);
        for (int i = 0; i < progress.size(); ++i)
            QCOMPARE(progress[i], i);
        const Commands sent = sim.Sent();
        QCOMPARE(sent.size(), 512);
        QCOMPARE(sent.first(), firstRead);
        QCOMPARE(sent.last(), sim.readOf(511));
        QVERIFY(sim.front.lines.isEmpty());
        QVERIFY(sim.front.alerts.isEmpty());
        QVERIFY(LastError.isEmpty());
    }

    void aFailedReadKeepsThePointsSoFar() {
        ErrorMapSim sim;
        sim.failReadAtPoint(300);
        int progressCalls = 0;
        const ErrorMapReadout map = ReadErrorMap(sim.front, [&](int) { ++progressCalls; });
        QVERIFY(!map.Complete());
        QCOMPARE(map.failedPoint, 300);
        QCOMPARE(map.corrections.size(), 300);
        QCOMPARE(map.corrections[299], ErrorMapCorrection(299, sim.codeLength()));
        QCOMPARE(progressCalls, 300);
        QCOMPARE(sim.Sent().last(), QByteArray("R:0002:00001A58")); // no read after it
        QCOMPARE(sim.front.lines.size(), 2);
        QVERIFY(sim.front.LogLines().join('\n').startsWith(
            "CRC invalid on read\nsCmd: R:0002:00001A58 RCV: 0xe6:"));
        // The log names the point.
        QCOMPARE(sim.front.lines[1],
                 QString("Error map incomplete: point 300 could not be read (300 of 512 points "
                         "read)."));
        QVERIFY(!LastError.isEmpty()); // the failure stays for the save to see
        QVERIFY(sim.front.alerts.isEmpty());
    }

    void aNewReadForgetsTheLastFailure() {
        ErrorMapSim sim;
        sim.failReadAtPoint(10);
        QCOMPARE(ReadErrorMap(sim.front).failedPoint, 10);
        sim.encoder([](SimulatedEncoder& e) { e.ClearRegisterFaults(); });
        sim.Forget();
        const ErrorMapReadout map = ReadErrorMap(sim.front);
        QVERIFY(map.Complete());
        QCOMPARE(map.corrections.size(), 512);
        QVERIFY(LastError.isEmpty());
        QVERIFY(sim.front.lines.isEmpty());
    }

    void theFileHasAHeaderAndALinePerPoint() {
        ErrorMapSim sim;
        const QByteArray text = ErrorMapFileText(ErrorMapChartPoints(ReadErrorMap(sim.front)));
        QVERIFY(text.endsWith("\r\n"));
        QList<QByteArray> lines = text.split('\n');
        lines.removeLast();
        QCOMPARE(lines.size(), 514);
        for (const QByteArray& line : lines)
            QVERIFY2(line.endsWith('\r') && line.count('\r') == 1, line.constData());
        QCOMPARE(lines[0], QByteArray("Ulvax Error Map;Serial: UX217041;Part: RX712KAN17MDG000\r"));
        QCOMPARE(lines[1], QByteArray("Point;Value\r"));
        QCOMPARE(lines[2], "0;" + QByteArray::number(ErrorMapCorrection(0, 7)) + "\r");
        QCOMPARE(lines[513], "511;" + QByteArray::number(ErrorMapCorrection(511, 7)) + "\r");
    }

    // A serial or part number holding a separator, a quote or a line end is
    // still one field of the header, and the header one line.
    void deviceTextKeepsTheHeaderWhole() {
        const TEncoderSignature kept = EncoderSignature;
        EncoderSignature.SerialNumber = "UX;2\"17\r\n041";
        EncoderSignature.PartNumber = "RX712\nKAN";
        const QByteArray text = ErrorMapFileText({QPointF(0, 1)});
        EncoderSignature = kept;
        QCOMPARE(text, QByteArray("Ulvax Error Map;\"Serial: UX;2\"\"17  041\";Part: RX712 KAN\r\n"
                                  "Point;Value\r\n0;1\r\n"));
    }

    void fileValuesAreRoundedToWholeNumbers() {
        ErrorMapSim sim;
        const QByteArray text =
            ErrorMapFileText({QPointF(0.4, -1.6), QPointF(1, 2.5), QPointF(2, -0.4)});
        QCOMPARE(text.split('\n').mid(2), QList<QByteArray>({"0;-2\r", "1;3\r", "2;0\r", ""}));
        QCOMPARE(ErrorMapFileText({}).count('\n'), 2); // header and column names only
    }

    void chartPointsArePointAndCorrection() {
        ErrorMapReadout readout;
        QVERIFY(ErrorMapChartPoints(readout).isEmpty());
        readout.corrections = {5, -3, 0};
        readout.failedPoint = 3;
        QCOMPARE(ErrorMapChartPoints(readout),
                 QList<QPointF>({QPointF(0, 5), QPointF(1, -3), QPointF(2, 0)}));
    }
};

QTEST_GUILESS_MAIN(TestWorkflowErrorMap)
#include "test_workflow_error_map.moc"
