// The one place in platform that asks the operating system directly.
#include <QString>

#include <pwd.h>
#include <unistd.h>

QString SystemUserName() {
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::fromLocal8Bit(qgetenv("USER"));
}
