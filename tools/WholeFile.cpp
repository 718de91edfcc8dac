#include "WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A device or a pipe: written as it is, unbuffered, so that each write says
// whether it went through.
bool writeDirectly(const QString& path, const QByteArray& bytes, QString& problem) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size())
        return true;
    problem = file.errorString();
    return false;
}

bool replaceAtomically(const QString& path, const QByteArray& bytes, QString& problem) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    problem = file.errorString();
    return false;
}

} // namespace

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& problem) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir())
        return writeDirectly(path, bytes, problem);
    return replaceAtomically(path, bytes, problem);
}
