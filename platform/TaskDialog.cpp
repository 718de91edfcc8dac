#include "TaskDialog.h"

#include <QApplication>
#include <QCommandLinkButton>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* iconLabel(TaskIcon icon, QWidget* parent) {
    const QStyle::StandardPixmap pixmap =
        icon == TaskIcon::Warning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
    const int size = parent->style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    auto* label = new QLabel(parent);
    label->setPixmap(parent->style()->standardIcon(pixmap).pixmap(size, size));
    label->setAlignment(Qt::AlignTop);
    return label;
}

QLabel* mainInstruction(const QString& text, QWidget* parent) {
    QLabel* label = plainLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    label->setFont(font);
    return label;
}

} // namespace

int ShowTaskDialog(QWidget* parent, const TaskDialogRequest& request) {
    QDialog dialog(parent);
    dialog.setWindowTitle(request.title);
    auto* texts = new QVBoxLayout;
    texts->addWidget(mainInstruction(request.mainText, &dialog));
    texts->addWidget(plainLabel(request.content, &dialog));
    int chosen = -1;
    for (int index = 0; index < request.buttons.size(); ++index) {
        auto* button = new QCommandLinkButton(request.buttons[index], &dialog);
        QObject::connect(button, &QCommandLinkButton::clicked, &dialog, [&dialog, &chosen, index] {
            chosen = index;
            dialog.accept();
        });
        texts->addWidget(button);
    }
    auto* columns = new QHBoxLayout(&dialog);
    if (request.icon != TaskIcon::None)
        columns->addWidget(iconLabel(request.icon, &dialog), 0, Qt::AlignTop);
    columns->addLayout(texts, 1);
    dialog.exec();
    return chosen;
}
