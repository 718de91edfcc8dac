// The Diagnostics tab's actions on the encoder: clearing the persistent
// status, resetting the decoding safety margin "PER", reading the
// write-access status register and resetting the adapter's register
// protocol. The tab's counters are written by the read cycle.
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"

#include <QPushButton>

void TMainForm::ConnectDiagnosticsHandlers() {
    connect(btnClearPersistentStatus, &QPushButton::clicked, this,
            &TMainForm::btnClearPersistentStatusClick);
    connect(btnDecodingSafetyReset, &QPushButton::clicked, this,
            &TMainForm::btnDecodingSafetyResetClick);
    connect(btnReadWriteAccessRegister, &QPushButton::clicked, this,
            &TMainForm::btnReadWriteAccessRegisterClick);
    connect(btnResetDravonelProtocol, &QPushButton::clicked, this,
            &TMainForm::btnResetDravonelProtocolClick);
}

// An encoder without the persistent status register is sent nothing.
void TMainForm::btnClearPersistentStatusClick() {
    if (Present_PERSISTENT_STATUS && !Dravonel_ClearPersistentStatus())
        MemoAddLine(LastError);
}

void TMainForm::btnDecodingSafetyResetClick() {
    if (!Dravonel_ResetDecodingSafetyMargin())
        MemoAddLine(LastError);
}

void TMainForm::btnReadWriteAccessRegisterClick() {
    MemoAddLine(Dravonel_GetWriteAccesStatusRegister());
}

// The log gets one line either way: the confirmation, the adapter's other
// reply or the communication error.
void TMainForm::btnResetDravonelProtocolClick() {
    Dravonel_ResetProtocol();
    MemoAddLine(LastError);
}
