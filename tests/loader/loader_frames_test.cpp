#include "loader/loader_frames.h"

#include <gtest/gtest.h>

#include "link/text_commands.h"
#include "loader/flash_commands.h"
#include "loader/line_mode.h"
#include "tests/loader/loader_test_fixture.h"

namespace rqm5::test {
namespace {

using Frame = std::array<std::uint8_t, kLongFrameSize>;

TEST(LoaderFrameTest, Checksums) {
    Frame frame{};
    BuildLoaderEndFrame(frame);
    EXPECT_EQ(frame[1031], 0x86);

    MemoryImage image;
    BuildPageFrame(frame, image, kFirstRow);  // all 0xFF
    EXPECT_EQ(frame[1031], 0xA3);
    for (std::uint32_t row = kFirstRow; row < kFirstRow + kRowsPerPage; ++row) {
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            ASSERT_TRUE(image.Store(row, column, 0x00));
        }
    }
    BuildPageFrame(frame, image, kFirstRow);
    EXPECT_EQ(frame[1031], 0xA3);

    BuildBlockEraseFrame(frame, false);
    EXPECT_EQ(frame[1031], 0xAE);
    BuildBlockEraseFrame(frame, true);
    EXPECT_EQ(frame[1031], 0xBE);

    // The checksum sums from the first letter on, modulo 256, header and checksum excluded.
    const std::uint8_t small[] = {0xFF, 0xFE, 0x80, 0x90, 0x7F, 0x55};
    EXPECT_EQ(FrameChecksum(small), (0x80 + 0x90 + 0x7F) & 0xFF);
}

TEST(LoaderFrameTest, EraseFrameListsTheBlocks) {
    const std::uint8_t entries[] = {0x00, 0x0F, 0xEF, 0xFE, 0x00, 0x0F, 0xDF, 0xFE,
                                    0x00, 0x0F, 0xBF, 0xFE, 0x00, 0x0F, 0x9F, 0xFE,
                                    0x00, 0x0F, 0x7F, 0xFE, 0x00, 0x0E, 0xFF, 0xFE,
                                    0x00, 0x0D, 0xFF, 0xFE, 0x00, 0x0C, 0xFF, 0xFE};
    for (bool serviceCode : {false, true}) {
        SCOPED_TRACE(serviceCode);
        Frame frame;
        frame.fill(0x11);
        BuildBlockEraseFrame(frame, serviceCode);
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xFF, 0xFE, 'B', 'E'}));
        EXPECT_TRUE(std::equal(std::begin(entries), std::end(entries), frame.begin() + 4));
        const Bytes entry9(frame.begin() + 36, frame.begin() + 40);
        EXPECT_EQ(entry9, serviceCode ? (Bytes{0x00, 0x0F, 0xFF, 0xFE}) : Bytes(4, 0xFF));
        EXPECT_TRUE(std::all_of(frame.begin() + 40, frame.end() - 1,
                                [](std::uint8_t b) { return b == 0xFF; }));
    }
}

TEST(LoaderFrameTest, PageFrameCarriesAddressAndRows) {
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xFEC0, 0, 0x12));
    ASSERT_TRUE(image.Store(0xFEC0 + 63, 15, 0x34));
    Frame frame{};
    BuildPageFrame(frame, image, kFirstRow);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 7), (Bytes{0xFF, 0xFE, 'P', 'G', 0x0C, 0, 0}));
    BuildPageFrame(frame, image, 0xFEC0);
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 7), (Bytes{0x0F, 0xEC, 0x00}));
    EXPECT_EQ(frame[7], 0x12);
    EXPECT_EQ(frame[7 + 16 * 63 + 15], 0x34);
    EXPECT_EQ(frame[8], 0xFF);  // the unmarked cells as the image holds them
    EXPECT_EQ(frame[1031], FrameChecksum(frame));
}

TEST(LoaderFrameTest, EndFrameIsAllFill) {
    Frame frame{};
    BuildLoaderEndFrame(frame);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xFF, 0xFE, 'E', 'D'}));
    EXPECT_TRUE(
        std::all_of(frame.begin() + 4, frame.end() - 1, [](std::uint8_t b) { return b == 0xFF; }));
}

class TransferFrameTest : public LoaderTest {
  protected:
    void SetUp() override {
        BuildLoaderEndFrame(context.frames.txFrame);
        frame = Bytes(context.frames.txFrame.begin(), context.frames.txFrame.end());
        port.Open();
    }
    Bytes frame;
};

TEST_F(TransferFrameTest, EchoAndReplyGiveTheWholeCount) {
    port.OnWrite(EchoAndReply(StandardReply, 10ms, 20ms));
    EXPECT_EQ(TransferFrame(context, kFrameMode), 1036);
    ASSERT_EQ(port.Writes().size(), 2u);
    EXPECT_EQ(port.Writes()[0].bytes.size(), 512u);
    EXPECT_EQ(port.Writes()[1].bytes.size(), 520u);
    EXPECT_EQ(port.AllWritten(), frame);
    EXPECT_EQ(context.rxBuffer, Concat({frame, PlainReply("ED")}));
    EXPECT_EQ(ClassifyReply(context.rxBuffer, kLongReplyOffset), reply::kEnd);
    EXPECT_LT(port.Now(), 100ms);
    EXPECT_EQ(port.Writes()[0].baudRate, 57600);
}

TEST_F(TransferFrameTest, EchoWithoutReplyTimesOutWithTheFirstHalf) {
    port.OnWrite(EchoEverything());
    EXPECT_EQ(TransferFrame(context, kFrameMode), 512);
    EXPECT_EQ(port.Now(), 5000ms);
    EXPECT_EQ(context.rxBuffer, Bytes(frame.begin(), frame.begin() + 512));
}

TEST_F(TransferFrameTest, PartialFirstEchoReadsNothingButStillSendsTheSecondHalf) {
    port.OnWrite([](std::span<const std::uint8_t> sent, ScriptedPort& p) {
        if (sent.size() == 512)
            p.Deliver(sent.first(300));
        else
            p.Deliver(Concat({sent, PlainReply("ED")}));  // in time, but the clock ran out
    });
    EXPECT_EQ(TransferFrame(context, kFrameMode), 0);
    EXPECT_TRUE(context.rxBuffer.empty());
    EXPECT_EQ(port.Writes().size(), 2u);
    EXPECT_EQ(port.Now(), 5000ms);
}

TEST_F(TransferFrameTest, SixByteReplyIsClassifiedByItsFirstFour) {
    port.OnWrite(EchoAndReply([](std::span<const std::uint8_t>) { return ToBytes("PG\r\nxy"); }));
    EXPECT_GE(TransferFrame(context, kFrameMode), 1036);
    EXPECT_EQ(ClassifyReply(context.rxBuffer, kLongReplyOffset), reply::kProgrammed);
}

TEST_F(TransferFrameTest, OneDeadlineCoversBothHalves) {
    struct Case {
        Millis secondHalfDelay;
        std::int16_t expected;
    };
    // The first echo takes 3000 ms; the second half's echo and reply must come within the rest.
    for (const Case c : {Case{1900ms, 1036}, Case{2100ms, 512}}) {
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        freshContext.frames = context.frames;
        fresh.Open();
        fresh.OnWrite([c](std::span<const std::uint8_t> sent, ScriptedPort& p) {
            if (sent.size() == 512)
                p.Deliver(sent, 3000ms);
            else
                p.Deliver(Concat({sent, PlainReply("ED")}), c.secondHalfDelay);
        });
        EXPECT_EQ(TransferFrame(freshContext, kFrameMode), c.expected);
        EXPECT_LE(fresh.Now(), 5000ms);
    }
}

TEST_F(TransferFrameTest, ReplyInChunksIsCollected) {
    port.OnWrite([](std::span<const std::uint8_t> sent, ScriptedPort& p) {
        p.DeliverInChunks(sent, 100, 5ms, 5ms);
        if (sent.size() == 520) p.Deliver(PlainReply("ED"), 200ms);
    });
    EXPECT_EQ(TransferFrame(context, kFrameMode), 1036);
    EXPECT_EQ(ClassifyReply(context.rxBuffer, kLongReplyOffset), reply::kEnd);
}

TEST_F(TransferFrameTest, LineRecordsWaitForEchoAndAnswer) {
    struct Case {
        std::int16_t mode;
        Bytes sent;
        std::size_t answered;  // bytes of the 20-byte answer that arrive
        std::int16_t expected;
        Millis took;
    };
    context.frames.lineFrame.fill(0x42);
    const Bytes record(20, 0x42);
    const Case cases[] = {
        {0, record, 20, 40, 50ms},
        {1, Concat({ToBytes("CL~"), record}), 20, 43, 50ms},
        {0, record, 19, 39, 5000ms},
        {1, Concat({ToBytes("CL~"), record}), 0, 23, 5000ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        freshContext.frames = context.frames;
        fresh.Open();
        fresh.OnWrite([&](std::span<const std::uint8_t> sent, ScriptedPort& p) {
            p.Deliver(sent);
            p.Deliver(Bytes(c.answered, 0x33), 50ms);
        });
        EXPECT_EQ(TransferFrame(freshContext, c.mode), c.expected);
        ASSERT_EQ(fresh.Writes().size(), 1u);
        EXPECT_EQ(fresh.Writes()[0].bytes, c.sent);
        EXPECT_EQ(freshContext.rxBuffer.size(), static_cast<std::size_t>(c.expected));
        EXPECT_EQ(fresh.Now(), c.took);
        EXPECT_EQ(fresh.Writes()[0].baudRate, 38400);  // two rates with 57600 selected
    }
}

TEST_F(TransferFrameTest, ShortFrameSendsTwentyFiveBytesAndWaitsForTwentyNine) {
    BuildEndFrame(context.frames, kFrameMode);
    EXPECT_EQ(context.frames.txFrame[24], 0x89);
    port.OnWrite(EchoAndReply(StandardReply));
    EXPECT_EQ(TransferShortFrame(context), 29);
    ASSERT_EQ(port.Writes().size(), 1u);
    EXPECT_EQ(port.Writes()[0].bytes.size(), 25u);
    EXPECT_EQ(ClassifyReply(context.rxBuffer, 25), reply::kEnd);
}

TEST_F(TransferFrameTest, OtherModesSendNothing) {
    for (std::int16_t mode : {-1, 3, 7}) EXPECT_EQ(TransferFrame(context, mode), 0);
    EXPECT_TRUE(port.Writes().empty());
}

}  // namespace
}  // namespace rqm5::test
