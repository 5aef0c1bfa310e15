#include "loader/line_mode.h"

#include <gtest/gtest.h>

#include "link/text_commands.h"
#include "tests/loader/loader_test_fixture.h"

namespace rqm5::test {
namespace {

using LineModeTest = LoaderTest;

const Bytes kEraseHead{0x01, 0x01, 0x0D, 0x0A};
const Bytes kEndHead{0x00, 0x00, 0x0D, 0x0A};
const Bytes kOkHead{'O', 'K', 0x0D, 0x0A};
const Bytes kNgHead{'N', 'G', 0x0D, 0x0A};

Bytes Head(std::span<const std::uint8_t> record) {
    return Bytes(record.begin(), record.begin() + 4);
}

TEST_F(LineModeTest, DataRecordCarriesTheLow16BitsOfTheAddress) {
    struct Case {
        std::uint32_t row;
        std::uint8_t high;
        std::uint8_t low;
    };
    const Case cases[] = {{0xC000, 0x00, 0x00},
                          {0xC001, 0x00, 0x10},
                          {0xD123, 0x12, 0x30},
                          {0xFEFF, 0xEF, 0xF0},
                          {0xFFFF, 0xFF, 0xF0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(image.Store(c.row, 15, 0x77));
        BuildWriteFrame(context.frames, image, 0, c.row);
        const auto& record = context.frames.lineFrame;
        EXPECT_EQ(record[0], c.high) << std::hex << c.row;
        EXPECT_EQ(record[1], c.low) << std::hex << c.row;
        EXPECT_EQ(record[2], 0xFF);
        EXPECT_EQ(record[17], 0x77);
        EXPECT_EQ(record[18], 0x00);
        EXPECT_EQ(record[19], 0x00);
    }
    EXPECT_THROW(BuildWriteFrame(context.frames, image, 0, 0xBFFF), std::out_of_range);
}

TEST_F(LineModeTest, ShortFramesOfModeTwo) {
    Mark(0xD123, 0x42);
    BuildWriteFrame(context.frames, image, kFrameMode, 0xD123);
    const auto& tx = context.frames.txFrame;
    EXPECT_EQ(Bytes(tx.begin(), tx.begin() + 9),
              (Bytes{0xFF, 0xFE, 'P', 'G', 0x00, 0x0D, 0x12, 0x30, 0x42}));
    EXPECT_EQ(tx[24], FrameChecksum(std::span(tx).first(25)));

    BuildEraseFrame(context.frames, kFrameMode, 7);
    EXPECT_EQ(Bytes(tx.begin(), tx.begin() + 6), (Bytes{0xFF, 0xFE, 'B', 'E', 7, 0}));
    EXPECT_EQ(tx[24], ('B' + 'E' + 7) & 0xFF);
    EXPECT_THROW(BuildEraseFrame(context.frames, kFrameMode, 256), std::out_of_range);

    context.frames.txFrame.fill(0x55);
    BuildEndFrame(context.frames, kFrameMode);
    EXPECT_TRUE(
        std::all_of(tx.begin() + 4, tx.begin() + 24, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(tx[24], 0x89);
    EXPECT_EQ(tx[25], 0x55);  // a short frame leaves the rest of the buffer alone
    EXPECT_TRUE(std::all_of(context.frames.lineFrame.begin(), context.frames.lineFrame.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(LineModeTest, CommandRecordsSetOnlyTheirHead) {
    auto& record = context.frames.lineFrame;
    BuildEraseFrame(context.frames, 0, 0);
    EXPECT_EQ(Bytes(record.begin(), record.end()), Concat({kEraseHead, Bytes(16, 0)}));

    Mark(0xC002, 0x10);
    BuildWriteFrame(context.frames, image, 1, 0xC002);
    const Bytes data(record.begin(), record.end());
    struct Case {
        std::function<void()> build;
        Bytes head;
    };
    const Case cases[] = {
        {[&] { BuildEraseFrame(context.frames, 1, 0); }, kEraseHead},
        {[&] { BuildEndFrame(context.frames, 0); }, kEndHead},
        {[&] { BuildOkFrame(context.frames); }, kOkHead},
        {[&] { BuildNgFrame(context.frames); }, kNgHead},
    };
    for (const Case& c : cases) {
        c.build();
        EXPECT_EQ(Head(record), c.head);
        EXPECT_TRUE(std::equal(record.begin() + 4, record.end(), data.begin() + 4));
    }
    BuildEraseFrame(context.frames, 3, 0);  // no such mode: nothing
    EXPECT_EQ(Head(record), kNgHead);
}

TEST_F(LineModeTest, EchoMatches) {
    context.frames.lineFrame.fill(0x21);
    const Bytes copy(20, 0x21);
    struct Case {
        Bytes rx;
        std::size_t offset;
        std::int16_t expected;
    };
    Bytes differsAt19 = Concat({Bytes(20, 0), copy});
    differsAt19.back() = 0x22;
    const Case cases[] = {
        {Concat({Bytes(20, 0), copy}), 20, 1},
        {Concat({Bytes(23, 0), copy, ToBytes("more")}), 23, 1},
        {differsAt19, 20, 0},
        {Concat({Bytes(20, 0), Bytes(19, 0x21)}), 20, -1},
        {{}, 0, -1},
        {copy, 30, -1},
    };
    for (const Case& c : cases) {
        context.rxBuffer = c.rx;
        EXPECT_EQ(EchoMatches(context, c.offset), c.expected) << c.rx.size() << " at " << c.offset;
    }
}

TEST_F(LineModeTest, OnlyRowsOfOneBankCanBeWritten) {
    EXPECT_TRUE(MarkedLineRowsInOneBank(image));
    Mark(0xC000);
    Mark(0xCFFF);
    Mark(0xFF00);  // never written in line mode
    EXPECT_TRUE(MarkedLineRowsInOneBank(image));
    Mark(0xD000);
    EXPECT_FALSE(MarkedLineRowsInOneBank(image));
}

TEST_F(LineModeTest, ImageAcrossBanksIsRefusedWithNothingSent) {
    // Like the built-in firmware: data at the bottom and near the top of the flash.
    Mark(0xC000);
    Mark(0xFE00);
    port.OnWrite(EchoAndReply(StandardReply));
    for (std::int16_t mode : {0, 1}) {
        std::size_t rowsStarted = 0;
        EXPECT_EQ(WriteLines(context, mode, [&](std::uint32_t) { ++rowsStarted; }), -1);
        EXPECT_EQ(rowsStarted, 0u);
    }
    EXPECT_TRUE(port.Opens().empty());
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(LineModeTest, EmptyImageStepsThroughEveryRowAndSendsNothing) {
    std::vector<std::uint32_t> rows;
    EXPECT_EQ(WriteLines(context, 0, [&](std::uint32_t row) { rows.push_back(row); }), 0);
    EXPECT_TRUE(port.Writes().empty());
    ASSERT_EQ(rows.size(), 0xFF00u - 0xC000u);
    EXPECT_EQ(rows.front(), 0xC000u);
    EXPECT_EQ(rows.back(), 0xFEFFu);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(LineModeTest, RowsAreSentCheckedAndConfirmed) {
    Mark(0xE010, 0x01);
    Mark(0xE011, 0x02);
    Mark(0xFF00);  // not written in line mode
    for (std::int16_t mode : {0, 1}) {
        SCOPED_TRACE(mode);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        fresh.OnWrite(EchoAndReply(StandardReply));
        EXPECT_EQ(WriteLines(freshContext, mode, nullptr), 0);
        const auto messages = SentMessages(fresh);
        ASSERT_EQ(messages.size(), 4u);
        const std::size_t prefix = mode == 1 ? 3 : 0;
        for (const Bytes& m : messages) {
            EXPECT_EQ(m.size(), 20 + prefix);
            if (mode == 1) {
                EXPECT_EQ(ToText(std::span(m).first(3)), "CL~");
            }
        }
        EXPECT_EQ(messages[0][prefix + 0], 0x01);  // 0xE010 * 16 = 0xE0100
        EXPECT_EQ(messages[0][prefix + 1], 0x00);
        EXPECT_EQ(messages[0][prefix + 2], 0x01);
        EXPECT_EQ(Head(std::span(messages[1]).subspan(prefix)), kOkHead);
        EXPECT_EQ(messages[2][prefix + 1], 0x10);
        EXPECT_EQ(Head(std::span(messages[3]).subspan(prefix)), kOkHead);
        EXPECT_EQ(fresh.Writes()[0].baudRate, 38400);
    }
}

TEST_F(LineModeTest, ADifferingCopyIsRefusedWithNgAndTheRowIsResent) {
    Mark(0xC100, 0x42);
    bool spoiled = false;
    port.OnWrite(EchoAndReply([&](std::span<const std::uint8_t> message) {
        Bytes answer = StandardReply(message);
        if (!spoiled && message[2] == 0x42) {  // the first copy of the data record
            spoiled = true;
            answer[19] ^= 0x01;
        }
        return answer;
    }));
    EXPECT_EQ(WriteLines(context, 0, nullptr), 0);
    const auto messages = SentMessages(port);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0][2], 0x42);
    EXPECT_EQ(Head(messages[1]), kNgHead);
    EXPECT_EQ(messages[2], messages[0]);
    EXPECT_EQ(Head(messages[3]), kOkHead);
}

TEST_F(LineModeTest, ARowFailingTenTimesEndsTheWrite) {
    struct Case {
        const char* name;
        ReplyFunction reply;
        std::size_t messagesPerAttempt;
    };
    const Case cases[] = {
        {"no copy", [](std::span<const std::uint8_t>) { return Bytes{}; }, 1},
        {"copy refused",
         [](std::span<const std::uint8_t> m) {
             Bytes answer = StandardReply(m);
             if (Head(m) == kOkHead) answer = LineReply("NG");
             return answer;
         },
         2},
        {"bad copy",
         [](std::span<const std::uint8_t> m) {
             Bytes answer = StandardReply(m);
             if (Head(m) != kNgHead) answer[5] ^= 0xFF;
             return answer;
         },
         2},
    };
    Mark(0xC000);
    Mark(0xC001);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        fresh.OnWrite(EchoAndReply(c.reply));
        std::uint32_t lastRow = 0;
        EXPECT_EQ(WriteLines(freshContext, 0, [&](std::uint32_t row) { lastRow = row; }), 1);
        EXPECT_EQ(lastRow, 0xC000u);
        EXPECT_EQ(SentMessages(fresh).size(), 10 * c.messagesPerAttempt);
        EXPECT_FALSE(fresh.IsOpen());
    }
}

TEST_F(LineModeTest, ModeTwoWritesShortFrames) {
    Mark(0xC000);
    Mark(0xFE00);  // mode 2 carries the whole address: no bank limit
    port.OnWrite(EchoAndReply(StandardReply));
    EXPECT_EQ(WriteLines(context, kFrameMode, nullptr), 0);
    const auto messages = SentMessages(port);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(ShortFrameLetters(messages[1]), "PG");
    EXPECT_EQ(Bytes(messages[1].begin() + 4, messages[1].begin() + 8),
              (Bytes{0x00, 0x0F, 0xE0, 0x00}));
    EXPECT_EQ(port.Writes()[0].baudRate, 57600);
}

TEST_F(LineModeTest, LineCommandResults) {
    struct Case {
        const char* name;
        std::string command;
        std::int16_t mode;
        std::string reply;  // empty: no reply
        std::int16_t expected;
        std::size_t sent;
        Bytes head;
    };
    const Case cases[] = {
        {"erase OK", "ERASE", 0, "OK", 0, 1, kEraseHead},
        {"erase ED", "ERASE", 0, "ED", 2, 1, kEraseHead},
        {"erase BE", "ERASE", 1, "BE", 4, 1, kEraseHead},
        {"end OK", "END", 1, "OK", 0, 1, kEndHead},
        {"end NG", "END", 0, "NG", 1, 10, kEndHead},
        {"end silent", "END", 0, "", 1, 10, kEndHead},
        {"other text", "erase", 0, "OK", 1, 0, {}},
        {"other text 2", "WRITE", 1, "OK", 1, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort fresh;
        LoaderContext freshContext{fresh, settings, image};
        fresh.OnWrite(EchoAndReply([&](std::span<const std::uint8_t>) {
            return c.reply.empty() ? Bytes{} : LineReply(c.reply);
        }));
        EXPECT_EQ(LineCommand(freshContext, c.command, c.mode, 0), c.expected);
        const auto messages = SentMessages(fresh);
        ASSERT_EQ(messages.size(), c.sent);
        for (const Bytes& m : messages) {
            EXPECT_EQ(Head(std::span(m).subspan(c.mode == 1 ? 3 : 0)), c.head);
        }
        EXPECT_EQ(fresh.Opens().size(), 1u);
        EXPECT_FALSE(fresh.IsOpen());
    }
}

TEST_F(LineModeTest, EraseRecordCarriesThePreviousRecordsBytes) {
    Mark(0xC000, 0x11);
    ASSERT_TRUE(image.Store(0xC000, 15, 0x99));
    port.OnWrite(EchoAndReply(StandardReply));
    EXPECT_EQ(LineCommand(context, "ERASE", 0, 0), 0);
    EXPECT_EQ(port.Writes()[0].bytes, Concat({kEraseHead, Bytes(16, 0)}));  // zero at start
    EXPECT_EQ(WriteLines(context, 0, nullptr), 0);
    EXPECT_EQ(LineCommand(context, "ERASE", 0, 0), 0);
    const Bytes last = port.Writes().back().bytes;
    EXPECT_EQ(Head(last), kEraseHead);
    EXPECT_EQ(last[4], 0xFF);   // cell 2 of row 0xC000
    EXPECT_EQ(last[17], 0x99);  // cell 15
}

TEST_F(LineModeTest, ModeTwoCommandsUseShortFrames) {
    port.OnWrite(EchoAndReply(StandardReply));
    EXPECT_EQ(LineCommand(context, "ERASE", kFrameMode, 3), 4);
    EXPECT_EQ(LineCommand(context, "END", kFrameMode, 0), 2);
    ASSERT_EQ(port.Writes().size(), 2u);
    EXPECT_EQ(port.Writes()[0].bytes[4], 3);
    EXPECT_EQ(ShortFrameLetters(port.Writes()[1].bytes), "ED");
    EXPECT_EQ(LineCommand(context, "ERASE", kFrameMode, -1), -1);  // no such block
}

TEST_F(LineModeTest, OtherModesAndPortFailures) {
    Mark(0xC000);
    EXPECT_EQ(LineCommand(context, "ERASE", 3, 0), 1);
    EXPECT_EQ(WriteLines(context, -1, nullptr), 1);
    EXPECT_TRUE(port.Opens().empty());

    port.OnWrite(EchoAndReply(StandardReply));
    port.ThrowOnWrite(1);  // the OK record
    EXPECT_EQ(WriteLines(context, 0, nullptr), -1);
    EXPECT_FALSE(port.IsOpen());
    port.ThrowOnOpen();
    EXPECT_EQ(LineCommand(context, "END", 0, 0), -1);
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace rqm5::test
