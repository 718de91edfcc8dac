#pragma once
// A q714-sim process for the benchmarks: the adapter runs outside the
// measured process, as a real one would. It announces itself in a private
// runtime folder that this object sets as XDG_RUNTIME_DIR.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess {
public:
    ~SimProcess();
    // Starts the simulator announced as `name`; returns its terminal's path,
    // empty when it did not start.
    QString Start(const QString& name, const QStringList& options = {});

private:
    QTemporaryDir runtime;
    QProcess process;
};
