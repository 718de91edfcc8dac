#pragma once
// Announces a simulated adapter to the program: a symbolic link to the
// terminal's device in SimulatedAdapterFolder(). The link is removed when the
// object is destroyed.

#include <QString>

class Announcement {
public:
    Announcement() = default;
    ~Announcement();
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    // Creates SimulatedAdapterFolder()/name -> devicePath.
    bool Announce(const QString& devicePath, const QString& name);
    void Withdraw();
    QString LinkPath() const { return linkPath; }

private:
    QString linkPath;
};
