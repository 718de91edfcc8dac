// Links exactly the libraries a front-end without widgets uses (tools, the
// core part of platform, link, encoder, workflows) and nothing else, so that
// `ldd` of this program shows what those libraries bring along.
#include "AdapterWorkflows.h"
#include "Orodja.h"
#include "Q714_SPI_Dravonel.h"
#include "Reading.h"
#include "Serial_driver.h"
#include "SystemIdentity.h"

int main() {
    // Something of each library, so that none of them is left out.
    ResetSerialDriverState();
    ResetEncoderProtocolState();
    const bool supported = AdapterSupportsLomaAndBrix(109);
    return OwnVersionText().isNull() && TrimText(QByteArray(" ")).isEmpty() && supported &&
                   DetailedStatusBits().isEmpty()
               ? 1
               : 0;
}
