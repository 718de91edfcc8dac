#pragma once
// User interaction answered by script: records every message, beep and link
// to open, and answers dialogs from queues (cancel / no choice when a queue
// is empty). No link is ever handed to the desktop.

#include "UserInteraction.h"

#include <QQueue>
#include <QStringList>
#include <QUrl>

class ScriptedUserInteraction : public UserInteraction {
public:
    void showMessage(const QString& text) override { messages << text; }
    void showError(const QString& text) override { errors << text; }
    int askTask(const TaskDialogRequest& request) override;
    QString askSaveFileName(const SaveDialogRequest& request) override;
    void beep(BeepKind kind) override { beeps << kind; }
    bool openLink(const QUrl& link) override {
        openedLinks << link;
        return linksOpen;
    }

    QStringList messages;
    QStringList errors;
    QList<BeepKind> beeps;
    QList<TaskDialogRequest> taskRequests;
    QList<SaveDialogRequest> saveRequests;
    QQueue<int> taskAnswers;
    QQueue<QString> saveAnswers;
    QList<QUrl> openedLinks;
    bool linksOpen = true; // what openLink reports
};
