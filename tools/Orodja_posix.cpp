// The one place in tools that asks the operating system directly.
#include "Orodja.h"

#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

uint CurrentUserId() {
    return static_cast<uint>(getuid());
}

bool IsPrivateFolder(const QString& path) {
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 0777) == 0700;
}

bool IsOwnCharacterDevice(const QString& path) {
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISCHR(info.st_mode) && info.st_uid == getuid();
}
