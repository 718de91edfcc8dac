#pragma once
// A simulated adapter served in-process on a real pseudo-terminal, for any
// test that talks to the adapter through the program's serial code. The
// fixture gives the test its own runtime folder (XDG_RUNTIME_DIR), so no
// simulator announced outside the test is seen.

#include "Announcement.h"
#include "PtySimulator.h"
#include "SimulatedAdapter.h"

#include <QTemporaryDir>

class SimFixture {
public:
    // modelName: an encoder of the catalogue; empty for the default model.
    explicit SimFixture(const QString& modelName = QString(), const AdapterSettings& settings = {});
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    SimulatedAdapter& Adapter() { return adapter; }
    PtySimulator& Server() { return server; }
    QString DevicePath() const { return server.DevicePath(); }
    QString RuntimeFolder() const { return runtimeDir.path(); }
    // True when the pseudo-terminal is open and served.
    bool Serving() const { return serving; }

    // Opens the global COMPortHandle on the terminal at 115200 8N1, no flow
    // control (closing any port open before).
    bool OpenChannel();
    void CloseChannel();

    // Announces this simulator under `name` in the fixture's runtime folder.
    bool Announce(const QString& name);

private:
    QTemporaryDir runtimeDir;
    QByteArray savedRuntimeDir;
    bool hadRuntimeDir;
    SimulatedAdapter adapter;
    PtySimulator server;
    Announcement announcement;
    bool serving = false;
};
