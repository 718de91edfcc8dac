#include "SelfCalibration.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "TypedNumber.h"
#include "Ulvax_konstante.h"

#include <cmath>

namespace {

constexpr qint32 DefaultArc = 360;      // degrees, for text that is no number
constexpr qint32 DefaultTimeout = 10;   // seconds, for text that is no number
constexpr qint32 LongestTimeout = 40;   // seconds; also replaces 0
constexpr double TicksPerSecond = 2.4;  // 500 ms ticks, with a fifth to spare
constexpr int TicksWithoutTimeout = 24; // 12 s when the time-out cannot be set
constexpr quint32 LastOldEndTestRevision = 9356;
constexpr quint32 RunCounterBits = 3;

// Part numbers whose 12th character is one of these report three more results.
constexpr char ExtraResultCodes[] = "STUVWZ";
constexpr int ExtraResultCodeIndex = 11;

const QString NewLine = QStringLiteral("\n");

bool bitSet(quint32 status, int bit) {
    return (status >> bit) & 1u;
}

PanelColour lit(bool on, PanelColour colour) {
    return on ? colour : PanelColour::Gray;
}

// The number in the field, or `fallback` for text that is no number; false
// after a message when it lies outside 0 to `largest`.
bool numberInRange(const SelfCalField& field, const QString& name, qint32 fallback, qint32 largest,
                   qint32& value, FrontEnd& frontEnd) {
    const TypedNumber number = ParseTypedNumber(field.text);
    value = number.ValueOr(fallback);
    if (number.kind != TypedNumber::OutOfRange && value >= 0 && value <= largest)
        return true;
    frontEnd.Alert(QStringLiteral("Invalid %1 \"%2\": enter a whole number from 0 to %3.")
                       .arg(name, field.text)
                       .arg(largest));
    return false;
}

int progressTicks(qint32 timeout) {
    return timeout > 0 ? static_cast<int>(std::lround(timeout * TicksPerSecond))
                       : TicksWithoutTimeout;
}

// The panels of a 1-byte status; true when the status is good.
bool oneByteStatus(quint32 s, SelfCalReport& status) {
    auto& p = status.panels;
    p[PanelTimeout] = lit(bitSet(s, 2), PanelColour::Red);
    p[PanelOutOfRange] = lit(bitSet(s, 3), PanelColour::Red);
    p[PanelParamOutOfRange] = lit(bitSet(s, 4), PanelColour::Red);
    p[PanelNoCorrection] = lit(bitSet(s, 5), PanelColour::Orange);
    p[PanelUserErrMap] = lit(bitSet(s, 6), PanelColour::BrightGreen);
    return !bitSet(s, 2) && !bitSet(s, 3) && !bitSet(s, 4);
}

// The panels of a 4-byte status: bit 6 (failed) outranks bit 4 (successful);
// true when the status is good.
bool fourByteStatus(quint32 s, SelfCalReport& status) {
    auto& p = status.panels;
    p[PanelSuccessful] =
        bitSet(s, 6) ? PanelColour::Red : lit(bitSet(s, 4), PanelColour::BrightGreen);
    p[PanelNoCorrection] = lit(bitSet(s, 5), PanelColour::Orange);
    p[PanelTimeout] = lit(bitSet(s, 8), PanelColour::Red);
    p[PanelEncoderError] = lit(bitSet(s, 9), PanelColour::Red);
    p[PanelNumericalErr] = lit(bitSet(s, 12), PanelColour::Red);
    p[PanelOutOfRange] = lit(bitSet(s, 13), PanelColour::Red);
    p[PanelRadialDisp] = lit(bitSet(s, 15), PanelColour::Red);
    p[PanelUserErrMap] = lit(bitSet(s, 20), PanelColour::BrightGreen);
    p[PanelWriteErr] = lit(bitSet(s, 21), PanelColour::Red);
    return !bitSet(s, 6);
}

bool hasExtraResults() {
    const QByteArray& part = EncoderSignature.PartNumber;
    return part.size() > ExtraResultCodeIndex &&
           QByteArray(ExtraResultCodes).contains(part[ExtraResultCodeIndex]);
}

// The three results of extended-air-gap encoders; a failed read is logged
// and shown as 0.
QString extraResults(FrontEnd& frontEnd) {
    struct ExtraResult {
        quint32 address;
        const char* label;
        bool isSigned;
    };
    static constexpr ExtraResult results[] = {
        {REG_ADDR_DRAVONEL_CAL_AVG_H, "Avg h = ", true},
        {REG_ADDR_DRAVONEL_CAL_ECC_SHIFT, "Ecc shift = ", false},
        {REG_ADDR_DRAVONEL_CAL_ECC_PHASE_EXTRA, "Ecc phase = ", false},
    };
    QString text = NewLine + QStringLiteral("----------------------");
    for (const ExtraResult& result : results) {
        quint16 word = 0;
        if (!Dravonel_ReadWord(result.address, word))
            frontEnd.Log(LastError);
        const qint32 value = result.isSigned ? qint32(qint16(word)) : qint32(word);
        text += NewLine + QLatin1String(result.label) + QString::number(value);
    }
    return text;
}

} // namespace

SelfCalSettings ReadSelfCalSettings(FrontEnd& frontEnd) {
    SelfCalSettings settings;
    quint16 arc = 0;
    if (Dravonel_ReadSelfCalArc(arc))
        settings.arc = arc;
    else
        frontEnd.Log(LastError);
    settings.timeoutPresent = Present_SELF_CAL_TIMEOUT;
    if (!settings.timeoutPresent)
        return settings;
    quint8 timeout = 0;
    if (Dravonel_ReadSelfCalTimeout(timeout))
        settings.timeout = timeout;
    else
        frontEnd.Log(LastError);
    return settings;
}

std::optional<SelfCalPlan> PlanSelfCalibration(const SelfCalField& arc, const SelfCalField& timeout,
                                               FrontEnd& frontEnd) {
    SelfCalPlan plan;
    qint32 value = 0;
    if (arc.enabled) {
        if (!numberInRange(arc, QStringLiteral("partial arc"), DefaultArc, 0xFFFF, value, frontEnd))
            return std::nullopt;
        plan.arc = static_cast<quint16>(value);
    }
    if (!timeout.enabled)
        return plan;
    if (!numberInRange(timeout, QStringLiteral("timeout"), DefaultTimeout, 0xFF, value, frontEnd))
        return std::nullopt;
    if (value == 0 || value > LongestTimeout) {
        value = LongestTimeout;
        plan.timeoutReplaced = true;
    }
    plan.timeout = static_cast<quint8>(value);
    plan.ticks = progressTicks(value);
    return plan;
}

bool StartSelfCalibration(const SelfCalPlan& plan, SelfCalRun& run, FrontEnd& frontEnd) {
    if (!Dravonel_ReadSelfCalResults()) {
        frontEnd.Log(LastError);
        return false;
    }
    run.resultsAtStart = SelfCalResultsText.toLatin1();
    run.counterAtStart = static_cast<quint8>(SelfCalStatus & RunCounterBits);
    if (!Dravonel_StartSefCal(plan.arc, plan.timeout))
        frontEnd.Log(LastError);
    return true;
}

QString SelfCalStartStatusText() {
    return QStringLiteral("Status: ") + QString::fromLatin1(IntToBin(8, SelfCalStatus));
}

bool SelfCalibrationHasEnded(const SelfCalRun& run) {
    if (!Dravonel_ReadSelfCalResults())
        return false;
    return EncoderSignature.FWverSVN > LastOldEndTestRevision ||
           SelfCalResultsText.toLatin1() != run.resultsAtStart;
}

SelfCalReport ReadSelfCalibrationStatus(quint8 counterAtStart, FrontEnd& frontEnd) {
    SelfCalReport status;
    if (!Dravonel_ReadSelfCalResults()) {
        frontEnd.Log(LastError);
        return status;
    }
    status.read = true;
    const quint32 bits = ::SelfCalStatus;
    QString results = SelfCalResultsText;
    status.text = QStringLiteral("Status: ") +
                  QString::fromLatin1(IntToBin(8 * REG_SIZE_DRAVONEL_CAL_STATUS, bits)) + NewLine +
                  results.replace(QLatin1String("\r\n"), NewLine);
    status.finished = (bits & RunCounterBits) != counterAtStart;
    const bool good = REG_SIZE_DRAVONEL_CAL_STATUS == 4 ? fourByteStatus(bits, status)
                                                        : oneByteStatus(bits, status);
    status.successful = status.finished && !EncoderPosition.ErrBit && good;
    status.panels[PanelSuccessful] = lit(status.successful, PanelColour::BrightGreen);
    if (hasExtraResults())
        status.text += extraResults(frontEnd);
    status.panels[PanelFinished] = lit(status.finished, PanelColour::Green);
    return status;
}
