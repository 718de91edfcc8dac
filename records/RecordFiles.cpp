#include "RecordFiles.h"

#include "Orodja.h"

#include <QCryptographicHash>
#include <QDir>
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

bool makeFolder(const QString& folder, QString& problem) {
    if (QDir().mkpath(folder))
        return true;
    problem = QStringLiteral("the folder %1 cannot be made").arg(folder);
    return false;
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
    if (!makeFolder(target, problem))
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
    if (!makeFolder(target, problem))
        return false;
    const QString suffix = QFileInfo(source).suffix();
    attachment.name = name;
    attachment.file = baseName(record) + QLatin1Char('_') + namePart(name) +
                      (suffix.isEmpty() ? QString() : QLatin1Char('.') + namePart(suffix));
    const QString path = target + QLatin1Char('/') + attachment.file;
    QFile::remove(path);
    if (!QFile::copy(source, path)) {
        problem = QStringLiteral("%1 cannot be copied to %2").arg(source, path);
        return false;
    }
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
