#include "loader/flash_commands.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/loader/loader_test_fixture.h"

namespace rqm5::test {
namespace {

using FlashCommandsTest = LoaderTest;

// Answers the loader frame with these letters from `replies` in turn (empty: no reply), and
// every other message as a well-behaved device would.
ReplyFunction ReplySequence(std::string letters, std::vector<std::string> replies) {
    auto next = std::make_shared<std::size_t>(0);
    return [=](std::span<const std::uint8_t> message) {
        if (LongFrameLetters(message) != letters) return StandardReply(message);
        const std::string code = *next < replies.size() ? replies[*next] : replies.back();
        ++*next;
        return code.empty() ? Bytes{} : PlainReply(code);
    };
}

TEST_F(FlashCommandsTest, AttemptLimitsAndAcceptedCodes) {
    struct Case {
        const char* name;
        std::int16_t (*command)(LoaderContext&);
        std::string letters;
        std::vector<std::string> replies;
        std::int16_t expected;
        std::size_t framesSent;
    };
    auto erase = [](LoaderContext& c) { return EraseBlocks(c); };
    auto end = [](LoaderContext& c) { return EndLoader(c); };
    const Case cases[] = {
        {"erase BE", erase, "BE", {"BE"}, 4, 1},
        {"erase OK", erase, "BE", {"OK"}, 0, 1},
        {"erase never", erase, "BE", {""}, 1, 3},
        {"erase NG", erase, "BE", {"NG"}, 1, 3},
        {"erase BE third", erase, "BE", {"NG", "RA", "BE"}, 4, 3},
        {"erase ED", erase, "BE", {"ED"}, 1, 3},
        {"end ED", end, "ED", {"ED"}, 2, 1},
        {"end OK", end, "ED", {"OK"}, 0, 1},
        {"end ED third", end, "ED", {"NG", "EE", "ED"}, 2, 3},
        {"end never", end, "ED", {""}, 1, 10},
        {"end BE", end, "ED", {"BE"}, 1, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        fresh.OnWrite(EchoAndReply(ReplySequence(c.letters, c.replies)));
        EXPECT_EQ(c.command(freshContext), c.expected);
        const auto messages = SentMessages(fresh);
        EXPECT_EQ(messages.size(), c.framesSent);
        // The same frame every time.
        for (const Bytes& m : messages) EXPECT_EQ(m, messages.front());
        EXPECT_EQ(fresh.Opens().size(), 1u);
        EXPECT_FALSE(fresh.IsOpen());
        EXPECT_EQ(fresh.Writes().front().baudRate, 57600);
    }
}

TEST_F(FlashCommandsTest, PagesWithDataAreSentAndProgressSeesEveryPage) {
    Mark(0xC000);
    Mark(0xC07F);  // the last row of the second page
    Mark(0xE123);
    port.OnWrite(EchoAndReply(StandardReply));
    std::vector<std::uint32_t> pagesStarted;
    EXPECT_EQ(WritePages(context, [&](std::uint32_t row) { pagesStarted.push_back(row); }), 0);

    const auto pages = FramesSent("PG");
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(PageRow(pages[0]), 0xC000u);
    EXPECT_EQ(PageRow(pages[1]), 0xC040u);
    EXPECT_EQ(PageRow(pages[2]), 0xE100u);
    EXPECT_EQ(pages[1][7 + 16 * 63], 0x00);  // row 0xC07F, column 0
    ASSERT_EQ(pagesStarted.size(), (0xFEC0u - 0xC000u) / 64 + 1);
    EXPECT_EQ(pagesStarted.front(), 0xC000u);
    EXPECT_EQ(pagesStarted.back(), 0xFEC0u);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(FlashCommandsTest, EmptyImageSendsNothingButStepsThroughEveryPage) {
    std::size_t pagesStarted = 0;
    EXPECT_EQ(WritePages(context, [&](std::uint32_t) { ++pagesStarted; }), 0);
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(pagesStarted, 252u);
    EXPECT_EQ(port.Opens().size(), 1u);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(FlashCommandsTest, APageRefusedTenTimesEndsTheWrite) {
    Mark(0xC000);
    Mark(0xD000);
    port.OnWrite(EchoAndReply(ReplySequence("PG", {"NG"})));
    std::vector<std::uint32_t> pagesStarted;
    EXPECT_EQ(WritePages(context, [&](std::uint32_t row) { pagesStarted.push_back(row); }), 1);
    const auto pages = FramesSent("PG");
    ASSERT_EQ(pages.size(), 10u);
    for (const Bytes& page : pages) EXPECT_EQ(PageRow(page), 0xC000u);
    EXPECT_EQ(pagesStarted, std::vector<std::uint32_t>{0xC000});  // resends are not progress
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(FlashCommandsTest, PageIsAcceptedWithOkOrPgAfterResends) {
    Mark(0xC000);
    Mark(0xC040);
    port.OnWrite(EchoAndReply(ReplySequence("PG", {"NG", "RA", "OK", "PG"})));
    EXPECT_EQ(WritePages(context, nullptr), 0);
    const auto pages = FramesSent("PG");
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(PageRow(pages[2]), 0xC000u);
    EXPECT_EQ(PageRow(pages[3]), 0xC040u);
}

TEST_F(FlashCommandsTest, EchoLeftOverFromASilentAttemptDoesNotSpoilTheResend) {
    // A silent attempt leaves the second half's echo (520 bytes, below the 524 needed for a read)
    // in the port; the resend discards it, so its own reply stands at 1032 and counts.
    port.OnWrite(EchoAndReply(ReplySequence("ED", {"", "ED"})));
    EXPECT_EQ(EndLoader(context), 2);
    EXPECT_EQ(FramesSent("ED").size(), 2u);
    EXPECT_EQ(context.rxBuffer.size(), 1036u);
    EXPECT_EQ(port.Now(), 5000ms);
}

TEST_F(FlashCommandsTest, FrameIsRebuiltBeforeEveryResend) {
    Mark(0xC000, 0x5A);
    // The device refuses the first time; meanwhile something spoils the send buffer.
    auto reply = ReplySequence("PG", {"NG", "PG"});
    port.OnWrite(
        [&, handler = EchoAndReply(reply)](std::span<const std::uint8_t> sent, ScriptedPort& p) {
            handler(sent, p);
            context.frames.txFrame.fill(0x00);
        });
    EXPECT_EQ(WritePages(context, nullptr), 0);
    const auto pages = FramesSent("PG");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1], pages[0]);
    EXPECT_EQ(pages[1][7], 0x5A);
}

TEST_F(FlashCommandsTest, ServiceCodeWidensEraseAndPages) {
    struct Case {
        std::string pin;
        bool service;
    };
    const Case cases[] = {{"TORNADO", true},   {"tornado", false}, {"TORNADO ", false},
                          {" TORNADO", false}, {"", false},        {"07", false}};
    Mark(0xC000);
    Mark(0xFF00);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pin);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        settings.pinText = c.pin;
        fresh.OnWrite(EchoAndReply(StandardReply));
        std::uint32_t lastPage = 0;
        EXPECT_EQ(EraseBlocks(freshContext), 4);
        EXPECT_EQ(WritePages(freshContext, [&](std::uint32_t row) { lastPage = row; }), 0);
        const auto messages = SentMessages(fresh);
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages[0][1031], c.service ? 0xBE : 0xAE);
        EXPECT_EQ(messages[0][36], c.service ? 0x00 : 0xFF);
        EXPECT_EQ(lastPage, c.service ? 0xFFC0u : 0xFEC0u);
        ASSERT_EQ(messages.size(), c.service ? 3u : 2u);
        if (c.service) {
            EXPECT_EQ(PageRow(messages[2]), 0xFF00u);
        }
    }
}

TEST_F(FlashCommandsTest, ServiceCodeIsReadOnceAtTheStartOfTheWrite) {
    Mark(0xC000);
    Mark(0xFF00);
    settings.pinText = "TORNADO";
    port.OnWrite(EchoAndReply(StandardReply));
    port.OnWait([&](ScriptedPort&) { settings.pinText = ""; });
    EXPECT_EQ(WritePages(context, nullptr), 0);
    EXPECT_EQ(FramesSent("PG").size(), 2u);
}

TEST_F(FlashCommandsTest, PortFailuresGiveMinusOneWithThePortClosed) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> breakPort;
    };
    const Case cases[] = {
        {"open", [](ScriptedPort& p) { p.ThrowOnOpen(); }},
        {"first half", [](ScriptedPort& p) { p.ThrowOnWrite(0); }},
        {"second half", [](ScriptedPort& p) { p.ThrowOnWrite(1); }},
        {"read", [](ScriptedPort& p) { p.ThrowOnRead(); }},
    };
    Mark(0xC000);
    for (const Case& c : cases) {
        for (auto command : {&EraseBlocks, &EndLoader}) {
            SCOPED_TRACE(c.name);
            ScriptedPort fresh;
            LoaderContext freshContext{fresh, settings, image};
            fresh.OnWrite(EchoAndReply(StandardReply));
            c.breakPort(fresh);
            EXPECT_EQ(command(freshContext), -1);
            EXPECT_FALSE(fresh.IsOpen());
        }
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        fresh.OnWrite(EchoAndReply(StandardReply));
        c.breakPort(fresh);
        EXPECT_EQ(WritePages(freshContext, nullptr), -1) << c.name;
        EXPECT_FALSE(fresh.IsOpen());
    }
}

TEST_F(FlashCommandsTest, AFailingProgressCallbackEndsTheWriteCleanly) {
    Mark(0xC000);
    port.OnWrite(EchoAndReply(StandardReply));
    EXPECT_EQ(WritePages(context, [](std::uint32_t) { throw std::runtime_error("window gone"); }),
              -1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(context.busy);
}

}  // namespace
}  // namespace rqm5::test
