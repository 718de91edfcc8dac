#pragma once
// User interaction answered by script: records every message and beep, and
// answers dialogs from queues (cancel / no choice when a queue is empty).

#include "UserInteraction.h"

#include <QQueue>
#include <QStringList>

class ScriptedUserInteraction : public UserInteraction {
public:
    void showMessage(const QString& text) override { messages << text; }
    void showError(const QString& text) override { errors << text; }
    int askTask(const TaskDialogRequest& request) override;
    QString askSaveFileName(const SaveDialogRequest& request) override;
    void beep(BeepKind kind) override { beeps << kind; }

    QStringList messages;
    QStringList errors;
    QList<BeepKind> beeps;
    QList<TaskDialogRequest> taskRequests;
    QList<SaveDialogRequest> saveRequests;
    QQueue<int> taskAnswers;
    QQueue<QString> saveAnswers;
};
