#pragma once

#include <QString>

#include "image/message_icon.h"

namespace rqm5 {

// Every modal dialog the window shows goes through this interface, so that tests can record the
// dialogs instead of blocking on them.
class UserDialogs {
  public:
    virtual ~UserDialogs() = default;

    // A modal message box with one OK button; returns when the user has closed it.
    virtual void ShowMessage(const QString& text, const QString& title, MessageIcon icon) = 0;
    // A modal Yes/No question about closing the window; true for Yes.
    virtual bool ConfirmClose(const QString& text) = 0;
    // The modal file-open dialog for an existing file; `filter` is a Qt name filter list such as
    // "MOT & HEX (*.mot *.hex);;All Files (*)". Returns the chosen path, or an empty text when the
    // user cancelled.
    virtual QString AskOpenFileName(const QString& filter) = 0;
};

// The dialogs of the Qt toolkit, owned by the application's active window.
class QtUserDialogs final : public UserDialogs {
  public:
    void ShowMessage(const QString& text, const QString& title, MessageIcon icon) override;
    bool ConfirmClose(const QString& text) override;
    QString AskOpenFileName(const QString& filter) override;
};

}  // namespace rqm5
