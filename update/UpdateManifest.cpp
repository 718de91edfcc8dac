#include "UpdateManifest.h"

#include "Orodja.h"

#include <QStringDecoder>

QStringList SplitQuoted(const QString& text, QChar separator) {
    QStringList list;
    QString field;
    int length = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c != separator || quoted) {
            if (length < MaxFieldLength)
                field += c;
            ++length;
        } else {
            if (separator != QLatin1Char(' ') || !TrimText(field).isEmpty())
                list << field;
            field.clear();
            length = 0;
        }
    }
    list << field;
    return list;
}

TOwnVersion ParseOwnVersion(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return {};
    quint16 numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toUShort(&ok);
        if (!ok)
            return {};
    }
    return {numbers[0], numbers[1], numbers[2], numbers[3]};
}

PublishedVersion PublishedVersionNumbers(const QStringList& parts) {
    PublishedVersion numbers = {};
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const qint64 number = parts[i].toLongLong(&ok, 10);
        numbers[i] = ok ? number : 0;
    }
    return numbers;
}

namespace {
PublishedVersion asNumbers(const TOwnVersion& own) {
    return {own.Major, own.Minor, own.Release, own.Build};
}
} // namespace

bool IsNewerVersion(const PublishedVersion& published, const TOwnVersion& own) {
    return published > asNumbers(own); // lexicographic: the first part that differs decides
}

bool IsSameVersion(const PublishedVersion& published, const TOwnVersion& own) {
    return published == asNumbers(own);
}

QString ManifestTooLargeText() {
    return QStringLiteral("The version file is larger than %1 bytes.").arg(MaxManifestBytes);
}

bool ManifestLines(const QByteArray& body, QStringList& lines, QString& error) {
    lines.clear();
    if (body.size() > MaxManifestBytes) {
        error = ManifestTooLargeText();
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(body);
    if (utf8.hasError() || body.contains('\0')) {
        error = QStringLiteral("The version file is not a text file.");
        return false;
    }
    if (body.isEmpty())
        return true;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    lines = text.split(QLatin1Char('\n'));
    if (lines.size() > MaxManifestLines) {
        error = QStringLiteral("The version file has more than %1 lines.").arg(MaxManifestLines);
        lines.clear();
        return false;
    }
    return true;
}

QUrl SafeDownloadLink(const QString& link, QString& refusal) {
    const QString trimmed = link.trimmed();
    for (const QChar c : trimmed) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSpace()) {
            refusal = QStringLiteral("it contains blanks or control characters");
            return {};
        }
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https")) {
        refusal = QStringLiteral("it is not an https address");
        return {};
    }
    if (url.host().isEmpty()) {
        refusal = QStringLiteral("it names no host");
        return {};
    }
    return url;
}

QString PrintableText(const QString& text) {
    QString shown = text;
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    return shown;
}
