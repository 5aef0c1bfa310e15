#include "platform/user_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

namespace rqm5 {
namespace {

// The dialogs are created while the window is the active one, so they centre on it and block it.
QWidget* DialogOwner() {
    return QApplication::activeWindow();
}

QString OwnerTitle(const QWidget* owner) {
    return owner != nullptr ? owner->windowTitle() : QApplication::applicationDisplayName();
}

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtUserDialogs::ShowMessage(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(ToQtIcon(icon), title, text, QMessageBox::Ok, DialogOwner());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtUserDialogs::ConfirmClose(const QString& text) {
    QWidget* owner = DialogOwner();
    QMessageBox box(QMessageBox::Question, OwnerTitle(owner), text,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    // An accidental Enter must not close the window in the middle of an exchange.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString QtUserDialogs::AskOpenFileName(const QString& filter) {
    return QFileDialog::getOpenFileName(DialogOwner(), QString(), QString(), filter);
}

}  // namespace rqm5
