// The power-cycling test: the encoder's supply switched off and on many times
// with random phase lengths, the position read after every on-phase and every
// jump that should not happen logged.
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
        Front().Wait(SettleBeforeStartMs);
        btnReadEncoderClick();
        BeginPowerCycling(PowerCycling, EncoderPosition_unit);
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
    timerOnOff->setInterval(
        PowerCyclePhaseMs(seIzklopDelayMin->value(), seIzklopDelayMax->value(), PowerCycleRandom));
    PowerCycleHooks hooks;
    hooks.takeReading = [this] { btnReadEncoderClick(); };
    hooks.position = [this] { return EncoderPosition_unit; };
    hooks.cyclesLeft = [this] { return qint64(seSteviloIzklopov->value()); };
    if (PowerCyclePhase(PowerCycling, cbCiklirajStacionarno->isChecked(), Format(), Front(), hooks)
            .switchedOn)
        seSteviloIzklopov->setValue(seSteviloIzklopov->value() - 1);
    QCoreApplication::processEvents();
    if (cbCiklirajIzklope->isChecked())
        timerOnOff->start();
}
