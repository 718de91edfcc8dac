#include "UpdateSettings.h"

std::unique_ptr<QSettings> OpenUpdateSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Norvane"));
}
