#include "SelfCalibration.h"

#include "Enkoderji_splosno.h"
#include "FrontEnd.h"
#include "Q714_SPI_Dravonel.h"
#include "Ulvax_konstante.h"

#include <cmath>

namespace {

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

SelfCalSignal lit(bool on, SelfCalSignal signal) {
    return on ? signal : SelfCalSignal::Off;
}

// The panels of a 1-byte status; true when the status is good.
bool oneByteStatus(quint32 s, SelfCalReport& status) {
    auto& p = status.panels;
    p[PanelTimeout] = lit(bitSet(s, 2), SelfCalSignal::Fault);
    p[PanelOutOfRange] = lit(bitSet(s, 3), SelfCalSignal::Fault);
    p[PanelParamOutOfRange] = lit(bitSet(s, 4), SelfCalSignal::Fault);
    p[PanelNoCorrection] = lit(bitSet(s, 5), SelfCalSignal::Notice);
    p[PanelUserErrMap] = lit(bitSet(s, 6), SelfCalSignal::Positive);
    return !bitSet(s, 2) && !bitSet(s, 3) && !bitSet(s, 4);
}

// The panels of a 4-byte status: bit 6 (failed) outranks bit 4 (successful);
// true when the status is good.
bool fourByteStatus(quint32 s, SelfCalReport& status) {
    auto& p = status.panels;
    p[PanelSuccessful] =
        bitSet(s, 6) ? SelfCalSignal::Fault : lit(bitSet(s, 4), SelfCalSignal::Positive);
    p[PanelNoCorrection] = lit(bitSet(s, 5), SelfCalSignal::Notice);
    p[PanelTimeout] = lit(bitSet(s, 8), SelfCalSignal::Fault);
    p[PanelEncoderError] = lit(bitSet(s, 9), SelfCalSignal::Fault);
    p[PanelNumericalErr] = lit(bitSet(s, 12), SelfCalSignal::Fault);
    p[PanelOutOfRange] = lit(bitSet(s, 13), SelfCalSignal::Fault);
    p[PanelRadialDisp] = lit(bitSet(s, 15), SelfCalSignal::Fault);
    p[PanelUserErrMap] = lit(bitSet(s, 20), SelfCalSignal::Positive);
    p[PanelWriteErr] = lit(bitSet(s, 21), SelfCalSignal::Fault);
    return !bitSet(s, 6);
}

bool hasExtraResults() {
    const QByteArray& part = EncoderSignature.PartNumber;
    return part.size() > ExtraResultCodeIndex &&
           QByteArray(ExtraResultCodes).contains(part[ExtraResultCodeIndex]);
}

// The three results of extended-air-gap encoders; a failed read is logged
// and leaves its value empty.
SelfCalExtraResults readExtraResults(FrontEnd& frontEnd) {
    const auto read = [&frontEnd](quint32 address, bool isSigned) -> std::optional<qint32> {
        quint16 word = 0;
        if (!Dravonel_ReadWord(address, word)) {
            frontEnd.Log(LastError);
            return std::nullopt;
        }
        return isSigned ? qint32(qint16(word)) : qint32(word);
    };
    SelfCalExtraResults extra;
    extra.avgH = read(REG_ADDR_DRAVONEL_CAL_AVG_H, true);
    extra.eccShift = read(REG_ADDR_DRAVONEL_CAL_ECC_SHIFT, false);
    extra.eccPhase = read(REG_ADDR_DRAVONEL_CAL_ECC_PHASE_EXTRA, false);
    return extra;
}

// Shown as 0 when it could not be read.
QString extraLine(const char* label, const std::optional<qint32>& value) {
    return NewLine + QLatin1String(label) + QString::number(value.value_or(0));
}

bool writeSetting(bool written, const QString& name, FrontEnd& frontEnd) {
    if (!written)
        frontEnd.Alert(
            QStringLiteral("The encoder refused the self-calibration %1: %2").arg(name, LastError));
    return written;
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

QString SelfCalOptionsProblem(const SelfCalOptions& options) {
    if (!options.timeoutS)
        return {};
    if (!Present_SELF_CAL_TIMEOUT)
        return QStringLiteral("this encoder has no self-calibration time-out to set");
    if (*options.timeoutS < SelfCalTimeoutMinS || *options.timeoutS > SelfCalTimeoutMaxS)
        return QStringLiteral("the self-calibration time-out must be from %1 to %2 s, not %3 s")
            .arg(SelfCalTimeoutMinS)
            .arg(SelfCalTimeoutMaxS)
            .arg(*options.timeoutS);
    return {};
}

int SelfCalProgressTicks(std::optional<quint8> timeoutS) {
    return timeoutS && *timeoutS > 0 ? static_cast<int>(std::lround(*timeoutS * TicksPerSecond))
                                     : TicksWithoutTimeout;
}

bool ApplySelfCalSettings(const SelfCalOptions& options, SelfCalSettings& inEffect,
                          FrontEnd& frontEnd) {
    if (const QString problem = SelfCalOptionsProblem(options); !problem.isEmpty()) {
        frontEnd.Alert(problem);
        return false;
    }
    if (options.arcDeg &&
        !writeSetting(Dravonel_WriteSelfCalArc(*options.arcDeg), QStringLiteral("arc"), frontEnd))
        return false;
    if (options.timeoutS && !writeSetting(Dravonel_WriteSelfCalTimeout(*options.timeoutS),
                                          QStringLiteral("time-out"), frontEnd))
        return false;
    inEffect = ReadSelfCalSettings(frontEnd);
    const bool arcHeld = !options.arcDeg || inEffect.arc == options.arcDeg;
    const bool timeoutHeld = !options.timeoutS || inEffect.timeout == options.timeoutS;
    if (!inEffect.arc || (inEffect.timeoutPresent && !inEffect.timeout)) {
        frontEnd.Alert(QStringLiteral("The self-calibration arc and time-out could not be read "
                                      "back: ") +
                       LastError);
        return false;
    }
    if (!arcHeld || !timeoutHeld) {
        frontEnd.Alert(QStringLiteral("The encoder does not hold the self-calibration %1 "
                                      "written")
                           .arg(arcHeld ? QStringLiteral("time-out") : QStringLiteral("arc")));
        return false;
    }
    return true;
}

bool StartSelfCalibration(const SelfCalOptions& options, SelfCalRun& run, FrontEnd& frontEnd) {
    if (const QString problem = SelfCalOptionsProblem(options); !problem.isEmpty()) {
        frontEnd.Alert(problem);
        return false;
    }
    if (!Dravonel_ReadSelfCalResults()) {
        frontEnd.Log(LastError);
        return false;
    }
    run.resultsAtStart = SelfCalResultsText.toLatin1();
    run.counterAtStart = static_cast<quint8>(SelfCalStatus & RunCounterBits);
    if (!Dravonel_StartSefCal(options.arcDeg.value_or(0), options.timeoutS.value_or(0)))
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
    status.status = ::SelfCalStatus;
    status.statusDigits = 8 * REG_SIZE_DRAVONEL_CAL_STATUS;
    status.results = QString(SelfCalResultsText).replace(QLatin1String("\r\n"), NewLine);
    status.finished = (status.status & RunCounterBits) != counterAtStart;
    const bool good = REG_SIZE_DRAVONEL_CAL_STATUS == 4 ? fourByteStatus(status.status, status)
                                                        : oneByteStatus(status.status, status);
    status.successful = status.finished && !EncoderPosition.ErrBit && good;
    status.panels[PanelSuccessful] = lit(status.successful, SelfCalSignal::Positive);
    if (hasExtraResults())
        status.extra = readExtraResults(frontEnd);
    status.panels[PanelFinished] = lit(status.finished, SelfCalSignal::Done);
    return status;
}

QString SelfCalReportText(const SelfCalReport& report) {
    QString text = QStringLiteral("Status: ") +
                   QString::fromLatin1(IntToBin(report.statusDigits, report.status)) + NewLine +
                   report.results;
    if (report.extra) {
        text += NewLine + QStringLiteral("----------------------");
        text += extraLine("Avg h = ", report.extra->avgH);
        text += extraLine("Ecc shift = ", report.extra->eccShift);
        text += extraLine("Ecc phase = ", report.extra->eccPhase);
    }
    return text;
}
