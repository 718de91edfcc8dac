#pragma once
// Every modal box, task dialog, save dialog and beep of the program goes
// through this interface, so that tests can answer them by script. The real
// dialogs are QtUserInteraction (QtUserInteraction.h, the widget part).

#include <QString>
#include <QStringList>

class QUrl;

struct SaveDialogRequest {
    QString title;
    QString proposedName;
    QString filter;        // e.g. "Image (*.png)"
    QString defaultSuffix; // e.g. "png"
    bool confirmOverwrite = true;
};

enum class TaskIcon { None, Information, Warning };

// A task dialog: window caption, main instruction, content text, main icon
// and one command button per caption, stacked in the given order.
struct TaskDialogRequest {
    QString title;
    QString mainText;
    QString content;
    QStringList buttons; // captions, in order
    TaskIcon icon = TaskIcon::None;
};

enum class BeepKind { Default, Question, Warning, Error };

class UserInteraction {
public:
    virtual ~UserInteraction() = default;
    // A modal message with an OK button.
    virtual void showMessage(const QString& text) = 0;
    // A modal error box with an OK button.
    virtual void showError(const QString& text) = 0;
    // A modal question with the given buttons; returns the index of the
    // button chosen, or -1 when the dialog was closed without a choice.
    virtual int askTask(const TaskDialogRequest& request) = 0;
    // The save-file dialog; returns the chosen path, empty when cancelled.
    virtual QString askSaveFileName(const SaveDialogRequest& request) = 0;
    virtual void beep(BeepKind kind) = 0;
    // Opens the link in the user's default web browser; false when the
    // desktop could not open it.
    virtual bool openLink(const QUrl& link) = 0;
};
