#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void CopyToClipboard(const QString& text) {
    // Without a GUI application there is no clipboard to write to.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}
