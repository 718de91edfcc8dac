#include "Orodja.h"

#include <algorithm>
#include <iterator>

namespace {

bool isControlOrBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

bool isAlphaNum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

QByteArray TrimText(const QByteArray& text) {
    qsizetype first = 0;
    qsizetype last = text.size() - 1;
    while (first <= last && isControlOrBlank(text[first]))
        ++first;
    while (last >= first && isControlOrBlank(text[last]))
        --last;
    return text.mid(first, last - first + 1);
}

QString TrimText(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size() - 1;
    while (first <= last && text[first].unicode() <= 32)
        ++first;
    while (last >= first && text[last].unicode() <= 32)
        --last;
    return text.mid(first, last - first + 1);
}

QByteArray KeepPrintable(const QByteArray& text) {
    const QByteArray trimmed = TrimText(text);
    const auto printable = [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 32 && code <= 126;
    };
    if (std::all_of(trimmed.cbegin(), trimmed.cend(), printable))
        return trimmed; // the usual reply: nothing to copy
    QByteArray result;
    result.reserve(trimmed.size());
    std::copy_if(trimmed.cbegin(), trimmed.cend(), std::back_inserter(result), printable);
    return result;
}

QByteArray KeepAlphaNum(const QByteArray& text) {
    QByteArray result;
    for (char c : TrimText(text)) {
        if (isAlphaNum(c))
            result += c;
    }
    return result;
}

QByteArray IntToStrZero(qint32 value, int width) {
    QByteArray text = QByteArray::number(value);
    if (width >= 1 && width <= 4) {
        while (text.size() < width)
            text.prepend('0');
    }
    return text;
}

QString WithExtension(const QString& fileName, const QString& extension) {
    const qsizetype nameStart = fileName.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return (dot >= nameStart ? fileName.left(dot) : fileName) + extension;
}

QString SimulatedAdapterFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/q714-7r");
    return QStringLiteral("/tmp/q714-7r-%1").arg(CurrentUserId());
}

QString SafeFileNamePart(const QString& text) {
    QString result;
    for (const QChar c : text) {
        const bool separator =
            c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':');
        if (!separator && c.unicode() >= 32 && c.unicode() != 127 &&
            c.category() != QChar::Other_Control)
            result += c;
    }
    // A leading dot would hide the file, and "." or ".." would be a step in
    // the path.
    qsizetype start = 0;
    while (start < result.size() && (result[start] == QLatin1Char('.') || result[start].isSpace()))
        ++start;
    return result.mid(start);
}
