#pragma once

// The window on the offscreen platform, talking to a scripted device on a fake clock.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "qt_gtest_printers.h"
#include "recording_dialogs.h"
#include "tests/support/scripted_port.h"

namespace rqm5::test {

using MessageMatcher = std::function<bool(std::span<const std::uint8_t>)>;

inline MessageMatcher TextIs(std::string text) {
    return [text](std::span<const std::uint8_t> m) { return ToText(m) == text; };
}
inline MessageMatcher FrameIs(std::string letters) {
    return [letters](std::span<const std::uint8_t> m) { return LongFrameLetters(m) == letters; };
}
inline MessageMatcher Nothing() {
    return [](std::span<const std::uint8_t>) { return false; };
}

// The kind of a line record from its first four bytes.
inline std::string LineRecordKind(std::span<const std::uint8_t> record) {
    const std::string head = ToText(record.first(4));
    if (head == std::string("\x01\x01\r\n", 4)) return "erase";
    if (head == std::string("\x00\x00\r\n", 4)) return "end";
    if (head == "OK\r\n") return "ok";
    if (head == "NG\r\n") return "ng";
    return "row";
}
// Line records of one kind, in the mode 1 form ("CL~" in front) or the mode 0 form.
inline MessageMatcher LineRecordIs(std::string kind) {
    return [kind](std::span<const std::uint8_t> m) {
        const auto record = LineRecordOf(m);
        return !record.empty() && LineRecordKind(record) == kind;
    };
}

// A message by name: texts as they are, loader frames by their letters, line records by kind with
// "CL~" in front in mode 1.
inline std::string MessageName(std::span<const std::uint8_t> message) {
    if (std::string letters = LongFrameLetters(message); !letters.empty()) return letters;
    if (const auto record = LineRecordOf(message); !record.empty()) {
        return (message.size() == record.size() ? "" : "CL~") + LineRecordKind(record);
    }
    return ToText(message);
}

// Rows of one line-mode bank (0xD000..0xDFFF) in two flash pages: 0xD000 and 0xD400. Their
// address bytes and data never read as a line command.
inline constexpr std::uint32_t kOneBankRows[] = {0xD010, 0xD011, 0xD420};

inline MemoryImage OneBankImage() {
    MemoryImage image;
    std::uint8_t value = 0x11;
    for (std::uint32_t row : kOneBankRows) {
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            EXPECT_TRUE(image.Store(row, column, value++));
        }
    }
    return image;
}

// Drags `data` over `target` and drops it there, as a user's drop delivers it; returns whether the
// target accepted the drag.
inline bool DragAndDrop(QWidget* target, QMimeData& data) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

class WindowExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<FrmMain>(dialogs, &port);
        dialogs.window = window.get();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        Answer(Nothing(), {});
    }

    // A well-behaved device, except that every message `matches` picks out gets `reply` (empty:
    // only the echo comes back).
    void Answer(MessageMatcher matches, Bytes reply) {
        port.OnWrite(EchoAndReply([=](std::span<const std::uint8_t> message) {
            return matches(message) ? reply : StandardReply(message);
        }));
    }

    std::vector<std::string> Sent() const {
        std::vector<std::string> names;
        for (const Bytes& message : SentMessages(port)) names.push_back(MessageName(message));
        return names;
    }

    // Forgets what earlier exchanges left in the records.
    void ForgetRecords() {
        port.ClearRecords();
        port.OnWait(nullptr);
        dialogs.messages.clear();
        dialogs.whileMessageOpen = nullptr;
    }

    Qt::CursorShape WindowCursor() const { return window->cursor().shape(); }

    ScriptedPort port;
    testing::RecordingDialogs dialogs;
    std::unique_ptr<FrmMain> window;
};

}  // namespace rqm5::test
