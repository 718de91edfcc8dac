#include "NumberFormat.h"

#include <cmath>

namespace {

double roundToSignificant(double value, int significant) {
    if (value == 0.0 || !std::isfinite(value))
        return value;
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    const double scale = std::pow(10.0, significant - magnitude);
    return std::round(value * scale) / scale;
}

// The number text with its decimal separator replaced by `separator` (when
// not null); the decimal separator is the last one in the text.
QString withDecimalSeparator(QString text, const QLocale& locale, QChar separator) {
    const qsizetype point = text.lastIndexOf(locale.decimalPoint());
    if (!separator.isNull() && point >= 0)
        text.replace(point, locale.decimalPoint().size(), separator);
    return text;
}

QString text(double value, int decimals, int significant, QLocale locale, bool grouped,
             QChar separator) {
    const QLocale::NumberOptions options = locale.numberOptions();
    locale.setNumberOptions(grouped ? options & ~QLocale::OmitGroupSeparator
                                    : options | QLocale::OmitGroupSeparator);
    return withDecimalSeparator(
        locale.toString(roundToSignificant(value, significant), 'f', decimals), locale, separator);
}

} // namespace

QString NumberFormat::Fixed(double value, int decimals, int significant) const {
    return text(value, decimals, significant, locale, false, decimalSeparator);
}

QString NumberFormat::Grouped(double value, int decimals, int significant) const {
    return text(value, decimals, significant, locale, true, decimalSeparator);
}
