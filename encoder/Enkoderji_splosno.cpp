#include "Enkoderji_splosno.h"

TEncoderSignature EncoderSignature;
TEncoderPosition EncoderPosition;

void ResetEncoderRecords() {
    EncoderSignature = TEncoderSignature();
    EncoderPosition = TEncoderPosition();
}
