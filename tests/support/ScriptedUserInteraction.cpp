#include "ScriptedUserInteraction.h"

int ScriptedUserInteraction::askTask(const TaskDialogRequest& request) {
    taskRequests << request;
    return taskAnswers.isEmpty() ? -1 : taskAnswers.dequeue();
}

QString ScriptedUserInteraction::askSaveFileName(const SaveDialogRequest& request) {
    saveRequests << request;
    return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
}
