#pragma once
// The real dialogs of Qt Widgets behind the UserInteraction interface.

#include "UserInteraction.h"

class QtUserInteraction : public UserInteraction {
public:
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    int askTask(const TaskDialogRequest& request) override;
    QString askSaveFileName(const SaveDialogRequest& request) override;
    void beep(BeepKind kind) override;
    bool openLink(const QUrl& link) override;
};
