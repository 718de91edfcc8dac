// The power-cycling test: the encoder's supply switched off and on many times
// with random phase lengths, the position read after every on-phase and every
// jump that should not happen logged.
#include "AdapterCommands.h"
#include "Orodja.h"
#include "Q714_7R_Dravonel_SPI_Main.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

namespace {

constexpr int SettleBeforeStartMs = 200;
constexpr double StationaryLimit = 2;   // units a resting shaft may move
constexpr double TurningStepLimit = 70; // units a turning shaft may advance
constexpr int PositionDecimals = 4;
constexpr int PositionSignificantDigits = 15;

// "<prefix><old> -> <new>) [<cycles left>]"
void logJump(TMainForm& form, const char* prefix) {
    const auto units = [&form](double value) {
        return form.GroupedText(value, PositionDecimals, PositionSignificantDigits);
    };
    form.MemoAddLine(QString::fromUtf8(prefix) + units(form.EncPosDegOldMTtest) +
                     QStringLiteral(" -> ") + units(form.EncoderPosition_unit) +
                     QStringLiteral(") [") + form.seSteviloIzklopov->text() + QStringLiteral("]"));
}

void checkStationary(TMainForm& form) {
    const double previous = form.EncPosDegOldMTtest;
    const double now = form.EncoderPosition_unit;
    if (now < previous - StationaryLimit)
        logJump(form, "Position jump < 2°! (");
    if (now > previous + StationaryLimit)
        logJump(form, "Position jump > 2°! (");
}

// The first check of a run takes the direction of rotation from the start.
void checkTurning(TMainForm& form) {
    const double previous = form.EncPosDegOldMTtest;
    const double now = form.EncoderPosition_unit;
    if (form.CikliranjeSmerInit) {
        form.CikliranjeSmer = now > previous ? 1 : -1;
        form.CikliranjeSmerInit = false;
    }
    const double direction = form.CikliranjeSmer;
    if (previous * direction > now * direction)
        logJump(form, "Position jump reverse! (");
    if (now * direction > previous * direction + TurningStepLimit)
        logJump(form, "Position jump > 70°! (");
}

// A phase length drawn uniformly from [smaller, larger - 1] milliseconds.
int randomPhaseMs(TMainForm& form) {
    const int a = form.seIzklopDelayMin->value();
    const int b = form.seIzklopDelayMax->value();
    if (a == b)
        return a;
    return form.PowerCycleRandom.bounded(qMin(a, b), qMax(a, b));
}

} // namespace

void TMainForm::ConnectPowerCyclingHandlers() {
    // On `toggled`: the test's own stop unticks the box and runs the handler.
    connect(cbCiklirajIzklope, &QCheckBox::toggled, this, &TMainForm::cbCiklirajIzklopeClick);
    connect(timerOnOff, &QTimer::timeout, this, &TMainForm::timerOnOffTimer);
    connect(seIzklopDelayMin, &QSpinBox::valueChanged, this, &TMainForm::seIzklopDelayMinChange);
    connect(seIzklopDelayMax, &QSpinBox::valueChanged, this, &TMainForm::seIzklopDelayMinChange);
}

// The two bounds cannot be set past each other.
void TMainForm::seIzklopDelayMinChange() {
    timerOnOff->setInterval(seIzklopDelayMin->value());
    seIzklopDelayMin->setMaximum(seIzklopDelayMax->value());
    seIzklopDelayMax->setMinimum(seIzklopDelayMin->value());
}

void TMainForm::cbCiklirajIzklopeClick() {
    if (cbCiklirajIzklope->isChecked()) {
        PowerCycleRandom.seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
        CikliranjeSmerInit = true;
        Page->setCurrentWidget(tabTest);
        DelayProcessMessages(SettleBeforeStartMs);
        btnReadEncoderClick();
        EncPosDegOldMTtest = EncoderPosition_unit;
        ClearMemo();
        MemoAddLine(QStringLiteral("Cikliranje start ") + seSteviloIzklopov->text() +
                    QStringLiteral("x"));
    }
    // Start and stop alike leave the supply on. The state is read anew here:
    // a stop may have been handled while the start waited.
    btnPowerONClick();
    const bool running = cbCiklirajIzklope->isChecked();
    timerOnOff->setInterval(seIzklopDelayMin->value());
    if (running)
        timerOnOff->start();
    else
        timerOnOff->stop();
    EnableConstReading = !running;
}

// One phase step. The timer stays off while the step works; it is started
// again only while the test still runs, so a stop handled during the step's
// event processing always ends the test.
void TMainForm::timerOnOffTimer() {
    if (seSteviloIzklopov->value() == 0) {
        MemoAddLine(QStringLiteral("Cikliranje stop"));
        cbCiklirajIzklope->setChecked(false);
        timerOnOff->stop();
        EnableConstReading = true;
        return;
    }
    timerOnOff->stop();
    timerOnOff->setInterval(randomPhaseMs(*this));
    if (PowerOnStatus) {
        btnReadEncoderClick();
        if (cbCiklirajStacionarno->isChecked())
            checkStationary(*this);
        else
            checkTurning(*this);
        EncPosDegOldMTtest = EncoderPosition_unit;
        QByteArray reply; // not examined
        Exchange(AdapterCommand::PowerOff, reply);
        PowerOnStatus = false;
    } else {
        QByteArray reply; // not examined
        Exchange(AdapterCommand::PowerOn, reply);
        PowerOnStatus = true;
        seSteviloIzklopov->setValue(seSteviloIzklopov->value() - 1);
    }
    QCoreApplication::processEvents();
    if (cbCiklirajIzklope->isChecked())
        timerOnOff->start();
}
