#pragma once
// Numbers a user types (the window's edits, the command line): signed 32-bit
// decimal integers. Whether a blank or text that is no number stands for a
// default is the caller's rule; a number beyond that range is told apart,
// never cut.

#include <QString>

struct TypedNumber {
    enum Kind { Number, Blank, NotANumber, OutOfRange };
    Kind kind = NotANumber;
    qint32 value = 0; // valid for Number

    // The value, or `fallback` for a blank field or text that is no number.
    qint32 ValueOr(qint32 fallback) const { return kind == Number ? value : fallback; }
    // A whole number, or a blank field (which stands for `fallback`).
    bool NumberOrBlank() const { return kind == Number || kind == Blank; }
};

// Reads an optionally signed decimal integer; blanks around it are ignored.
TypedNumber ParseTypedNumber(const QString& text);
