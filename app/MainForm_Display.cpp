// Display of readings: a single reading shows at once; a loop that reads back
// to back shows the latest values at the screen's pace instead of painting
// after every reading.
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Widgets.h"

#include <QCoreApplication>
#include <QLabel>
#include <QScopedValueRollback>

namespace {
constexpr QRgb ActivityToggle = 0x00FF00;
} // namespace

void TMainForm::LoopReadCycle() {
    {
        const QScopedValueRollback<bool> deferred(DisplayDeferred, true);
        btnReadEncoderClick();
    }
    if (!displayClock.isValid() || displayClock.elapsed() >= DisplayIntervalMs)
        ShowLatestReading();
}

void TMainForm::ShowLatestReading() {
    displayClock.start();
    for (auto it = pendingTexts.cbegin(); it != pendingTexts.cend(); ++it) {
        if (it.key()->text() != it.value())
            it.key()->setText(it.value());
    }
    pendingTexts.clear();
    for (auto it = pendingColours.cbegin(); it != pendingColours.cend(); ++it) {
        if (PanelColor(it.key()) != it.value())
            SetPanelColor(it.key(), it.value());
    }
    pendingColours.clear();
    ShowPositionPanel();
    FlushMemo();
    ShowSignalChart();
    ShowDebugView();
}

void TMainForm::SetDisplayText(QLabel* label, const QString& text) {
    if (DisplayDeferred) {
        pendingTexts.insert(label, text);
        return;
    }
    pendingTexts.remove(label);
    if (label->text() != text)
        label->setText(text);
}

void TMainForm::SetDisplayColour(QWidget* panel, QRgb colour) {
    if (DisplayDeferred) {
        pendingColours.insert(panel, colour);
        return;
    }
    pendingColours.remove(panel);
    if (PanelColor(panel) != colour)
        SetPanelColor(panel, colour);
}

// Each reading inverts the lamp's green. A single reading repaints it at
// once, so the lamp shows a reading that blocks in its exchange.
void TMainForm::ToggleActivityLamp() {
    const QRgb shown = pendingColours.value(pnlComm, PanelColor(pnlComm));
    SetDisplayColour(pnlComm, shown ^ ActivityToggle);
    if (!DisplayDeferred)
        pnlComm->repaint();
}
