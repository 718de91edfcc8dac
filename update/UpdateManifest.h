#pragma once
// The maker's version file: one program per line, "program key;published
// version;download link", and what the check does with its fields.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>

// Longest field SplitQuoted keeps; longer fields are cut.
constexpr int MaxFieldLength = 255;
// Limits of a version file the check accepts; a real one lists a few programs.
constexpr qint64 MaxManifestBytes = 1024 * 1024;
constexpr int MaxManifestLines = 1000;

// The text split at `separator` outside double quotes. Quotes stay part of
// their field; every field is cut at MaxFieldLength characters; the last
// field is always added, also when empty. With a blank as separator, fields
// that are empty after trimming are left out (but the last one).
QStringList SplitQuoted(const QString& text, QChar separator);

// The running program's version: major, minor, release, build.
struct TOwnVersion {
    quint16 Major = 0;
    quint16 Minor = 0;
    quint16 Release = 0;
    quint16 Build = 0;
};

// "a.b.c.d" as four 16-bit numbers; 0.0.0.0 for any other text.
TOwnVersion ParseOwnVersion(const QString& text);

// A published version: major, minor, release and build.
using PublishedVersion = std::array<qint64, 4>;

// The four version parts as decimal integers, 0 for a part that is not a
// number. `parts` has exactly four entries.
PublishedVersion PublishedVersionNumbers(const QStringList& parts);

// Whether `published` is newer than `own`: at the first of major, minor,
// release and build that differ, the published number is larger.
bool IsNewerVersion(const PublishedVersion& published, const TOwnVersion& own);
bool IsSameVersion(const PublishedVersion& published, const TOwnVersion& own);

// The downloaded body as lines (CR LF, LF or CR end a line; a line end at
// the very end adds no empty line). False with the reason for a body that is
// too large, has too many lines or is not UTF-8 text.
bool ManifestLines(const QByteArray& body, QStringList& lines, QString& error);
QString ManifestTooLargeText();

// The download link as the address to open in the web browser: only an
// https link to a host, without blanks or control characters. Anything else
// gives an empty QUrl and the reason in `refusal`.
QUrl SafeDownloadLink(const QString& link, QString& refusal);

// Text from the network made fit for a status line: control characters
// become "?".
QString PrintableText(const QString& text);
