// The numbers of the window's edits as the window reads them: typed numbers,
// the settings' edits (a blank means 0, a typo is refused), the multi-turn
// preset's low 16 bits, and the Self-Calibration tab's arc and time-out with
// their defaults, refusals and the time-out that becomes the longest.
#include "EditNumbers.h"
#include "RecordingFrontEnd.h"
#include "TypedNumber.h"

#include <QTest>
#include <climits>

class TestWindowEdits : public QObject {
    Q_OBJECT

private slots:
    void typedNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << " 42 " << int(TypedNumber::Number) << 42;
        QTest::newRow("signed") << "-2147483648" << int(TypedNumber::Number) << INT_MIN;
        QTest::newRow("empty") << "" << int(TypedNumber::Blank) << 0;
        QTest::newRow("blanks") << "   " << int(TypedNumber::Blank) << 0;
        QTest::newRow("letters") << "12a" << int(TypedNumber::NotANumber) << 0;
        QTest::newRow("decimal") << "1.5" << int(TypedNumber::NotANumber) << 0;
        QTest::newRow("too large") << "2147483648" << int(TypedNumber::OutOfRange) << 0;
        QTest::newRow("huge") << "99999999999999999999999" << int(TypedNumber::OutOfRange) << 0;
    }

    void typedNumbers() {
        QFETCH(QString, text);
        const TypedNumber number = ParseTypedNumber(text);
        QTEST(int(number.kind), "kind");
        QTEST(number.ValueOr(0), "value");
    }

    void typedSettingValues_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("value");
        QTest::newRow("blank means 0") << "" << 0u;
        QTest::newRow("blanks mean 0") << "  " << 0u;
        QTest::newRow("plain") << "300" << 300u;
        QTest::newRow("largest") << "2147483647" << 2147483647u;
    }

    void typedSettingValues() {
        QFETCH(QString, text);
        RecordingFrontEnd front;
        for (EncoderSetting setting :
             {EncoderSetting::PositionOffset, EncoderSetting::PositionFilter,
              EncoderSetting::MultiturnErrorArc})
            QTEST(SettingValueOf(setting, text, front).value_or(0xDEAD), "value");
        QVERIFY(front.alerts.isEmpty());
    }

    // A typo must not reach the encoder as 0 (a moved zero): text that is not
    // a whole number is refused like a negative or too large one.
    void badSettingNumbersAreRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << "-5";
        QTest::newRow("beyond 31 bits") << "2147483648";
        QTest::newRow("beyond 32 bits") << "4294967296";
        QTest::newRow("letters") << "abc";
        QTest::newRow("decimal") << "3.5";
        QTest::newRow("hexadecimal") << "0x10";
        QTest::newRow("exponent") << "1e3";
        QTest::newRow("trailing letters") << "12abc";
    }

    void badSettingNumbersAreRefused() {
        QFETCH(QString, text);
        RecordingFrontEnd front;
        for (EncoderSetting setting :
             {EncoderSetting::PositionOffset, EncoderSetting::PositionFilter,
              EncoderSetting::MultiturnErrorArc})
            QVERIFY(!SettingValueOf(setting, text, front));
        const QString accepted = "\": enter a whole number from 0 to 2147483647.";
        QCOMPARE(front.alerts, QStringList({"Invalid position offset \"" + text + accepted,
                                            "Invalid position filter \"" + text + accepted,
                                            "Invalid multiturn error arc \"" + text + accepted}));
        QVERIFY(front.lines.isEmpty());
    }

    void aPresetThatIsNoWholeNumberIsRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << "abc";
        QTest::newRow("decimal") << "3.5";
        QTest::newRow("beyond 32 bits") << "99999999999";
    }

    void aPresetThatIsNoWholeNumberIsRefused() {
        QFETCH(QString, text);
        RecordingFrontEnd front;
        QVERIFY(!MultiturnPresetOf(text, front));
        QCOMPARE(front.alerts,
                 QStringList{"Invalid multiturn preset \"" + text + "\": enter a whole number."});
    }

    void multiturnPresetIsTheLow16Bits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("preset");
        QTest::newRow("70000") << "70000" << 4464;
        QTest::newRow("-1") << "-1" << 65535;
        QTest::newRow("blank") << "" << 0;
    }

    void multiturnPresetIsTheLow16Bits() {
        QFETCH(QString, text);
        RecordingFrontEnd front;
        const std::optional<quint16> preset = MultiturnPresetOf(text, front);
        QVERIFY(preset);
        QTEST(int(*preset), "preset");
        QVERIFY(front.alerts.isEmpty());
    }

    void planningAStart_data() {
        QTest::addColumn<bool>("arcEnabled");
        QTest::addColumn<QString>("arcText");
        QTest::addColumn<bool>("timeoutEnabled");
        QTest::addColumn<QString>("timeoutText");
        QTest::addColumn<int>("arc");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("25 s") << true << "90" << true << "25" << 90 << 25 << 60 << false;
        QTest::newRow("empty arc: 360") << true << "" << true << "10" << 360 << 10 << 24 << false;
        QTest::newRow("text arc: 360")
            << true << "half" << true << "10" << 360 << 10 << 24 << false;
        QTest::newRow("arc 0: the encoder's")
            << true << "0" << true << "10" << 0 << 10 << 24 << false;
        QTest::newRow("largest arc")
            << true << "65535" << true << "10" << 65535 << 10 << 24 << false;
        QTest::newRow("text time-out: 10")
            << true << "360" << true << "ten" << 360 << 10 << 24 << false;
        QTest::newRow("empty time-out: 10")
            << true << "360" << true << "" << 360 << 10 << 24 << false;
        QTest::newRow("40 s") << true << "360" << true << "40" << 360 << 40 << 96 << false;
        QTest::newRow("0 s becomes 40") << true << "360" << true << "0" << 360 << 40 << 96 << true;
        QTest::newRow("41 s becomes 40")
            << true << "360" << true << "41" << 360 << 40 << 96 << true;
        QTest::newRow("99 s becomes 40")
            << true << "360" << true << "99" << 360 << 40 << 96 << true;
        QTest::newRow("255 s becomes 40")
            << true << "360" << true << "255" << 360 << 40 << 96 << true;
        QTest::newRow("no time-out field")
            << true << "360" << false << "99" << 360 << 0 << 24 << false;
        QTest::newRow("no arc field") << false << "-1" << true << "25" << 0 << 25 << 60 << false;
    }

    void planningAStart() {
        QFETCH(bool, arcEnabled);
        QFETCH(QString, arcText);
        QFETCH(bool, timeoutEnabled);
        QFETCH(QString, timeoutText);
        RecordingFrontEnd front;
        const std::optional<SelfCalEdits> edits =
            SelfCalOptionsOf({arcEnabled, arcText}, {timeoutEnabled, timeoutText}, front);
        QVERIFY(edits);
        // 0 stands for the encoder's own value, as it goes out.
        QTEST(int(edits->options.arcDeg.value_or(0)), "arc");
        QTEST(int(edits->options.timeoutS.value_or(0)), "timeout");
        QTEST(SelfCalProgressTicks(edits->options.timeoutS), "ticks");
        QTEST(edits->timeoutShown.has_value(), "replaced");
        QVERIFY(front.alerts.isEmpty());
    }

    void numbersOutOfRangeAreRefused_data() {
        QTest::addColumn<QString>("arc");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("alert");
        QTest::newRow("arc above 65535")
            << "65536"
            << "10"
            << "Invalid partial arc \"65536\": enter a whole number from 0 to 65535.";
        QTest::newRow("negative arc")
            << "-1"
            << "10"
            << "Invalid partial arc \"-1\": enter a whole number from 0 to 65535.";
        QTest::newRow("arc beyond 32 bits")
            << "99999999999"
            << "10"
            << "Invalid partial arc \"99999999999\": enter a whole number from 0 to 65535.";
        QTest::newRow("time-out above 255")
            << "360"
            << "256"
            << "Invalid timeout \"256\": enter a whole number from 0 to 255.";
        QTest::newRow("negative time-out")
            << "360"
            << "-1"
            << "Invalid timeout \"-1\": enter a whole number from 0 to 255.";
    }

    void numbersOutOfRangeAreRefused() {
        QFETCH(QString, arc);
        QFETCH(QString, timeout);
        RecordingFrontEnd front;
        QVERIFY(!SelfCalOptionsOf({true, arc}, {true, timeout}, front));
        QCOMPARE(front.alerts.size(), 1);
        QTEST(front.alerts[0], "alert");
    }
};

QTEST_GUILESS_MAIN(TestWindowEdits)
#include "test_window_edits.moc"
