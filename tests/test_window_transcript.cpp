// The window's whole behaviour in one transcript: a scripted session through
// every workflow against simulated encoders at rest, recording after each
// step the adapter traffic, the new log lines, the message boxes and every
// change of a named control (text, colour, state, chart points), compared with
// tests/golden/window_transcript.txt. Any change of what the window sends or
// shows fails here; a change that is meant is recorded by running the suite
// with Q714_WRITE_GOLDEN=1 and reviewing the file's diff.
#include "Q714_SPI_Dravonel.h"
#include "RestingEncoderWindow.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QChart>
#include <QtCharts/QXYSeries>

namespace {

QString colourText(const QWidget* widget) {
    return widget->palette().color(QPalette::Window).name();
}

QString seriesState(const QXYSeries* series) {
    const QList<QPointF> points = series->points();
    QString state = QStringLiteral("%1 points").arg(points.size());
    if (!points.isEmpty())
        state += QStringLiteral(" first (%1, %2) last (%3, %4)")
                     .arg(points.first().x())
                     .arg(points.first().y())
                     .arg(points.last().x())
                     .arg(points.last().y());
    return state;
}

// What one named control shows and how it can be used.
QString controlState(const QWidget* w) {
    QString state = w->isEnabled() ? QString() : QStringLiteral("[disabled] ");
    if (w->isHidden())
        state += QStringLiteral("[hidden] ");
    if (auto* label = qobject_cast<const QLabel*>(w))
        return state + label->text() + QStringLiteral(" {") + colourText(w) + QLatin1Char('}');
    if (auto* edit = qobject_cast<const QLineEdit*>(w))
        return state + edit->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return state + button->text() + (button->isChecked() ? QStringLiteral(" [x]") : QString());
    if (auto* bar = qobject_cast<const QProgressBar*>(w)) // a hidden bar shows nothing
        return w->isHidden() ? state
                             : state + QStringLiteral("%1/%2 %3")
                                           .arg(bar->value())
                                           .arg(bar->maximum())
                                           .arg(bar->text());
    if (auto* spin = qobject_cast<const QSpinBox*>(w))
        return state + QStringLiteral("%1 (%2..%3)")
                           .arg(spin->value())
                           .arg(spin->minimum())
                           .arg(spin->maximum());
    if (auto* combo = qobject_cast<const QComboBox*>(w))
        return state + combo->currentText();
    if (auto* memo = qobject_cast<const QPlainTextEdit*>(w))
        return state + memo->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    if (auto* tabs = qobject_cast<const QTabWidget*>(w)) {
        state += QStringLiteral("tab %1, shown:").arg(tabs->currentIndex());
        for (int i = 0; i < tabs->count(); ++i)
            state += tabs->isTabVisible(i) ? QStringLiteral(" %1").arg(i) : QString();
        return state;
    }
    if (qobject_cast<const QFrame*>(w) && w->autoFillBackground())
        return state + QLatin1Char('{') + colourText(w) + QLatin1Char('}') +
               QStringLiteral(" %1,%2 %3x%4")
                   .arg(w->x())
                   .arg(w->y())
                   .arg(w->width())
                   .arg(w->height());
    return state;
}

class Transcript {
public:
    Transcript(TMainForm& form, SimulatedAdapter& adapter, ScriptedUserInteraction& interaction,
               const QString& folder)
        : form(form), adapter(adapter), interaction(interaction), folder(folder) {
        snapshot = controls();
    }

    void Step(const QString& name) {
        text += QStringLiteral("== ") + name + QLatin1Char('\n');
        traffic();
        memo();
        boxes();
        changes();
    }

    // A file the session wrote; with `timeColumn` the first column of its
    // rows (milliseconds since the start) is not compared.
    void File(const QString& name, const QString& path, bool timeColumn = false) {
        QFile file(path);
        text += QStringLiteral("-- file ") + name + QLatin1Char('\n');
        if (!file.open(QIODevice::ReadOnly)) {
            text += QStringLiteral("(missing)\n");
            return;
        }
        for (QString line : QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"))) {
            const QString first = line.section(QLatin1Char(';'), 0, 0);
            bool number = false;
            first.toLongLong(&number);
            if (timeColumn && number)
                line = QStringLiteral("<ms>") + line.mid(first.size());
            text += masked(line) + QLatin1Char('\n');
        }
    }

    QString Text() const { return text; }

private:
    QString masked(QString line) const {
        line.replace(QDir::toNativeSeparators(folder), QStringLiteral("<folder>"));
        line.replace(folder, QStringLiteral("<folder>"));
        line.replace(QRegularExpression(QStringLiteral("_\\d{14}")), QStringLiteral("_<stamp>"));
        line.replace(QRegularExpression(QStringLiteral("Record duration: \\d+ sec\\.")),
                     QStringLiteral("Record duration: <n> sec."));
        return line;
    }

    // Consecutive repeats of a command are counted.
    void traffic() {
        const QList<QByteArray> sent = adapter.TakeReceivedCommands();
        QString line;
        for (qsizetype i = 0; i < sent.size();) {
            qsizetype run = 1;
            while (i + run < sent.size() && sent[i + run] == sent[i])
                ++run;
            line += QLatin1Char(' ') + QString::fromLatin1(sent[i]) +
                    (run > 1 ? QStringLiteral(" *%1").arg(run) : QString());
            i += run;
        }
        if (!line.isEmpty())
            text += QStringLiteral("TX:") + line + QLatin1Char('\n');
    }

    void memo() {
        const QString now = form.Memo1->toPlainText();
        if (now.startsWith(memoSeen)) {
            const QString added = now.mid(memoSeen.size());
            for (const QString& line : added.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                text += QStringLiteral("LOG: ") + masked(line) + QLatin1Char('\n');
        } else {
            text += QStringLiteral("LOG cleared\n");
            for (const QString& line : now.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                text += QStringLiteral("LOG: ") + masked(line) + QLatin1Char('\n');
        }
        memoSeen = now;
    }

    void boxes() {
        for (const QString& message : interaction.messages)
            text += QStringLiteral("BOX: ") + masked(message).replace(QLatin1Char('\n'), "\\n") +
                    QLatin1Char('\n');
        for (const QString& error : interaction.errors)
            text += QStringLiteral("ERROR BOX: ") + masked(error) + QLatin1Char('\n');
        interaction.messages.clear();
        interaction.errors.clear();
    }

    QMap<QString, QString> controls() const {
        QMap<QString, QString> states;
        for (const QWidget* w : form.findChildren<QWidget*>()) {
            if (w->objectName().isEmpty() || w == form.Memo1 ||
                w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            states.insert(
                w->objectName(),
                masked(controlState(w)).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        }
        for (const QXYSeries* series : form.findChildren<QXYSeries*>())
            states.insert(series->objectName(), seriesState(series));
        states.insert(QStringLiteral("(FormatSettings)"), form.FixedText(1234.5, 2) +
                                                              QLatin1Char(' ') +
                                                              form.GroupedText(1234.5, 1, 6));
        return states;
    }

    void changes() {
        const QMap<QString, QString> now = controls();
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (snapshot.value(it.key()) != it.value())
                text += it.key() + QStringLiteral(" = ") + it.value() + QLatin1Char('\n');
        }
        snapshot = now;
    }

    TMainForm& form;
    SimulatedAdapter& adapter;
    ScriptedUserInteraction& interaction;
    QString folder;
    QString text;
    QString memoSeen;
    QMap<QString, QString> snapshot;
};

} // namespace

class TestWindowTranscript : public QObject {
    Q_OBJECT

    QString
    session(const char* model,
            const std::function<void(RestingEncoderWindow&, Transcript&, const QString&)>& script) {
        ResetEncoderProtocolState();
        QTemporaryDir folder;
        RestingEncoderWindow w(model);
        w.form.DebugRecordFolder = folder.path();
        Transcript t(w.form, w.sim.Adapter(), w.interaction(), folder.path());
        t.Step(QStringLiteral("connected ") + QString::fromLatin1(model));
        script(w, t, folder.path());
        ResetEncoderProtocolState();
        return t.Text();
    }

    static void readings(RestingEncoderWindow& w, Transcript& t, const QString& name, int count) {
        for (int i = 0; i < count; ++i)
            w.form.btnReadEncoderClick();
        t.Step(name);
    }

    static void everyTab(RestingEncoderWindow& w, Transcript& t) {
        for (QWidget* tab : {w.form.tabSignalLevelTemperature, w.form.tabConfig, w.form.tabSelfCal,
                             w.form.tabDiagnostics, w.form.tabTest, w.form.tabDebug,
                             w.form.tabErrMap, w.form.tabInit}) {
            w.form.Page->setCurrentWidget(tab);
            t.Step(QStringLiteral("tab ") + tab->objectName());
            readings(w, t, QStringLiteral("read on ") + tab->objectName(), 2);
        }
    }

    static void readingVariants(RestingEncoderWindow& w, Transcript& t) {
        w.form.cbLogErrors->setChecked(true);
        w.encoder([](SimulatedEncoder& e) { e.SetWarningActive(true); });
        readings(w, t, QStringLiteral("warning, errors logged"), 1);
        w.encoder([](SimulatedEncoder& e) { e.SetErrorActive(true); });
        readings(w, t, QStringLiteral("error and warning"), 1);
        w.form.cbDetailedStatus->setChecked(true);
        readings(w, t, QStringLiteral("detailed status"), 1);
        w.form.cbPersistentStatus->setChecked(true);
        readings(w, t, QStringLiteral("persistent status"), 1);
        w.encoder([](SimulatedEncoder& e) {
            e.SetErrorActive(false);
            e.SetWarningActive(false);
        });
        w.form.cbPersistentStatus->setChecked(false);
        w.form.cbLogErrors->setChecked(false);
        readings(w, t, QStringLiteral("flags clear"), 1);
        w.form.Page->setCurrentWidget(w.form.tabSignalLevelTemperature);
        for (QRadioButton* mode :
             {w.form.rbDrawAirGap, w.form.rbDrawTemp, w.form.rbDrawNone, w.form.rbDrawPos}) {
            mode->setChecked(true);
            w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 5000); });
            readings(w, t, QStringLiteral("chart mode ") + mode->objectName(), 3);
        }
        w.form.Page->setCurrentWidget(w.form.tabInit);
        w.form.cbLogComms->click();
        readings(w, t, QStringLiteral("log comms"), 2);
        w.form.cbLogComms->click();
        t.Step(QStringLiteral("log comms off"));
    }

    static void adapterSettings(RestingEncoderWindow& w, Transcript& t) {
        w.form.cmbFreqSPI->setCurrentIndex(7);
        w.form.cmbFreqSPIChange();
        t.Step(QStringLiteral("SPI clock 8"));
        w.form.seNCS_SCK_delay->setValue(7);
        t.Step(QStringLiteral("NCS-SCK delay 7"));
        w.Script("D900", "ERROR\r");
        w.form.seNCS_SCK_delay->setValue(900);
        t.Step(QStringLiteral("NCS-SCK delay refused"));
        w.sim.Adapter().ClearOverrides();
        w.form.cbDravonelJQLOMA->setChecked(true);
        t.Step(QStringLiteral("LOMA ticked"));
        w.form.cbDravonelJQLOMA->setChecked(false);
        t.Step(QStringLiteral("LOMA unticked"));
        w.form.btnPowerOFFClick();
        t.Step(QStringLiteral("power off"));
        w.form.btnPowerONClick();
        t.Step(QStringLiteral("power on"));
        w.form.btnConnectEncoderClick();
        t.Step(QStringLiteral("connect again"));
    }

    static void configuration(RestingEncoderWindow& w, Transcript& t) {
        w.form.Page->setCurrentWidget(w.form.tabConfig);
        t.Step(QStringLiteral("configuration tab"));
        w.form.edPosOffset->setText(QStringLiteral("300"));
        w.form.btnWriteZeroClick();
        w.form.edFilterPosVal->setText(QStringLiteral("6"));
        w.form.btnWriteFilterClick();
        w.form.edMTerrArc->setText(QStringLiteral("40"));
        w.form.btnMTerrArcWriteClick();
        t.Step(QStringLiteral("writes"));
        w.form.edPosOffset->setText(QStringLiteral("12abc"));
        w.form.btnWriteZeroClick();
        w.form.edMTerrArc->setText(QStringLiteral("300"));
        w.form.btnMTerrArcWriteClick();
        t.Step(QStringLiteral("refused writes"));
        w.form.edMultiturnPreset->setText(QStringLiteral("70000"));
        w.form.btnApplyMTClick();
        t.Step(QStringLiteral("apply MT"));
        w.form.btnSaveFlashClick();
        t.Step(QStringLiteral("save"));
        w.form.btnUlvaxSetZeroClick();
        t.Step(QStringLiteral("set zero here"));
        readings(w, t, QStringLiteral("read after zero"), 1);
        w.form.btnFactoryResetClick();
        t.Step(QStringLiteral("factory reset"));
    }

    static void selfCalibrationRun(RestingEncoderWindow& w, Transcript& t, const QString& name) {
        w.form.btnSelfCalStartClick();
        w.form.tmrSelfCalWait->stop();
        t.Step(name + QStringLiteral(" started"));
        for (int tick = 0; tick < 200 && !w.form.btnSelfCalStart->isEnabled(); ++tick) {
            w.form.tmrSelfCalWaitTimer();
            w.form.tmrSelfCalWait->stop();
        }
        t.Step(name + QStringLiteral(" ended"));
    }

    static void selfCalibration(RestingEncoderWindow& w, Transcript& t) {
        w.encoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(0); });
        w.form.Page->setCurrentWidget(w.form.tabSelfCal);
        t.Step(QStringLiteral("self-calibration tab"));
        w.form.edSelfCalTimeout->setText(QStringLiteral("25"));
        selfCalibrationRun(w, t, QStringLiteral("self-calibration"));
        w.form.btnSelfCalReadStatusClick();
        t.Step(QStringLiteral("read status"));
        w.form.edSelfCalArc->setText(QStringLiteral("70000"));
        w.form.btnSelfCalStartClick();
        t.Step(QStringLiteral("arc refused"));
        // A run the encoder does not finish in time: it answers nothing
        // meanwhile, and the supply is switched off and on to end it.
        w.encoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(60000); });
        w.form.edSelfCalArc->setText(QString());
        w.form.edSelfCalTimeout->setText(QStringLiteral("1"));
        selfCalibrationRun(w, t, QStringLiteral("self-calibration without an answer"));
        w.form.btnPowerOFFClick();
        w.form.btnPowerONClick();
        w.encoder([](SimulatedEncoder& e) { e.SetSelfCalDurationMs(0); });
        t.Step(QStringLiteral("power cycled"));
    }

    static void diagnostics(RestingEncoderWindow& w, Transcript& t) {
        w.form.Page->setCurrentWidget(w.form.tabDiagnostics);
        readings(w, t, QStringLiteral("diagnostics counters"), 1);
        w.form.btnClearPersistentStatusClick();
        w.form.btnDecodingSafetyResetClick();
        w.form.btnReadWriteAccessRegisterClick();
        w.form.btnResetDravonelProtocolClick();
        t.Step(QStringLiteral("diagnostics actions"));
    }

    static void errorMap(RestingEncoderWindow& w, Transcript& t, const QString& folder) {
        w.form.Page->setCurrentWidget(w.form.tabErrMap);
        w.form.btnReadErrMapClick();
        t.Step(QStringLiteral("error map read"));
        w.interaction().saveAnswers.enqueue(folder + QStringLiteral("/map.txt"));
        w.form.btnErrorMapSaveFileClick();
        t.Step(QStringLiteral("error map saved"));
        t.File(QStringLiteral("map.csv"), folder + QStringLiteral("/map.csv"));
        w.encoder([](SimulatedEncoder& e) {
            e.ReadFaults().FailAt(e.Layout().errorMap + 2 * 300, RegisterFault::ReadCrc);
        });
        w.form.btnErrorMapSaveFileClick();
        t.Step(QStringLiteral("error map failing at 300"));
        w.encoder([](SimulatedEncoder& e) { e.ClearRegisterFaults(); });
    }

    static void recording(RestingEncoderWindow& w, Transcript& t) {
        w.form.Page->setCurrentWidget(w.form.tabTest);
        w.form.cbShranjujMeritveDebug->setChecked(true);
        t.Step(QStringLiteral("recording started"));
        const QString path = w.form.ShraniFajl ? w.form.ShraniFajl->fileName() : QString();
        readings(w, t, QStringLiteral("recorded readings"), 3);
        w.form.cbShranjujMeritveDebug->setChecked(false);
        t.Step(QStringLiteral("recording stopped"));
        t.File(QStringLiteral("recording"), path, true);
        w.form.Page->setCurrentWidget(w.form.tabDebug);
        readings(w, t, QStringLiteral("debug view"), 1);
    }

    static void noiseAndPowerCycling(RestingEncoderWindow& w, Transcript& t) {
        w.form.Page->setCurrentWidget(w.form.tabTest);
        w.form.btnPositionNoiseClick();
        t.Step(QStringLiteral("position noise"));
        w.form.seSteviloIzklopov->setValue(3);
        w.form.seIzklopDelayMax->setValue(10);
        w.form.seIzklopDelayMin->setValue(10);
        w.form.cbCiklirajStacionarno->setChecked(true);
        w.form.cbCiklirajIzklope->setChecked(true);
        w.form.timerOnOff->stop();
        t.Step(QStringLiteral("power cycling started"));
        for (int tick = 0; tick < 20 && w.form.cbCiklirajIzklope->isChecked(); ++tick) {
            if (tick == 2)
                w.encoder([](SimulatedEncoder& e) { e.SetPosition(0, 9000); });
            w.form.timerOnOffTimer();
            w.form.timerOnOff->stop();
        }
        t.Step(QStringLiteral("power cycling ended"));
    }

private slots:
    void theWindowBehavesAsRecorded() {
        QString text;
        text += session("t2-mt17", [](RestingEncoderWindow& w, Transcript& t, const QString& f) {
            everyTab(w, t);
            readingVariants(w, t);
            adapterSettings(w, t);
            configuration(w, t);
            selfCalibration(w, t);
            diagnostics(w, t);
            errorMap(w, t, f);
            recording(w, t);
            noiseAndPowerCycling(w, t);
        });
        for (const char* model : {"t6-mt17-w", "t7-mt18", "t1-st19", "t5-st21"}) {
            text += session(model, [](RestingEncoderWindow& w, Transcript& t, const QString& f) {
                everyTab(w, t);
                readingVariants(w, t);
                configuration(w, t);
                selfCalibration(w, t);
                diagnostics(w, t);
                errorMap(w, t, f);
                recording(w, t);
            });
        }
        text += session("t2-mt16-cr", [](RestingEncoderWindow& w, Transcript& t, const QString&) {
            readings(w, t, QStringLiteral("read after the CRC retry"), 1);
        });

        const QString golden = QStringLiteral(Q714_GOLDEN_DIR "/window_transcript.txt");
        if (qEnvironmentVariableIsSet("Q714_WRITE_GOLDEN")) {
            QFile out(golden);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(text.toUtf8());
            QSKIP("golden transcript written");
        }
        QFile in(golden);
        QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(golden));
        const QStringList expected = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
        const QStringList actual = text.split(QLatin1Char('\n'));
        QString step;
        for (qsizetype i = 0; i < qMax(expected.size(), actual.size()); ++i) {
            const QString want = expected.value(i);
            const QString got = actual.value(i);
            if (want.startsWith(QLatin1String("== ")))
                step = want;
            QVERIFY2(want == got, qPrintable(QStringLiteral("line %1 (%2):\n  expected: %3\n  "
                                                            "actual:   %4")
                                                 .arg(i + 1)
                                                 .arg(step, want, got)));
        }
    }
};

QTEST_MAIN(TestWindowTranscript)
#include "test_window_transcript.moc"
