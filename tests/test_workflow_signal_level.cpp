// What the signal-level tab computes, without the window: the external
// thermistor's validity and its temperature by the beta model and by the
// polynomial, the air gap from the signal level, and the temperature and
// signal-level reads of a reading (when they are made, what they read, and
// that a failed read keeps the value before).
#include "EncoderProfile.h"
#include "Enkoderji_splosno.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "SignalLevel.h"
#include "SimCrc8.h"
#include "WorkflowSim.h"

#include <QTest>

namespace {

const QByteArray FrameCommand = "?07:000";
constexpr quint32 NoFlags = 3; // the error and warning bits are active low

QByteArray hex(quint32 value, int digits) {
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
}

// Every frame is answered with this status word (or thermistor reading, or
// turns) and position field.
void replyToFrames(WorkflowSim& sim, quint16 word, quint32 field) {
    const QByteArray data = hex(word, 4) + hex(field, 6);
    const quint8 crc = BitwiseCrc8(QByteArray::fromHex(data));
    sim.Script(FrameCommand, data + hex(crc, 2) + "00\r");
}

QByteArray registerRead(qint32 size, quint32 address) {
    return "R:" + hex(quint32(size), 4) + ":" + hex(address, 8);
}

ReadingOptions temperatureOnly() {
    ReadingOptions options;
    options.temperature = true;
    return options;
}

ReadingOptions signalLevelOnly() {
    ReadingOptions options;
    options.signalLevel = true;
    return options;
}

} // namespace

class TestWorkflowSignalLevel : public QObject {
    Q_OBJECT

private slots:
    // ---- The thermistor ----

    void thermistorReadingIsValidStrictlyInsideItsRange_data() {
        QTest::addColumn<int>("reading");
        QTest::addColumn<bool>("valid");
        QTest::newRow("no thermistor") << 0 << false;
        QTest::newRow("lowest") << 1 << true;
        QTest::newRow("25 degrees") << 1312 << true;
        QTest::newRow("highest") << 2046 << true;
        QTest::newRow("open") << 2047 << false;
        QTest::newRow("beyond") << 3000 << false;
        QTest::newRow("negative") << int(qint16(0x8123)) << false;
    }

    void thermistorReadingIsValidStrictlyInsideItsRange() {
        QFETCH(int, reading);
        QFETCH(bool, valid);
        QCOMPARE(ThermistorReadingValid(reading), valid);
    }

    void thermistorCelsiusByBothModels_data() {
        QTest::addColumn<int>("reading");
        QTest::addColumn<QString>("beta");
        QTest::addColumn<QString>("polynomial");
        QTest::newRow("25 degrees") << 1312 << "25.0"
                                    << "25.1";
        QTest::newRow("hot") << 500 << "76.6"
                             << "77.2";
        QTest::newRow("warm") << 1023 << "40.7"
                              << "41.2";
        QTest::newRow("below zero") << 1800 << "-7.3"
                                    << "-8.8";
    }

    void thermistorCelsiusByBothModels() {
        QFETCH(int, reading);
        QFETCH(QString, beta);
        QFETCH(QString, polynomial);
        QCOMPARE(QString::number(ThermistorCelsiusBeta(reading), 'f', 1), beta);
        QCOMPARE(QString::number(ThermistorCelsiusPolynomial(reading), 'f', 1), polynomial);
    }

    // ---- The air gap ----

    void airGapFromTheSignalLevel_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<double>("K");
        QTest::addColumn<double>("N");
        QTest::addColumn<QString>("micrometres");
        QTest::newRow("normal air gap") << 1234 << -83.56 << 865.0 << "270.22";
        QTest::newRow("extended air gap") << 500 << -361.7 << 2885.0 << "637.18";
        QTest::newRow("level 1: N alone") << 1 << -83.56 << 865.0 << "865.00";
        QTest::newRow("no signal") << 0 << -83.56 << 865.0 << "0.00";
        QTest::newRow("negative level") << -5 << -83.56 << 865.0 << "0.00";
    }

    void airGapFromTheSignalLevel() {
        QFETCH(int, level);
        QFETCH(double, K);
        QFETCH(double, N);
        QFETCH(QString, micrometres);
        QCOMPARE(QString::number(AirGapMicrometres(level, K, N), 'f', 2), micrometres);
    }

    // ---- The reads of a reading ----

    // Types 3 to 5 carry the thermistor's reading in the frame (type 3 its
    // 16-bit pattern, so a word from 0x8000 on is negative); type 2 carries
    // none. The sensor temperature is the register's.
    void temperaturesOfAReading_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("external");
        QTest::newRow("25 degrees") << QByteArray("t4-st20") << 1312 << 1312;
        QTest::newRow("hot") << QByteArray("t4-st20") << 500 << 500;
        QTest::newRow("no reading") << QByteArray("t4-st20") << 0 << 0;
        QTest::newRow("full scale") << QByteArray("t4-st20") << 2047 << 2047;
        QTest::newRow("beyond") << QByteArray("t3-st18") << 3000 << 3000;
        QTest::newRow("negative") << QByteArray("t3-st18") << 0x8123 << int(qint16(0x8123));
        QTest::newRow("no thermistor") << QByteArray("t2-mt17") << 0 << 0;
    }

    void temperaturesOfAReading() {
        QFETCH(QByteArray, model);
        QFETCH(int, word);
        QFETCH(int, external);
        WorkflowSim sim(model.constData());
        sim.Connect();
        replyToFrames(sim, quint16(word), NoFlags);
        const Reading reading = TakeReading(temperatureOnly(), sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY(reading.temperatureTaken);
        QVERIFY(!reading.signalLevelRead);
        QCOMPARE(sim.Sent(),
                 Commands({FrameCommand, registerRead(2, REG_ADDR_DRAVONEL_TEMPERATURE)}));
        QCOMPARE(EncoderStatus.TemperatureEXT, qint16(external));
        QCOMPARE(EncoderStatus.TemperatureSEN, qint16(31));
        QVERIFY(sim.front.lines.isEmpty());
    }

    void failedTemperatureReadKeepsTheSensorTemperature() {
        WorkflowSim sim("t4-st20");
        sim.Connect();
        TakeReading(temperatureOnly(), sim.front);
        QCOMPARE(EncoderStatus.TemperatureSEN, qint16(31));
        sim.encoder([](SimulatedEncoder& e) {
            e.SetAmbientTemperature(60);
            e.SetRegisterFault(REG_ADDR_DRAVONEL_TEMPERATURE, RegisterFault::AccessDenied);
        });
        const Reading reading = TakeReading(temperatureOnly(), sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY(reading.temperatureTaken); // made, and failed
        QCOMPARE(EncoderStatus.TemperatureSEN, qint16(31));
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines.first().startsWith(QLatin1String("Access denied")));
    }

    void signalLevelOfAReading() {
        WorkflowSim sim;
        sim.Connect();
        const QByteArray command =
            registerRead(REG_SIZE_DRAVONEL_SIGNAL_LEVEL, REG_ADDR_DRAVONEL_SIGNAL_LEVEL);
        sim.Script(command, "0x9:0x" + hex(1234, 8) + "\r");
        const Reading reading = TakeReading(signalLevelOnly(), sim.front);
        QVERIFY(reading.signalLevelRead);
        QVERIFY(!reading.temperatureTaken); // the level alone was asked for
        QCOMPARE(sim.Sent(), Commands({FrameCommand, command}));
        QCOMPARE(EncoderStatus.SignalLevel, 1234);
        QVERIFY(sim.front.lines.isEmpty());
    }

    void failedSignalLevelReadKeepsTheLevel() {
        WorkflowSim sim;
        sim.Connect();
        QVERIFY(TakeReading(signalLevelOnly(), sim.front).signalLevelRead);
        const qint32 level = EncoderStatus.SignalLevel;
        QVERIFY(level > 0);
        sim.encoder([](SimulatedEncoder& e) {
            e.SetRegisterFault(REG_ADDR_DRAVONEL_SIGNAL_LEVEL, RegisterFault::AccessDenied);
            e.SetSignalLevelBase(900);
        });
        const Reading reading = TakeReading(signalLevelOnly(), sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY(!reading.signalLevelRead);
        QCOMPARE(EncoderStatus.SignalLevel, level);
        QCOMPARE(sim.front.lines.size(), 1);
        QVERIFY(sim.front.lines.first().startsWith(QLatin1String("Access denied")));
    }

    void noSignalLevelReadWithoutItsRegister() {
        WorkflowSim sim;
        EncoderProfile profile = *FindEncoderProfile(QStringLiteral("t2-mt17"));
        profile.hasSignalLevel = false;
        sim.Adapter().SetEncoderProfile(profile);
        sim.Adapter().SetSupplyOn(true);
        sim.Connect();
        QVERIFY(!Present_SIGNAL_LEVEL);
        const Reading reading = TakeReading(signalLevelOnly(), sim.front);
        QVERIFY(reading.positionRead);
        QVERIFY(!reading.signalLevelRead);
        QCOMPARE(sim.Sent(), Commands({FrameCommand}));
        QVERIFY(sim.front.lines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWorkflowSignalLevel)
#include "test_workflow_signal_level.moc"
