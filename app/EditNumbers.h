#pragma once
// The numbers of the window's edits as the window reads them: a blank edit
// or text that is no number stands for the edit's default where the window
// has one, a number outside what the edit accepts is refused with a message
// that names the edit, and nothing is sent then.

#include "Configuration.h"
#include "SelfCalibration.h"

#include <QString>
#include <optional>

class FrontEnd;

// "Invalid <name> "<text>": enter a whole number from 0 to 2147483647."
QString InvalidSettingText(const QString& name, const QString& text);
// A setting's edit: a blank edit means 0; text that is not a whole number,
// or a negative or too large one, is refused (a typo must not move the
// zero).
std::optional<quint32> SettingValueOf(EncoderSetting setting, const QString& text,
                                      FrontEnd& frontEnd);
// The multi-turn preset's edit: its low 16 bits (-1 presets 65535, a blank
// edit 0); text that is not a whole number is refused.
std::optional<quint16> MultiturnPresetOf(const QString& text, FrontEnd& frontEnd);

// An edit of the Self-Calibration tab as the user left it.
struct SelfCalEdit {
    bool enabled = true;
    QString text;
};

struct SelfCalEdits {
    SelfCalOptions options;
    // The time-out of 0 or above the longest became the longest: the edit
    // shows it.
    std::optional<quint8> timeoutShown;
};

// A start's arc (360 for text that is no number, 0 keeps the encoder's own)
// and time-out (10 for text that is no number; 0 and above 40 s become
// 40 s). A disabled edit keeps the encoder's own value. Nothing, after a
// message, when a number lies outside its register (0 to 65535, 0 to 255).
std::optional<SelfCalEdits> SelfCalOptionsOf(const SelfCalEdit& arc, const SelfCalEdit& timeout,
                                             FrontEnd& frontEnd);
