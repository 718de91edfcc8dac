#include "QtUserInteraction.h"
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

// Boxes often quote replies of the adapter or the encoder: their text is
// always shown as it stands, never as markup.
void showPlainBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    dialogParent());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
} // namespace

void QtUserInteraction::showMessage(const QString& text) {
    showPlainBox(QMessageBox::Information, text);
}

void QtUserInteraction::showError(const QString& text) {
    showPlainBox(QMessageBox::Critical, text);
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
