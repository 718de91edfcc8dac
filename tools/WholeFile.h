#pragma once
// A file written whole and checked to its end, for every file the programs
// write in one go (settings, error maps, charts).

#include <QByteArray>
#include <QString>

// Writes `bytes` as the whole content of `path`. A regular file, or a new
// one, is replaced atomically (QSaveFile), so a failure leaves any old one as
// it was; what is not a regular file (a device such as /dev/full, a pipe such
// as /dev/stdout) cannot be replaced and is written directly. False with the
// reason in `problem` when any part of it was not written.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& problem);
