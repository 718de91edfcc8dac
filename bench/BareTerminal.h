#pragma once
// The baseline of the channel benchmark: a plain write-then-read exchange on
// a terminal device, with no Qt in between.

#include <QByteArray>
#include <QString>

class BareTerminal {
public:
    ~BareTerminal();
    bool Open(const QString& devicePath);
    // Uses a terminal that is already open (and configured) elsewhere; the
    // descriptor is not closed here.
    void Attach(int descriptor);
    // Writes the command and reads until a CR arrives; false on error.
    bool Exchange(const QByteArray& command, QByteArray& reply);

private:
    int fd = -1;
    bool owned = false;
};

// CPU time used by this process so far, in seconds.
double ProcessCpuSeconds();
