#include "RecordFiles.h"

#include "Orodja.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A station or serial as one folder or file name part: never empty, never
// hidden and never "." or "..", whatever a device or a user called it.
QString namePart(const QString& text) {
    const QString part = SafeFileNamePart(text).trimmed();
    return part.isEmpty() ? QStringLiteral("unknown") : part;
}

QString startText(const RunRecord& record) {
    return record.started.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

QString baseName(const RunRecord& record) {
    return namePart(record.encoderSerial) + QLatin1Char('_') + startText(record);
}

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// Copies `source` to `path` through a temporary file of the owner only, so
// that the copy is never readable by others, not even while it is made.
bool copyPrivately(const QString& source, const QString& path, QString& problem) {
    QFile in(source);
    QTemporaryFile out(QFileInfo(path).path() + QStringLiteral("/.attachment-XXXXXX"));
    if (!in.open(QIODevice::ReadOnly) || !out.open()) {
        problem = QStringLiteral("%1 cannot be copied to %2: %3")
                      .arg(source, path, in.isOpen() ? out.errorString() : in.errorString());
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            problem = QStringLiteral("%1 cannot be copied to %2").arg(source, path);
            return false;
        }
    }
    QFile::remove(path);
    if (!out.flush() || ::fsync(int(out.handle())) != 0 || !out.rename(path)) {
        problem =
            QStringLiteral("%1 cannot be copied to %2: %3").arg(source, path, out.errorString());
        return false;
    }
    out.setAutoRemove(false);
    return true;
}

} // namespace

QString DefaultRecordsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/q714/records");
}

QString RecordFileFolder(const QString& folder, const RunRecord& record) {
    return folder + QLatin1Char('/') + namePart(record.station) + QLatin1Char('/') +
           record.started.toUTC().toString(QStringLiteral("yyyy-MM-dd"));
}

QString RecordFilePath(const QString& folder, const RunRecord& record) {
    return RecordFileFolder(folder, record) + QLatin1Char('/') + baseName(record) +
           QStringLiteral(".json");
}

bool WriteRecordFile(const QString& folder, const RunRecord& record, QString& path,
                     QString& problem) {
    const QString target = RecordFileFolder(folder, record);
    if (!MakePrivateFolder(target, problem))
        return false;
    // Written whole under a temporary name, then linked to its own name:
    // link() never replaces a file, so runs on one serial in the same second
    // (even from several processes at once) each keep their own.
    QTemporaryFile file(target + QStringLiteral("/.record-XXXXXX"));
    const QByteArray bytes = QJsonDocument(RecordJson(record)).toJson(QJsonDocument::Indented);
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush() ||
        ::fsync(int(file.handle())) != 0) {
        problem = QStringLiteral("%1: %2").arg(target, file.errorString());
        return false;
    }
    for (int n = 1; n < 1000; ++n) {
        path = target + QLatin1Char('/') + baseName(record) +
               (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".json");
        if (::link(QFile::encodeName(file.fileName()).constData(),
                   QFile::encodeName(path).constData()) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    problem = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool AttachFile(const QString& folder, const RunRecord& record, const QString& name,
                const QString& source, Attachment& attachment, QString& problem) {
    const QString target = RecordFileFolder(folder, record);
    if (!MakePrivateFolder(target, problem))
        return false;
    const QString suffix = QFileInfo(source).suffix();
    attachment.name = name;
    attachment.file = baseName(record) + QLatin1Char('_') + namePart(name) +
                      (suffix.isEmpty() ? QString() : QLatin1Char('.') + namePart(suffix));
    const QString path = target + QLatin1Char('/') + attachment.file;
    if (!copyPrivately(source, path, problem))
        return false;
    attachment.sha256 = FileSha256(path);
    attachment.bytes = QFileInfo(path).size();
    if (attachment.sha256.isEmpty()) {
        problem = QStringLiteral("%1 cannot be read back").arg(path);
        return false;
    }
    return true;
}

QString FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

bool MakePrivateFolder(const QString& folder, QString& problem) {
    QStringList missing;
    for (QString path = QDir::cleanPath(QDir(folder).absolutePath()); !QFileInfo::exists(path);
         path = QFileInfo(path).path())
        missing.prepend(path);
    for (const QString& path : missing) {
        // Another process may make it at the same time: a folder is a folder.
        if (!QDir().mkdir(path, OwnerOnly | QFile::ExeOwner) && !QFileInfo(path).isDir()) {
            problem = QStringLiteral("the folder %1 cannot be made").arg(path);
            return false;
        }
    }
    if (QFileInfo(folder).isDir())
        return true;
    problem = QStringLiteral("%1 is not a folder").arg(folder);
    return false;
}

QStringList RecordFilesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.json")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

bool ReadRecordFile(const QString& path, RunRecord& record, QString& problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        problem = QStringLiteral("%1: not a record (%2)")
                      .arg(path, error.error == QJsonParseError::NoError
                                     ? QStringLiteral("not a JSON object")
                                     : error.errorString());
        return false;
    }
    if (RecordFromJson(document.object(), record, problem))
        return true;
    problem = QStringLiteral("%1: not a record (%2)").arg(path, problem);
    return false;
}
