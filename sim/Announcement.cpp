#include "Announcement.h"

#include "Orodja.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace {

// The folder is private to the user: only they may announce or see adapters.
// A folder of that name made by somebody else, or a link, is not used.
bool makePrivateFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isSymLink() || (!info.exists() && !QDir().mkpath(folder)))
        return false;
    if (QFileInfo(folder).ownerId() == CurrentUserId())
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    return IsPrivateFolder(folder);
}

bool validLinkName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

} // namespace

Announcement::Announcement() = default;

Announcement::~Announcement() {
    Withdraw();
}

bool Announcement::Announce(const QString& devicePath, const QString& name) {
    Withdraw();
    const QString folder = SimulatedAdapterFolder();
    if (!validLinkName(name) || devicePath.isEmpty() || !makePrivateFolder(folder))
        return false;
    auto nameLock =
        std::make_unique<QLockFile>(folder + QStringLiteral("/.") + name + QStringLiteral(".lock"));
    // Only a dead owner makes a lock stale, however long a simulator runs.
    nameLock->setStaleLockTime(0);
    if (!nameLock->tryLock(0))
        return false; // a running simulator has the name
    const QString path = folder + QLatin1Char('/') + name;
    if (QFileInfo(path).isSymLink())
        QFile::remove(path); // left behind by a simulator that did not end cleanly
    if (!QFile::link(devicePath, path))
        return false; // a file of that name that is no announcement
    linkPath = path;
    lock = std::move(nameLock);
    return true;
}

void Announcement::Withdraw() {
    if (!linkPath.isEmpty() && QFileInfo(linkPath).isSymLink())
        QFile::remove(linkPath);
    linkPath.clear();
    lock.reset(); // unlocks and removes the lock file
}
