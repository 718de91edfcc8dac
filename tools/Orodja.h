#pragma once
// Shared helpers for texts that come from the adapter and for waiting while
// the window keeps working.

#include <QByteArray>
#include <QString>

// The text without its leading and trailing characters of codes 0 to 32;
// inner ones are kept.
QByteArray TrimText(const QByteArray& text);
QString TrimText(const QString& text);

// Trims, then keeps only the characters of codes 32 to 126, in order.
QByteArray KeepPrintable(const QByteArray& text);

// Trims, then keeps only 0-9, A-Z and a-z, in order.
QByteArray KeepAlphaNum(const QByteArray& text);

// Decimal text of value, left-padded with "0" to width; padding is applied
// only for widths 1 to 4 (15 with width 3 gives "015").
QByteArray IntToStrZero(qint32 value, int width);

// The file name with its extension (from the last full stop of the name on)
// replaced by `extension` (e.g. ".csv"), or `extension` appended when the
// name has none; full stops in folder names do not count.
QString WithExtension(const QString& fileName, const QString& extension);

// Waits the given milliseconds while processing window events. Events are
// processed at least once, even for 0 ms; returns early once the application
// is terminating.
void DelayProcessMessages(qint32 milliseconds);

// Set when the main window closes: long loops and waits end on it.
void SetApplicationTerminating(bool terminating);
bool ApplicationTerminating();

// Text from a device or a file made fit to be part of a file name: path
// separators, drive colons and control characters are dropped, and so are
// leading dots and spaces (no hidden file, no "." or ".." path step).
QString SafeFileNamePart(const QString& text);

// Folder in which running simulated adapters announce their terminals:
// $XDG_RUNTIME_DIR/q714-7r, or /tmp/q714-7r-<uid> without that variable.
QString SimulatedAdapterFolder();

// Numeric id of the user running the process.
uint CurrentUserId();

// True when `path` is a folder itself (not a link to one), owned by the
// user running the process and closed to everybody else (mode 0700).
bool IsPrivateFolder(const QString& path);
// True when `path`, links followed, is a character device (a terminal)
// owned by the user running the process.
bool IsOwnCharacterDevice(const QString& path);
