#pragma once
// The clipboard of the desktop, for the window only.

#include <QString>

// Empties the clipboard and puts the text on it as plain text.
void CopyToClipboard(const QString& text);
