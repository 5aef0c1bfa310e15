// The window's exchange commands against a scripted device: the single-step buttons, Start, the
// line-mode sequences and port control.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "window_exchange_fixture.h"

namespace rqm5::test {
namespace {

// --- Single-step buttons ---

enum class Busy { Disable, Hourglass };

struct SingleStepCase {
    const char* control;
    // What a well-behaved device is sent.
    std::vector<std::string> sentOnSuccess;
    // The device answers these messages so that the step fails.
    MessageMatcher failing;
    Bytes failingReply;
    const char* successText;
    const char* failureText;
    Busy busy;
};

std::ostream& operator<<(std::ostream& out, const SingleStepCase& c) {
    return out << c.control;
}

std::vector<std::string> WithPrefix(const std::string& prefix,
                                    const std::vector<std::string>& names) {
    std::vector<std::string> prefixed;
    for (const std::string& name : names) prefixed.push_back(prefix + name);
    return prefixed;
}

// The one-bank image's three rows, each sent and then confirmed with an OK record.
const std::vector<std::string> kRowsSent = {"row", "ok", "row", "ok", "row", "ok"};

// clang-format off
const SingleStepCase kSingleSteps[] = {
    // Loader steps: success codes 3, 4, 0, 2; "OK" (code 0) fails connect, erase and end.
    {"Command11", {"QZ~FLASH\r"}, TextIs("QZ~FLASH\r"), PlainReply("OK"),
     "Connected.", "Connect failed.", Busy::Disable},
    {"Command8", {"BE"}, FrameIs("BE"), PlainReply("OK"),
     "Erased.", "Erase failed.", Busy::Disable},
    {"Command9", {"PG", "PG"}, FrameIs("PG"), PlainReply("NG"),
     "Write OK.", "Write failed.", Busy::Hourglass},
    {"Command10", {"ED"}, FrameIs("ED"), PlainReply("OK"),
     "Disconnected.", "Disconnect failed.", Busy::Disable},
    // Line mode 0: success is code 0; "CT" (the loader's connect code) fails.
    {"Command1", {"QZ~E\r"}, TextIs("QZ~E\r"), LineReply("CT"),
     "Connected.", "Connect failed.", Busy::Disable},
    {"cmbErase", {"erase"}, LineRecordIs("erase"), LineReply("NG"),
     "Erased.", "Erase failed.", Busy::Disable},
    {"cmbWrite", kRowsSent, LineRecordIs("ok"), LineReply("NG"),
     "Write OK.", "Write failed.", Busy::Hourglass},
    {"cmbEnd", {"end"}, LineRecordIs("end"), LineReply("NG"),
     "Disconnected", "Disconnect failed.", Busy::Disable},
    // Line mode 1: records go with "CL~" in front.
    {"Command4", {"FL\r"}, TextIs("FL\r"), LineReply("NG"),
     "Connected.", "Connect failed.", Busy::Disable},
    {"Command7", {"CL~erase"}, LineRecordIs("erase"), LineReply("NG"),
     "Erased.", "Erase failed.", Busy::Disable},
    {"Command6", WithPrefix("CL~", kRowsSent), LineRecordIs("ok"), LineReply("NG"),
     "Write completed.", "Write failed.", Busy::Hourglass},
    {"Command5", {"CL~end"}, LineRecordIs("end"), LineReply("NG"),
     "Disconnected.", "Disconnect failed.", Busy::Disable},
};
// clang-format on

class SingleStepTest : public WindowExchangeTest,
                       public ::testing::WithParamInterface<SingleStepCase> {
  protected:
    void SetUp() override {
        WindowExchangeTest::SetUp();
        window->memoryImage = OneBankImage();
        button = window->findChild<QPushButton*>(GetParam().control);
        ASSERT_NE(button, nullptr);
    }

    struct Seen {
        bool enabled;
        Qt::CursorShape cursor;
    };

    // Clicks the button and checks the busy indication during the call, while the box is open
    // and after it.
    void ClickAndCheckBusy() {
        std::vector<Seen> duringCall;
        port.OnWait([&](ScriptedPort&) {
            duringCall.push_back({button->isEnabled(), WindowCursor()});
        });
        std::vector<Seen> whileBoxOpen;
        dialogs.whileMessageOpen = [&](const testing::RecordedMessage&) {
            whileBoxOpen.push_back({button->isEnabled(), WindowCursor()});
        };
        button->click();

        const bool hourglass = GetParam().busy == Busy::Hourglass;
        const Seen busy{hourglass, hourglass ? Qt::WaitCursor : Qt::ArrowCursor};
        ASSERT_FALSE(duringCall.empty());
        for (const Seen& seen : duringCall) {
            EXPECT_EQ(seen.enabled, busy.enabled);
            EXPECT_EQ(seen.cursor, busy.cursor);
        }
        ASSERT_EQ(whileBoxOpen.size(), 1u);
        EXPECT_EQ(whileBoxOpen[0].enabled, busy.enabled);
        EXPECT_EQ(whileBoxOpen[0].cursor, busy.cursor);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].cursor, busy.cursor);

        EXPECT_TRUE(button->isEnabled());
        EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);
        EXPECT_FALSE(window->exchangeRunning());
    }

    QPushButton* button = nullptr;
};

TEST_P(SingleStepTest, SucceedsWithItsOwnText) {
    ClickAndCheckBusy();
    EXPECT_EQ(Sent(), GetParam().sentOnSuccess);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(GetParam().successText));
    EXPECT_EQ(dialogs.messages[0].title, "OK");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
}

TEST_P(SingleStepTest, FailsWithTheFailureText) {
    Answer(GetParam().failing, GetParam().failingReply);
    ClickAndCheckBusy();
    const std::vector<std::string> sent = Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), GetParam().sentOnSuccess.front());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(GetParam().failureText));
    EXPECT_EQ(dialogs.messages[0].title, "NG");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
}

TEST_P(SingleStepTest, TimeOutFailsWithTheFailureText) {
    Answer([](std::span<const std::uint8_t>) { return true; }, {});
    ClickAndCheckBusy();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(GetParam().failureText));
    EXPECT_EQ(dialogs.messages[0].title, "NG");
}

INSTANTIATE_TEST_SUITE_P(EveryButton, SingleStepTest, ::testing::ValuesIn(kSingleSteps),
                         [](const ::testing::TestParamInfo<SingleStepCase>& info) {
                             return std::string(info.param.control);
                         });

// The built-in firmware spans four line-mode banks: a line-mode write refuses it before it sends.
TEST_F(WindowExchangeTest, LineWriteRefusesTheBuiltInImageWithoutSending) {
    for (QPushButton* writeButton : {window->cmbWrite, window->Command6}) {
        ForgetRecords();
        writeButton->click();
        EXPECT_TRUE(port.Writes().empty()) << writeButton->objectName().toStdString();
        EXPECT_TRUE(port.Opens().empty());
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, "Write failed.");
        EXPECT_EQ(dialogs.messages[0].title, "NG");
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(dialogs.messages[0].cursor, Qt::WaitCursor);
        EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);
    }
}

// --- Start ---

class StartTest : public WindowExchangeTest {
  protected:
    void SetUp() override {
        WindowExchangeTest::SetUp();
        // Two pages: 0xC0000 and 0xC0400.
        MemoryImage image;
        ASSERT_TRUE(image.Store(0xC000, 0, 0x00));
        ASSERT_TRUE(image.Store(0xC040, 5, 0x5A));
        window->memoryImage = image;
    }
};

TEST_F(StartTest, OutcomesOfTheUpdate) {
    struct Case {
        const char* name;
        MessageMatcher matches;
        Bytes reply;
        std::vector<std::string> sent;
        const char* text;
    };
    const std::string id = "QZ~RQ-M5T\r";
    const std::string flash = "QZ~FLASH\r";
    const std::vector<std::string> tenPages(10, "PG");
    std::vector<std::string> pageRefused = {id, flash, "BE"};
    pageRefused.insert(pageRefused.end(), tenPages.begin(), tenPages.end());
    const Case cases[] = {
        {"all well", Nothing(), {}, {id, flash, "BE", "PG", "PG", "ED"}, "Completed."},
        {"region error", TextIs(id), FramedReply("RE"), {id}, "Region error"},
        {"no answer to identify", TextIs(id), {}, {id}, "Error"},
        {"identify NG", TextIs(id), FramedReply("NG"), {id}, "Error"},
        {"mode answered OK", TextIs(flash), PlainReply("OK"), {id, flash}, "Connect failed."},
        {"erase answered OK", FrameIs("BE"), PlainReply("OK"), {id, flash, "BE"}, "Erase failed."},
        {"page refused", FrameIs("PG"), PlainReply("NG"), pageRefused, "Write failed."},
        {"end answered OK",
         FrameIs("ED"),
         PlainReply("OK"),
         {id, flash, "BE", "PG", "PG", "ED"},
         "Disconnect failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetRecords();
        Answer(c.matches, c.reply);
        int waits = 0;
        port.OnWait([&](ScriptedPort&) {
            ++waits;
            EXPECT_TRUE(window->bar->isVisible());
            EXPECT_FALSE(window->cmdKemra->isEnabled());
        });
        dialogs.whileMessageOpen = [&](const testing::RecordedMessage&) {
            EXPECT_TRUE(window->bar->isVisible());
            EXPECT_FALSE(window->cmdKemra->isEnabled());
        };
        window->cmdKemra->click();

        EXPECT_GT(waits, 0);
        EXPECT_EQ(Sent(), c.sent);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const bool success = std::string(c.text) == "Completed.";
        EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(dialogs.messages[0].title, success ? "OK" : "NG");
        EXPECT_EQ(dialogs.messages[0].icon, success ? MessageIcon::None : MessageIcon::Warning);
        EXPECT_FALSE(window->bar->isVisible());
        EXPECT_TRUE(window->cmdKemra->isEnabled());
        EXPECT_FALSE(window->exchangeRunning());
        EXPECT_EQ(window->Text1->text() == "Completed.", success);
        // A failed run must not leave "Completed." from an earlier one; the next case starts clean.
        window->Text1->clear();
    }
}

TEST_F(StartTest, Text1TellsCompletedOnlyAfterTheBoxIsClosed) {
    QString text1WhileOpen;
    dialogs.whileMessageOpen = [&](const testing::RecordedMessage&) {
        text1WhileOpen = window->Text1->text();
    };
    window->cmdKemra->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Completed.");
    EXPECT_NE(text1WhileOpen, "Completed.");
    EXPECT_FALSE(text1WhileOpen.isEmpty()) << "the progress shows the last page";
    EXPECT_EQ(window->Text1->text(), "Completed.");
}

TEST_F(StartTest, ProgressFollowsThePagesBeingWritten) {
    struct Progress {
        std::uint32_t frameRow;
        QString text1;
        int barValue;
    };
    std::vector<Progress> seen;
    port.OnWait([&](ScriptedPort& p) {
        const Bytes& last = p.Writes().back().bytes;
        if (last.size() < 7 || last[0] != 0xFF || last[1] != 0xFE || last[2] != 'P' ||
            last[3] != 'G') {
            return;
        }
        const std::uint32_t address =
            (std::uint32_t{last[4]} << 16) | (std::uint32_t{last[5]} << 8) | std::uint32_t{last[6]};
        seen.push_back({address / kColumns, window->Text1->text(), window->bar->value()});
    });
    window->cmdKemra->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Completed.");

    ASSERT_FALSE(seen.empty());
    bool sawSecondPage = false;
    for (const Progress& p : seen) {
        EXPECT_EQ(p.text1, QString::number(p.frameRow * kColumns, 16).toUpper());
        EXPECT_EQ(p.barValue, static_cast<int>(p.frameRow));
        sawSecondPage = sawSecondPage || p.text1 == "C0400";
    }
    EXPECT_TRUE(sawSecondPage);
}

TEST_F(StartTest, SecondRunStartsWithAnEmptyBar) {
    window->cmdKemra->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    ASSERT_GT(window->bar->value(), window->bar->minimum()) << "the first run moved the bar";

    ForgetRecords();
    std::vector<int> barAtWait;
    port.OnWait([&](ScriptedPort&) { barAtWait.push_back(window->bar->value()); });
    window->cmdKemra->click();
    ASSERT_FALSE(barAtWait.empty());
    EXPECT_EQ(barAtWait.front(), 49152);
    EXPECT_EQ(window->bar->minimum(), 49152);
}

// --- Line-mode sequences ---

TEST_F(WindowExchangeTest, LineSequencesRunTheirStepsUntilTheFirstFailure) {
    struct Case {
        const char* name;
        int index;
        bool builtInImage;
        MessageMatcher matches;
        Bytes reply;
        std::vector<std::string> sent;
        const char* text;
    };
    const std::vector<std::string> tenErases(10, "erase");
    const std::vector<std::string> tenCmdErases(10, "CL~erase");
    const std::vector<std::string> tenCmdEnds(10, "CL~end");
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> rows1 = WithPrefix("CL~", kRowsSent);
    const Case cases[] = {
        {"mode 0 well",
         0,
         false,
         Nothing(),
         {},
         join(join({"QZ~E\r", "erase"}, kRowsSent), {"end"}),
         "FLASH Memory writing completed."},
        {"mode 1 well",
         1,
         false,
         Nothing(),
         {},
         join(join({"FL\r", "CL~erase"}, rows1), {"CL~end"}),
         "FLASH Memory writing completed."},
        {"mode 0 erase refused", 0, false, LineRecordIs("erase"), LineReply("NG"),
         join({"QZ~E\r"}, tenErases), "Erase failed."},
        {"mode 1 erase refused", 1, false, LineRecordIs("erase"), LineReply("NG"),
         join({"FL\r"}, tenCmdErases), "Erase failed."},
        {"mode 1 connect refused",
         1,
         false,
         TextIs("FL\r"),
         LineReply("NG"),
         {"FL\r"},
         "Connect failed."},
        {"mode 0 built-in image", 0, true, Nothing(), {}, {"QZ~E\r", "erase"}, "Write failed."},
        {"mode 1 end refused", 1, false, LineRecordIs("end"), LineReply("NG"),
         join(join({"FL\r", "CL~erase"}, rows1), tenCmdEnds), "Disconnect failed."},
    };
    const MemoryImage builtIn = window->memoryImage;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetRecords();
        window->memoryImage = c.builtInImage ? builtIn : OneBankImage();
        Answer(c.matches, c.reply);
        QPushButton* macro = window->cmdMacro[static_cast<std::size_t>(c.index)];
        int waits = 0;
        port.OnWait([&](ScriptedPort&) {
            ++waits;
            EXPECT_FALSE(macro->isEnabled());
            EXPECT_FALSE(window->bar->isVisible());
            EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);
        });
        macro->click();

        EXPECT_GT(waits, 0);
        EXPECT_EQ(Sent(), c.sent);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const bool success = std::string(c.text) == "FLASH Memory writing completed.";
        EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(dialogs.messages[0].title, success ? "OK" : "NG");
        EXPECT_EQ(dialogs.messages[0].icon, success ? MessageIcon::None : MessageIcon::Warning);
        EXPECT_TRUE(macro->isEnabled());
        EXPECT_FALSE(window->exchangeRunning());
    }
}

// --- Port control ---

class PortControlTest : public WindowExchangeTest {
  protected:
    void SetUp() override {
        WindowExchangeTest::SetUp();
        window->txtPinNumber->setText("07");
        window->port[1]->setChecked(true);
        window->Text2->setText("before");
    }
};

TEST_F(PortControlTest, Text2ShowsTheDevicesAnswer) {
    struct Case {
        Bytes reply;
        const char* text2;
    };
    const Case cases[] = {
        {FramedReply("00"), "L出力"}, {FramedReply("01"), "H出力"},
        {FramedReply("02"), "L入力"}, {FramedReply("03"), "H入力"},
        {FramedReply("OK"), "OK"},    {FramedReply("NG"), "NG"},
        {FramedReply("RE"), "???"},   {{}, "???"},
        {PlainReply("OK"), "???"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text2);
        ForgetRecords();
        window->Text2->setText("before");
        Answer(TextIs("QZ~P071\r"), c.reply);
        int waits = 0;
        port.OnWait([&](ScriptedPort&) {
            ++waits;
            EXPECT_FALSE(window->Command2->isEnabled());
        });
        window->Command2->click();
        EXPECT_GT(waits, 0);
        EXPECT_EQ(Sent(), std::vector<std::string>{"QZ~P071\r"});
        EXPECT_EQ(window->Text2->text(), QString::fromUtf8(c.text2));
        EXPECT_TRUE(window->Command2->isEnabled());
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

TEST_F(PortControlTest, PinOfAnotherLengthSendsNothing) {
    for (const char* pin : {"", "071", "7"}) {
        SCOPED_TRACE(pin);
        ForgetRecords();
        window->Text2->setText("before");
        window->txtPinNumber->setText(pin);
        window->Command2->click();
        EXPECT_TRUE(port.Writes().empty());
        EXPECT_EQ(window->Text2->text(), "???");
        EXPECT_TRUE(window->Command2->isEnabled());
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

}  // namespace
}  // namespace rqm5::test
