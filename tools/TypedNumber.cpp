#include "TypedNumber.h"

#include <QRegularExpression>
#include <limits>

TypedNumber ParseTypedNumber(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    const QString trimmed = text.trimmed();
    TypedNumber number;
    if (trimmed.isEmpty()) {
        number.kind = TypedNumber::Blank;
        return number;
    }
    if (!decimal.match(trimmed).hasMatch())
        return number;
    bool fits = false;
    const qlonglong value = trimmed.toLongLong(&fits);
    if (!fits || value < std::numeric_limits<qint32>::min() ||
        value > std::numeric_limits<qint32>::max()) {
        number.kind = TypedNumber::OutOfRange;
        return number;
    }
    number.kind = TypedNumber::Number;
    number.value = static_cast<qint32>(value);
    return number;
}
