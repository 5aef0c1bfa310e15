#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "platform/user_dialogs.h"
#include "qt_gtest_printers.h"

namespace rqm5 {
namespace {

// What a modal dialog looked like when it came up.
struct SeenBox {
    bool found = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton*>::size_type buttonCount = 0;
    QMessageBox::StandardButtons buttons;
};

// Once the modal dialog is up, `answer` inspects and closes it. The dialog's own event loop runs
// the timer, so nothing waits for a fixed time; the fallback keeps a missing dialog from hanging.
void WhenModalOpens(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            WhenModalOpens(answer);
            return;
        }
        answer(modal);
    });
}

SeenBox CloseMessageBox(QWidget* modal, QMessageBox::StandardButton press) {
    SeenBox seen;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
        modal->close();
        return seen;
    }
    seen = {true,        box->text(),           box->windowTitle(),
            box->icon(), box->buttons().size(), box->standardButtons()};
    box->button(press)->click();
    return seen;
}

TEST(QtUserDialogsTest, MessageBoxHasTheTextTitleIconAndOneOkButton) {
    const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {
        {MessageIcon::None, QMessageBox::NoIcon},
        {MessageIcon::Warning, QMessageBox::Warning},
        {MessageIcon::Error, QMessageBox::Critical},
    };
    QtUserDialogs dialogs;
    for (const auto& [icon, qtIcon] : icons) {
        SeenBox seen;
        WhenModalOpens([&seen](QWidget* modal) { seen = CloseMessageBox(modal, QMessageBox::Ok); });
        dialogs.ShowMessage("Address out of range (C0000 - FFFFF).", "CHECK SUM", icon);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.text, "Address out of range (C0000 - FFFFF).");
        EXPECT_EQ(seen.title, "CHECK SUM");
        EXPECT_EQ(seen.icon, qtIcon);
        EXPECT_EQ(seen.buttonCount, 1);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    }
}

TEST(QtUserDialogsTest, CloseQuestionAnswersYesOrNo) {
    QtUserDialogs dialogs;
    for (QMessageBox::StandardButton press : {QMessageBox::Yes, QMessageBox::No}) {
        SeenBox seen;
        WhenModalOpens([&seen, press](QWidget* modal) { seen = CloseMessageBox(modal, press); });
        const bool answer = dialogs.ConfirmClose("Close?");
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.text, "Close?");
        EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(answer, press == QMessageBox::Yes);
    }
}

TEST(QtUserDialogsTest, CancelledFileDialogGivesAnEmptyName) {
    QtUserDialogs dialogs;
    bool sawFileDialog = false;
    WhenModalOpens([&sawFileDialog](QWidget* modal) {
        auto* fileDialog = qobject_cast<QFileDialog*>(modal);
        sawFileDialog =
            fileDialog != nullptr && fileDialog->fileMode() == QFileDialog::ExistingFile;
        modal->close();
    });
    EXPECT_TRUE(dialogs.AskOpenFileName("Mot Files (*.mot);;All Files (*)").isEmpty());
    EXPECT_TRUE(sawFileDialog);
}

}  // namespace
}  // namespace rqm5
