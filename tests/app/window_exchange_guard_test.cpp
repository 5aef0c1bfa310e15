// One exchange at a time, and closing the window while one runs.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/image_file/test_files.h"
#include "window_exchange_fixture.h"

namespace rqm5::test {
namespace {

using testing_files::SRecord2;
using testing_files::TempFolder;

const QString kCloseQuestion = QStringLiteral(
    "An update is running. Closing now can leave the device unusable. Close anyway?");

struct RunningCase {
    const char* name;
    std::function<void(FrmMain&)> start;
    // Runs several steps or records, so that closing in the middle cuts it short.
    bool severalWrites;
    // The wait (counted from 1) during which the window is closed.
    int closeAtWait;
};

std::ostream& operator<<(std::ostream& out, const RunningCase& c) {
    return out << c.name;
}

const RunningCase kRunning[] = {
    {"Command9", [](FrmMain& w) { w.Command9->click(); }, true, 2},
    {"Command6", [](FrmMain& w) { w.Command6->click(); }, true, 3},
    {"Command11", [](FrmMain& w) { w.Command11->click(); }, false, 1},
    {"Start", [](FrmMain& w) { w.cmdKemra->click(); }, true, 3},
    {"cmdMacro0", [](FrmMain& w) { w.cmdMacro[0]->click(); }, true, 4},
    {"Command2", [](FrmMain& w) { w.Command2->click(); }, false, 1},
};

class RunningExchangeTest : public WindowExchangeTest,
                            public ::testing::WithParamInterface<RunningCase> {
  protected:
    void SetUp() override {
        WindowExchangeTest::SetUp();
        window->memoryImage = OneBankImage();
        window->txtPinNumber->setText("07");
        window->setServiceLayoutShown(true);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        otherFile = QString::fromStdString(
            folder.Write("other.mot", SRecord2(0xC0000, {0x01, 0x02, 0x03}) + "\r\n"));

        // Outside an exchange Ctrl+O does reach the open dialog.
        dialogs.fileAnswer.clear();
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        ASSERT_EQ(dialogs.fileFilters.size(), 1u);
        dialogs.fileFilters.clear();
        dialogs.fileAnswer = otherFile;
    }

    void Start() { GetParam().start(*window); }

    struct Controls {
        std::vector<bool> enabled;
        QString text1, text2, text3;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        bool operator==(const Controls&) const = default;
    };
    Controls Snapshot() const {
        Controls state;
        for (QPushButton* button : Buttons()) state.enabled.push_back(button->isEnabled());
        state.text1 = window->Text1->text();
        state.text2 = window->Text2->text();
        state.text3 = window->Text3->text();
        state.cursor = WindowCursor();
        return state;
    }
    std::vector<QPushButton*> Buttons() const {
        return {window->cmdKemra, window->Command8,    window->Command9, window->Command6,
                window->cmbWrite, window->cmdMacro[0], window->Command2, window->Command11};
    }

    // Everything that would start another exchange or replace the image, tried from inside a
    // wait: none of it may send, show, or change anything.
    void TryEverythingElse() {
        const Controls before = Snapshot();
        const auto image = std::make_unique<MemoryImage>(window->memoryImage);
        const std::size_t writes = port.Writes().size();
        const std::size_t messages = dialogs.messages.size();

        for (QPushButton* button : Buttons()) button->click();
        window->StartUpdate();
        window->RunMacro(1);
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        window->OpenImageFile();
        EXPECT_FALSE(window->LoadImageFileIntoImage(otherFile));
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(otherFile)});
        EXPECT_FALSE(DragAndDrop(window->Text3, dropped));

        EXPECT_EQ(port.Writes().size(), writes);
        EXPECT_EQ(dialogs.messages.size(), messages);
        EXPECT_TRUE(dialogs.fileFilters.empty());
        EXPECT_TRUE(Snapshot() == before);
        EXPECT_TRUE(window->memoryImage == *image);
        EXPECT_TRUE(window->exchangeRunning());
    }

    TempFolder folder;
    QString otherFile;
};

TEST_P(RunningExchangeTest, NothingElseStartsWhileItRuns) {
    // The send buffers keep bytes from the run before (line records reuse the last row's tail):
    // the run compared with is the second of two, as the interfered one will be.
    Start();
    ForgetRecords();
    Start();
    const std::vector<Bytes> alone = SentMessages(port);
    const std::vector<QString> shownAlone = [&] {
        std::vector<QString> texts;
        for (const auto& message : dialogs.messages) texts.push_back(message.text);
        return texts;
    }();
    ASSERT_FALSE(alone.empty());

    ForgetRecords();
    int waits = 0;
    port.OnWait([&](ScriptedPort&) {
        ++waits;
        TryEverythingElse();
    });
    Start();
    EXPECT_GT(waits, 0);
    EXPECT_TRUE(SentMessages(port) == alone);
    ASSERT_EQ(dialogs.messages.size(), shownAlone.size());
    for (std::size_t i = 0; i < shownAlone.size(); ++i) {
        EXPECT_EQ(dialogs.messages[i].text, shownAlone[i]);
    }
    EXPECT_FALSE(window->exchangeRunning());
    EXPECT_TRUE(window->isVisible());
}

TEST_P(RunningExchangeTest, AcceptedCloseAbandonsTheExchangeAndClosesTheWindow) {
    Start();
    const std::size_t writesAlone = port.Writes().size();

    ForgetRecords();
    dialogs.closeAnswer = true;
    int waits = 0;
    std::optional<std::size_t> writesAtClose;
    port.OnWait([&](ScriptedPort& p) {
        if (++waits != GetParam().closeAtWait) return;
        writesAtClose = p.Writes().size();
        window->close();
        EXPECT_FALSE(p.IsOpen()) << "the port is given up at once";
        // A second close before the exchange has unwound asks nothing more.
        window->close();
    });
    Start();

    ASSERT_TRUE(writesAtClose.has_value()) << "the exchange reached the wait";
    EXPECT_EQ(port.Writes().size(), *writesAtClose) << "nothing is sent after the abandon";
    if (GetParam().severalWrites) {
        EXPECT_LT(*writesAtClose, writesAlone);
    }
    EXPECT_EQ(dialogs.closeQuestions, std::vector<QString>{kCloseQuestion});
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(window->exchangeRunning());
    EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);

    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RunningExchangeTest, ::testing::ValuesIn(kRunning),
                         [](const ::testing::TestParamInfo<RunningCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WindowExchangeTest, DeclinedCloseLetsTheUpdateFinish) {
    window->memoryImage = OneBankImage();
    window->cmdKemra->click();
    const std::vector<Bytes> alone = SentMessages(port);

    ForgetRecords();
    window->Text1->clear();
    dialogs.closeAnswer = false;
    int waits = 0;
    port.OnWait([&](ScriptedPort&) {
        if (++waits == 3) window->close();
    });
    window->cmdKemra->click();

    EXPECT_EQ(dialogs.closeQuestions, std::vector<QString>{kCloseQuestion});
    EXPECT_TRUE(SentMessages(port) == alone);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Completed.");
    EXPECT_EQ(dialogs.messages[0].title, "OK");
    EXPECT_EQ(window->Text1->text(), "Completed.");
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->cmdKemra->isEnabled());
}

TEST_F(WindowExchangeTest, ClosingWhenIdleAsksNothing) {
    window->memoryImage = OneBankImage();
    window->cmdKemra->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    window->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialogs.closeQuestions.empty());
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace rqm5::test
