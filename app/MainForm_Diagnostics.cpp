// The Diagnostics tab's actions on the encoder: clearing the persistent
// status, resetting the decoding safety margin "PER", reading the
// write-access status register and resetting the adapter's register
// protocol. The tab's counters are written by the read cycle.
#include "Diagnostics.h"
#include "Q714_7R_Dravonel_SPI_Main.h"

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

void TMainForm::btnClearPersistentStatusClick() {
    ClearPersistentStatus(Front());
}

void TMainForm::btnDecodingSafetyResetClick() {
    ResetDecodingSafetyMargin(Front());
}

void TMainForm::btnReadWriteAccessRegisterClick() {
    ReadWriteAccessStatus(Front());
}

void TMainForm::btnResetDravonelProtocolClick() {
    ResetRegisterProtocol(Front());
}
