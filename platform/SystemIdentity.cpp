#include "SystemIdentity.h"

#include <QSysInfo>

QString SystemUserName(); // SystemIdentity_posix.cpp

namespace {
QString versionOverride;
QString userOverride;
QString computerOverride;
} // namespace

QString OwnVersionText() {
    if (!versionOverride.isNull())
        return versionOverride;
#ifdef Q714_OWN_VERSION
    return QStringLiteral(Q714_OWN_VERSION);
#else
    return QString();
#endif
}

QString ComputerName() {
    const QString name = computerOverride.isNull() ? QSysInfo::machineHostName() : computerOverride;
    return name.left(15);
}

QString UserName() {
    if (!userOverride.isNull())
        return userOverride;
    return SystemUserName().left(256);
}

void OverrideOwnVersionText(const QString& text) {
    versionOverride = text;
}
void OverrideUserName(const QString& name) {
    userOverride = name;
}
void OverrideComputerName(const QString& name) {
    computerOverride = name;
}
