#include "Connect.h"

#include "AdapterCommands.h"
#include "AdapterWorkflows.h"
#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Ulvax_konstante.h"

namespace {

bool mayNeedNonInvertedCrc(quint8 type) {
    return type >= 2 && type <= 5;
}

QString trueFalse(bool flag) {
    return flag ? QStringLiteral("True") : QStringLiteral("False");
}

QString latin1(const QByteArray& text) {
    return QString::fromLatin1(text);
}

// Why the identification failed, in the front end's words where it words
// the problem itself.
QString identificationProblem(const FrontEnd& frontEnd) {
    if (!UnknownResolutionCode.isEmpty())
        return frontEnd.Words(UnknownResolution{UnknownResolutionCode});
    return LastError;
}

bool setUpAdapterAndIdentify(const ConnectOptions& options, ConnectResult& result,
                             FrontEnd& frontEnd, const ConnectHooks& hooks) {
    for (;;) {
        SendSetupCommand(result.nonInvertedCrc ? AdapterCommand::CrcNonInverted
                                               : AdapterCommand::CrcInverted,
                         frontEnd);
        SendSetupCommand(AdapterCommand::SpiSetup, frontEnd);
        SetNcsSckDelay(options.ncsSckDelayUs, frontEnd);
        if (Dravonel_ReadEncoderSignature())
            return true;
        if (result.retried || !mayNeedNonInvertedCrc(EncoderType))
            return false;
        frontEnd.Log(QStringLiteral("Error reading Encoder signature!\r\n") +
                     identificationProblem(frontEnd));
        frontEnd.Log(QStringLiteral("Trying again with non-inverted CRC..."));
        if (hooks.switchToNonInvertedCrc)
            hooks.switchToNonInvertedCrc();
        result.nonInvertedCrc = true;
        result.retried = true;
    }
}

void logIdentity(FrontEnd& frontEnd) {
    frontEnd.Log(QStringLiteral("Dravonel version: %1").arg(DravonelVersion));
    frontEnd.Log(QStringLiteral("Part number: ") + latin1(EncoderSignature.PartNumber));
    frontEnd.Log(QStringLiteral("Serial number: ") + latin1(EncoderSignature.SerialNumber));
    frontEnd.Log(QStringLiteral("FW version: ") + EncoderSignature.FWverStr);
}

void logPresentRegisters(FrontEnd& frontEnd) {
    frontEnd.Log(QStringLiteral("Registers present in the encoder:"));
    frontEnd.Log(QStringLiteral("  MT_ERR_TRESHOLD  \t") + trueFalse(Present_MT_ERR_TRESHOLD));
    frontEnd.Log(QStringLiteral("  PERSISTENT_STATUS\t") + trueFalse(Present_PERSISTENT_STATUS));
    frontEnd.Log(QStringLiteral("  SIGNAL_LEVEL     \t") + trueFalse(Present_SIGNAL_LEVEL));
    frontEnd.Log(QStringLiteral("  SELF_CAL_TIMEOUT \t") + trueFalse(Present_SELF_CAL_TIMEOUT));
    frontEnd.Log(QStringLiteral("  FIRMWARE_REVISION\t") + trueFalse(Present_FIRMWARE_REVISION) +
                 QStringLiteral(" [%1] [%2]")
                     .arg(REG_SIZE_DRAVONEL_FW_VERSION)
                     .arg(REG_SIZE_DRAVONEL_FW_SVN));
    frontEnd.Log(QStringLiteral("  U4_RUNTIME_LOG   \t") + trueFalse(Present_U4_RUNTIME_LOG));
}

void applyInstallationCoefficients(ConnectResult& result, FrontEnd& frontEnd) {
    TEncoderSignature& s = EncoderSignature;
    result.codeLength = CodeLengthOfRing(s.PartNumber);
    result.coefficients = InstallationCoefficientsFor(
        {result.codeLength, s.FWverMajor, s.FWverMinor, EncoderType, s.PartNumber});
    if (result.coefficients.extendedAirGap) {
        s.Asko = true;
        frontEnd.Log(QStringLiteral("Encoder with extended air gap"));
    }
    s.AirGapK = result.coefficients.K;
    s.AirGapN = result.coefficients.N;
}

} // namespace

ConnectResult ConnectEncoder(const ConnectOptions& options, FrontEnd& frontEnd,
                             const ConnectHooks& hooks) {
    ConnectResult result;
    const SupplyResult supply = ReadSupplyState();
    if (supply.LinkBroken()) {
        result.linkBroken = true;
        return result;
    }
    if (hooks.supplyState)
        hooks.supplyState(supply.state);
    result.nonInvertedCrc = options.nonInvertedCrc;
    result.identified = setUpAdapterAndIdentify(options, result, frontEnd, hooks);
    logIdentity(frontEnd);
    if (!result.identified) {
        result.problem = identificationProblem(frontEnd);
        frontEnd.Log(QStringLiteral("Error reading Encoder signature!\r\n") + result.problem);
        return result;
    }
    logPresentRegisters(frontEnd);
    result.countsPerTurn = STcounts;
    applyInstallationCoefficients(result, frontEnd);
    result.twoRings = IsTwoRingEncoder(EncoderType);
    if (hooks.identified)
        hooks.identified(result);
    SetSpiClock(options.spiClockSetting, frontEnd);
    return result;
}
