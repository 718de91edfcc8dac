#include "EditNumbers.h"

#include "FrontEnd.h"
#include "TypedNumber.h"

#include <limits>

namespace {

constexpr qint32 DefaultArc = 360;    // degrees, for text that is no number
constexpr qint32 DefaultTimeout = 10; // seconds, for text that is no number

// The edit's number, or `fallback` for text that is no number; nothing,
// after a message, when it lies outside 0 to `largest`.
std::optional<qint32> numberInRange(const QString& text, const QString& name, qint32 fallback,
                                    qint32 largest, FrontEnd& frontEnd) {
    const TypedNumber number = ParseTypedNumber(text);
    const qint32 value = number.ValueOr(fallback);
    if (number.kind != TypedNumber::OutOfRange && value >= 0 && value <= largest)
        return value;
    frontEnd.Alert(QStringLiteral("Invalid %1 \"%2\": enter a whole number from 0 to %3.")
                       .arg(name, text)
                       .arg(largest));
    return std::nullopt;
}

} // namespace

QString InvalidSettingText(const QString& name, const QString& text) {
    return QStringLiteral("Invalid %1 \"%2\": enter a whole number from 0 to %3.")
        .arg(name, text)
        .arg(std::numeric_limits<qint32>::max());
}

std::optional<quint32> SettingValueOf(EncoderSetting setting, const QString& text,
                                      FrontEnd& frontEnd) {
    const TypedNumber number = ParseTypedNumber(text);
    if (!number.NumberOrBlank() || number.ValueOr(0) < 0) {
        frontEnd.Alert(InvalidSettingText(SettingName(setting), text));
        return std::nullopt;
    }
    return static_cast<quint32>(number.ValueOr(0));
}

std::optional<quint16> MultiturnPresetOf(const QString& text, FrontEnd& frontEnd) {
    const TypedNumber number = ParseTypedNumber(text);
    if (!number.NumberOrBlank()) {
        frontEnd.Alert(
            QStringLiteral("Invalid multiturn preset \"%1\": enter a whole number.").arg(text));
        return std::nullopt;
    }
    return static_cast<quint16>(number.ValueOr(0));
}

std::optional<SelfCalEdits> SelfCalOptionsOf(const SelfCalEdit& arc, const SelfCalEdit& timeout,
                                             FrontEnd& frontEnd) {
    SelfCalEdits edits;
    if (arc.enabled) {
        const auto degrees =
            numberInRange(arc.text, QStringLiteral("partial arc"), DefaultArc, 0xFFFF, frontEnd);
        if (!degrees)
            return std::nullopt;
        if (*degrees > 0)
            edits.options.arcDeg = static_cast<quint16>(*degrees);
    }
    if (!timeout.enabled)
        return edits;
    auto seconds =
        numberInRange(timeout.text, QStringLiteral("timeout"), DefaultTimeout, 0xFF, frontEnd);
    if (!seconds)
        return std::nullopt;
    if (*seconds == 0 || *seconds > SelfCalTimeoutMaxS) {
        seconds = SelfCalTimeoutMaxS;
        edits.timeoutShown = static_cast<quint8>(*seconds);
    }
    edits.options.timeoutS = static_cast<quint8>(*seconds);
    return edits;
}
