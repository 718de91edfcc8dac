#pragma once
// Who and where the program runs: its own version, the computer and the user.

#include <QString>

// The program's own four-part version ("1.0.0.1"), or empty when the build
// carries none.
QString OwnVersionText();
// The computer's name, at most 15 characters.
QString ComputerName();
// The login name of the process's user, at most 256 characters.
QString UserName();

// Tests replace what the system reports; a null QString restores the system's.
void OverrideOwnVersionText(const QString& text);
void OverrideUserName(const QString& name);
void OverrideComputerName(const QString& name);
