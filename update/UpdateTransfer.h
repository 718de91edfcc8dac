#pragma once
// What the update check's network module offers the program: the TCP probe
// and the manifest download. The program loads the module when the check
// runs (UpdateNetwork.cpp) and finds it in UpdateTransferModuleFolder beside
// its own folder, in the build tree as where the package installs it.

#include "UpdateNetwork.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

constexpr const char* UpdateTransferModuleFolder = "lib/q714-7r-dravonel-spi";
constexpr const char* UpdateTransferModuleFile = "q714-update-transfer.so";
constexpr const char* UpdateTransferEntryName = "q714_update_transfer";
// Raised whenever UpdateTransfer or UpdateTransferContext change.
constexpr int UpdateTransferInterfaceVersion = 1;

// What the module takes from the program on each call.
struct UpdateTransferContext {
    UpdateTimeouts timeouts;
    bool (*terminating)(); // the program is closing: nothing waits any more
};

struct UpdateTransfer {
    int interfaceVersion;
    bool (*internetReachable)(const ProbeAddress& address, const UpdateTransferContext& context,
                              QString& error);
    // The response body, at most MaxManifestBytes.
    bool (*downloadManifest)(const QUrl& address, const QString& trustedCaFile,
                             const UpdateTransferContext& context, QByteArray& body,
                             QString& error);
};
