#pragma once
// The program's number format settings: the decimal and thousands
// separators of the user's locale, and a decimal separator that a workflow
// may fix for the rest of the run.

#include <QLocale>

struct NumberFormat {
    QLocale locale;
    QChar decimalSeparator; // null: the locale's

    // Fixed-point text: `decimals` decimals after rounding to `significant`
    // significant digits, no thousands separators.
    QString Fixed(double value, int decimals, int significant = 5) const;
    // The same with thousands grouped.
    QString Grouped(double value, int decimals, int significant) const;
};
