// The window's side of the start-up update check: the start-up timer, the
// status procedure and the "Enable update checking" button.
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "SoftwareUpdateCheck.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

void TMainForm::ConnectUpdateHandlers() {
    connect(tmrStartupTimer, &QTimer::timeout, this, &TMainForm::tmrStartupTimerTimer);
    connect(btnEnableUpdateCheck, &QPushButton::clicked, this,
            &TMainForm::btnEnableUpdateCheckClick);
}

// Fires once, 6 s after the window has started.
void TMainForm::tmrStartupTimerTimer() {
    tmrStartupTimer->stop();
    ProgramKey = UpdateProgramKey;
    UpdateStatus = [this](const QString& text) { ShowUpdateStatus(text); };
    UpdateCheckRun(Interaction());
}

// The check keeps the window busy, so each status is painted at once, also
// while continuous reading holds the memo's lines back.
void TMainForm::ShowUpdateStatus(const QString& text) {
    lblSoftwareUpdateStatus1->setText(text);
    lblSoftwareUpdateStatus1->repaint();
    MemoAddLine(text);
    FlushMemo();
    Memo1->viewport()->repaint();
}

// Only resets the preference: the next start asks again.
void TMainForm::btnEnableUpdateCheckClick() {
    ResetUpdatePreference(Interaction());
}
