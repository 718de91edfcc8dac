#pragma once
// A main window for tests: scripted user interaction, its own settings and
// runtime folders, the update check kept on loopback, and the timers stopped
// so the test drives them by hand.

#include "Q714_7R_Dravonel_SPI_Main.h"
#include "ScriptedUserInteraction.h"
#include "Serial_driver.h"
#include "SystemIdentity.h"
#include "UpdateCheckSandbox.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class WindowFixture {
public:
    // Pass KeepRuntimeFolder when a SimFixture made before the window has
    // already given the test a private runtime folder with its simulator.
    enum RuntimeFolder { PrivateRuntimeFolder, KeepRuntimeFolder };
    // Tests of the start-up itself leave it for the first paint to finish.
    enum StartUp { FinishedStartUp, StartUpAwaitingFirstPaint };

    explicit WindowFixture(const QString& userName = QStringLiteral("tester"),
                           RuntimeFolder folder = PrivateRuntimeFolder,
                           StartUp startUp = FinishedStartUp) {
        QStandardPaths::setTestModeEnabled(true);
        savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        if (folder == PrivateRuntimeFolder)
            qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        OverrideUserName(userName);
        form = std::make_unique<TMainForm>(&interaction);
        if (startUp == FinishedStartUp) {
            form->FinishStartUp();
            form->initTimer->stop();
            form->tmrStartupTimer->stop();
        }
    }

    ~WindowFixture() {
        form.reset();
        ResetSerialDriverState();
        OverrideUserName(QString());
        OverrideOwnVersionText(QString());
        OverrideComputerName(QString());
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    TMainForm& Form() { return *form; }
    UpdateCheckSandbox& UpdateSandbox() { return updateSandbox; }
    ScriptedUserInteraction interaction;

private:
    // In place before the window and its start-up timer exist.
    UpdateCheckSandbox updateSandbox;
    QTemporaryDir runtime;
    QByteArray savedRuntime;
    std::unique_ptr<TMainForm> form;
};
