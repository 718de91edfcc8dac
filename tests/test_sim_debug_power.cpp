// The simulated encoder's debug record and its behaviour over power cycles:
// which latch each firmware takes, a trace consistent with the decoder's
// choice and code words, the position kept across a power cycle, and the
// injected power-on jumps.
#include "DebugRecord.h"
#include "SimulatedAdapter.h"

#include <QTest>

namespace {

QByteArray ask(SimulatedAdapter& adapter, const QByteArray& command) {
    QByteArray reply = adapter.Reply(command);
    reply.chop(1); // CR
    return reply;
}

QByteArray hex(quint32 value, int width) {
    return QByteArray::number(value, 16).toUpper().rightJustified(width, '0');
}

QByteArray writeCommand(quint32 address, quint32 value) {
    return "W:0001:" + hex(address, 8) + ":" + hex(value, 8);
}

quint32 readValue(SimulatedAdapter& adapter, quint32 address, int size) {
    const QByteArray reply = ask(adapter, "R:" + hex(size, 4) + ":" + hex(address, 8));
    return reply.startsWith("0x9:") ? reply.mid(6).toUInt(nullptr, 16) : 0xDEADBEEF;
}

int latches(SimulatedAdapter& adapter) {
    return adapter.WithEncoder([](SimulatedEncoder& e) { return e.DebugLatches(); });
}

// Single-turn count of a frame of a multi-turn type 2 encoder.
quint32 frameSingleturn(SimulatedAdapter& adapter) {
    const QByteArray frame = ask(adapter, "?07:000");
    return static_cast<quint32>(frame.mid(4, 6).toUInt(nullptr, 16) >> (24 - 17));
}

int samplesPerBit(int codeLength) {
    return codeLength == 5 ? 10 : codeLength == 6 ? 8 : codeLength == 7 ? 7 : 6;
}

} // namespace

class TestSimDebugPower : public QObject {
    Q_OBJECT

private slots:
    void firmware4LatchesOnlyByItsCode() {
        SimulatedAdapter fw4("t6-mt19");
        fw4.SetSupplyOn(true);
        const int before = latches(fw4);
        QCOMPARE(ask(fw4, writeCommand(0xBD, 0x44)), QByteArray("0x9:"));
        QCOMPARE(latches(fw4), before + 1);
        QCOMPARE(ask(fw4, writeCommand(0xBD, 0x45)), QByteArray("0x56:"));
        QCOMPARE(latches(fw4), before + 1);
        QCOMPARE(ask(fw4, writeCommand(0x49, 0x44)), QByteArray("0x9:")); // unlock
    }

    void latchRegisterOnlyFromMinorVersion9() {
        for (const char* model : {"t1-mt20", "t1-st19"}) {
            SimulatedAdapter old(QString::fromLatin1(model));
            old.SetSupplyOn(true);
            QCOMPARE(ask(old, writeCommand(0x48, 1)), QByteArray("0x26:"));
            const int before = latches(old);
            QCOMPARE(ask(old, "?07:021").size(), 14);
            QCOMPARE(latches(old), before + 1);
        }
        SimulatedAdapter fw29("t2-mt17");
        fw29.SetSupplyOn(true);
        QCOMPARE(ask(fw29, writeCommand(0x48, 1)), QByteArray("0x9:"));
    }

    // At the decoder's sample points the trace shows the code word's bits:
    // a 1 as the high peak, a 0 as the low one; the next word follows it.
    void traceDecoderChoiceAndCodeWordsAgree() {
        for (int codeLength = 5; codeLength <= 9; ++codeLength) {
            const int step = samplesPerBit(codeLength);
            const quint16 mask = static_cast<quint16>((1u << codeLength) - 1);
            QSet<quint16> words;
            for (quint32 position = 0; position < (1u << 17); position += 977) {
                DebugRecordInputs in;
                in.singleturn = position;
                in.stBits = 17;
                in.codeLength = codeLength;
                const DebugRecord r = LatchDebugRecord(in);
                QVERIFY(r.decodSelect >= 1 && r.decodSelect <= step);
                for (int k = 0; k < codeLength; ++k) {
                    const qint16 sample = r.samples[k * step + r.decodSelect - 1];
                    const bool one = (r.codeA >> (codeLength - 1 - k)) & 1;
                    QVERIFY2(one ? sample > 400 : sample > 150 && sample < 350,
                             qPrintable(QStringLiteral("L %1 at %2: bit %3 sample %4")
                                            .arg(codeLength)
                                            .arg(position)
                                            .arg(k)
                                            .arg(sample)));
                }
                QCOMPARE(r.codeA & ~mask, 0);
                QCOMPARE(quint16(r.codeB >> 1), quint16(r.codeA & (mask >> 1)));
                for (qint16 sample : r.samples)
                    QVERIFY(qAbs(sample) < 1201);
                words.insert(r.codeA);
            }
            QVERIFY(words.size() > 8); // the word changes along the turn
        }
    }

    void firmware4LatchesByItselfWhenAnErrorBegins() {
        SimulatedAdapter fw4("t6-mt19");
        fw4.SetSupplyOn(true);
        fw4.WithEncoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(0, 1000);
            e.SetErrorActive(true);
        });
        ask(fw4, "?07:000");
        QCOMPARE(readValue(fw4, 0x20090, 4), 1000u);
        QVERIFY(readValue(fw4, 0x2008E, 2) & 0x10); // "Error System"
        fw4.WithEncoder([](SimulatedEncoder& e) { e.SetPosition(0, 2000); });
        ask(fw4, "?07:000");
        QCOMPARE(readValue(fw4, 0x20090, 4), 1000u); // still the record of the onset
    }

    void unpoweredEncoderIsSilentAndKeepsItsPosition() {
        SimulatedAdapter adapter("t2-mt17");
        adapter.SetSupplyOn(true);
        adapter.WithEncoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(3, 4321);
        });
        QCOMPARE(frameSingleturn(adapter), 4321u);
        QCOMPARE(ask(adapter, "f"), QByteArray("OFF"));
        QCOMPARE(ask(adapter, "?07:000"), QByteArray(14, '0'));
        QVERIFY(ask(adapter, "R:0002:0000004C").startsWith("ERROR"));
        QVERIFY(ask(adapter, "n").startsWith("ON"));
        QCOMPARE(frameSingleturn(adapter), 4321u);
        QCOMPARE(ask(adapter, "?07:000").left(4), QByteArray("0003"));
    }

    void everyNthPowerOnJumps() {
        SimulatedAdapter adapter("t2-mt17");
        adapter.SetSupplyOn(true);
        adapter.WithEncoder([](SimulatedEncoder& e) {
            e.SetSpeedRpm(0);
            e.SetNoiseCounts(0);
            e.SetPosition(0, 5000);
            e.SetPowerOnJump(2, 3641); // 10 degrees of 131072 counts
        });
        ask(adapter, "n"); // already on: no power-on
        for (quint32 expected : {5000u, 8641u, 8641u, 12282u}) {
            ask(adapter, "f");
            ask(adapter, "n");
            QCOMPARE(frameSingleturn(adapter), expected);
        }
        QCOMPARE(adapter.WithEncoder([](SimulatedEncoder& e) { return e.PowerOnJumps(); }), 2);
    }
};

QTEST_GUILESS_MAIN(TestSimDebugPower)
#include "test_sim_debug_power.moc"
