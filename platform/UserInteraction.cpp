#include "UserInteraction.h"
#include "TaskDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {
QWidget* dialogParent() {
    return QApplication::activeWindow();
}
} // namespace

void QtUserInteraction::showMessage(const QString& text) {
    QMessageBox::information(dialogParent(), QApplication::applicationDisplayName(), text);
}

void QtUserInteraction::showError(const QString& text) {
    QMessageBox::critical(dialogParent(), QApplication::applicationDisplayName(), text);
}

int QtUserInteraction::askTask(const TaskDialogRequest& request) {
    return ShowTaskDialog(dialogParent(), request);
}

QString QtUserInteraction::askSaveFileName(const SaveDialogRequest& request) {
    QFileDialog dialog(dialogParent(), request.title, request.proposedName, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void QtUserInteraction::beep(BeepKind) {
    QApplication::beep();
}

bool QtUserInteraction::openLink(const QUrl& link) {
    return QDesktopServices::openUrl(link);
}
