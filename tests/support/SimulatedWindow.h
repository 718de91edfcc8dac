#pragma once
// A main window that has found an in-process simulated adapter (English
// number format), ready for a test to power and connect the encoder.

#include "SimFixture.h"
#include "WindowFixture.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <functional>
#include <memory>

struct SimulatedWindow {
    explicit SimulatedWindow(const char* model = nullptr,
                             const std::function<void(SimulatedAdapter&)>& prepare = {},
                             const QString& user = QStringLiteral("tester"))
        : sim(model ? QString::fromLatin1(model) : QString()),
          window(std::make_unique<WindowFixture>(user, WindowFixture::KeepRuntimeFolder)),
          form(window->Form()) {
        if (prepare)
            prepare(sim.Adapter());
        sim.Announce(QStringLiteral("q714-sim-1"));
        form.FormatSettings = QLocale(QLocale::English, QLocale::UnitedStates);
        form.initTimerTimer();
    }

    void PowerAndConnect() {
        form.btnPowerONClick();
        form.btnConnectEncoderClick();
    }

    template <typename F> auto encoder(F&& f) { return sim.Adapter().WithEncoder(f); }

    QStringList MemoLines() const { return form.Memo1->toPlainText().split(QLatin1Char('\n')); }

    SimFixture sim;
    std::unique_ptr<WindowFixture> window;
    TMainForm& form;
    ScriptedUserInteraction& interaction() { return window->interaction; }
};
