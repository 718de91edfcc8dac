#pragma once
// The diagnostics actions on the encoder; each logs its outcome.

#include <QString>

class FrontEnd;

// Clears the persistent status where the encoder has the register (nothing
// is sent otherwise).
void ClearPersistentStatus(FrontEnd& frontEnd);
// Sets the recorded decoding safety margin "PER" back to 32000.
void ResetDecodingSafetyMargin(FrontEnd& frontEnd);
// Logs and returns "Write status: [0xNN] <what it means>", or the read's
// failure.
QString ReadWriteAccessStatus(FrontEnd& frontEnd);
// Resets the adapter's register protocol; logs the confirmation, the
// adapter's other reply or the communication error.
void ResetRegisterProtocol(FrontEnd& frontEnd);
