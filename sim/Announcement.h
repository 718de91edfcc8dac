#pragma once
// Announces a simulated adapter to the program: a symbolic link to the
// terminal's device in SimulatedAdapterFolder(). The link is removed when the
// object is destroyed.
//
// A lock file beside the link (".<name>.lock") is held for as long as the
// announcement stands. A simulator that was killed cannot remove its link,
// but its lock dies with it: a new simulator of the same name then takes the
// lock and replaces the link that leads to no live terminal.

#include <QString>
#include <memory>

class QLockFile;

class Announcement {
public:
    Announcement();
    ~Announcement();
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    // Creates SimulatedAdapterFolder()/name -> devicePath. False when the
    // name is held by a running simulator or cannot be used.
    bool Announce(const QString& devicePath, const QString& name);
    void Withdraw();
    QString LinkPath() const { return linkPath; }

private:
    QString linkPath;
    std::unique_ptr<QLockFile> lock;
};
