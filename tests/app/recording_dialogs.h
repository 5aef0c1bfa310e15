#pragma once

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "platform/user_dialogs.h"

namespace rqm5::testing {

struct RecordedMessage {
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    // The pointer the user sees while the box is open: an application override cursor if one is
    // set, otherwise the window's own.
    Qt::CursorShape cursor = Qt::ArrowCursor;
};

// Records every dialog instead of showing it, and answers with preset replies.
class RecordingDialogs : public UserDialogs {
  public:
    // The window whose pointer is recorded; set it once the window exists.
    QPointer<QWidget> window;
    std::vector<RecordedMessage> messages;
    // Runs while a message box is "open", e.g. to inspect the window at that moment.
    std::function<void(const RecordedMessage&)> whileMessageOpen;

    bool closeAnswer = true;
    std::vector<QString> closeQuestions;

    QString fileAnswer;
    std::vector<QString> fileFilters;

    void ShowMessage(const QString& text, const QString& title, MessageIcon icon) override {
        messages.push_back({text, title, icon, CurrentCursor()});
        if (whileMessageOpen) whileMessageOpen(messages.back());
    }

    bool ConfirmClose(const QString& text) override {
        closeQuestions.push_back(text);
        return closeAnswer;
    }

    QString AskOpenFileName(const QString& filter) override {
        fileFilters.push_back(filter);
        return fileAnswer;
    }

    Qt::CursorShape CurrentCursor() const {
        if (const QCursor* override = QGuiApplication::overrideCursor()) return override->shape();
        return window ? window->cursor().shape() : Qt::ArrowCursor;
    }
};

}  // namespace rqm5::testing
