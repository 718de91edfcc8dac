#include "JsonLine.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// The escape of a byte that JSON does not allow in a string as it is; null
// when it may stand.
const char* escapeOf(unsigned char c) {
    static const char* const controls[32] = {
        "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
        "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
        "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
        "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
    if (c < 0x20)
        return controls[c];
    if (c == '"')
        return "\\\"";
    if (c == '\\')
        return "\\\\";
    return nullptr;
}

} // namespace

JsonLine::JsonLine() {
    bytes.reserve(512);
    bytes += '{';
}

void JsonLine::key(const char* name) {
    if (!first)
        bytes += ',';
    first = false;
    bytes += '"';
    bytes += name;
    bytes += "\":";
}

void JsonLine::string(QByteArrayView utf8) {
    bytes += '"';
    qsizetype plain = 0; // start of the bytes not yet copied
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (const char* escape = escapeOf(static_cast<unsigned char>(utf8[i]))) {
            bytes.append(utf8.data() + plain, size_t(i - plain));
            bytes += escape;
            plain = i + 1;
        }
    }
    bytes.append(utf8.data() + plain, size_t(utf8.size() - plain));
    bytes += '"';
}

// ASCII as it is; the upper half of Latin-1 as its two UTF-8 bytes.
void JsonLine::latin1String(QByteArrayView latin1) {
    const bool ascii = std::all_of(latin1.begin(), latin1.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        string(latin1);
    else
        string(QString::fromLatin1(latin1).toUtf8());
}

void JsonLine::integer(qint64 value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    bytes.append(digits, size_t(end - digits));
}

JsonLine& JsonLine::Field(const char* name, qint64 value) {
    key(name);
    integer(value);
    return *this;
}

JsonLine& JsonLine::Field(const char* name, double value) {
    key(name);
    constexpr double exactIntegers = 9007199254740992.0; // 2^53
    if (!std::isfinite(value))
        bytes += "null";
    else if (value == std::trunc(value) && std::fabs(value) < exactIntegers)
        integer(qint64(value)); // as QJsonValue keeps integral numbers
    else
        bytes += QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
    return *this;
}

JsonLine& JsonLine::Field(const char* name, bool value) {
    key(name);
    bytes += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Field(const char* name, const QString& value) {
    key(name);
    string(value.toUtf8());
    return *this;
}

JsonLine& JsonLine::Latin1Field(const char* name, QByteArrayView value) {
    key(name);
    latin1String(value);
    return *this;
}

JsonLine& JsonLine::Field(const char* name, const QStringList& values) {
    key(name);
    bytes += '[';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            bytes += ',';
        string(values[i].toUtf8());
    }
    bytes += ']';
    return *this;
}

JsonLine& JsonLine::BeginObject(const char* name) {
    key(name);
    bytes += '{';
    first = true;
    return *this;
}

JsonLine& JsonLine::EndObject() {
    bytes += '}';
    first = false;
    return *this;
}

QByteArray JsonLine::Take() {
    bytes += '}';
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}
