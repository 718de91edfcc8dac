#include "Diagnostics.h"

#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"

void ClearPersistentStatus(FrontEnd& frontEnd) {
    if (Present_PERSISTENT_STATUS && !Dravonel_ClearPersistentStatus())
        frontEnd.Log(LastError);
}

void ResetDecodingSafetyMargin(FrontEnd& frontEnd) {
    if (!Dravonel_ResetDecodingSafetyMargin())
        frontEnd.Log(LastError);
}

QString ReadWriteAccessStatus(FrontEnd& frontEnd) {
    const QString status = Dravonel_GetWriteAccesStatusRegister();
    frontEnd.Log(status);
    return status;
}

void ResetRegisterProtocol(FrontEnd& frontEnd) {
    Dravonel_ResetProtocol();
    frontEnd.Log(LastError);
}
