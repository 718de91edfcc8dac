#pragma once
// Where the update check keeps its preference and its address settings: the
// user's settings of the organisation "Norvane" (on Windows the registry key
// Software\Norvane of the current user, on Linux ~/.config/Norvane.conf).

#include <QSettings>
#include <memory>

std::unique_ptr<QSettings> OpenUpdateSettings();
