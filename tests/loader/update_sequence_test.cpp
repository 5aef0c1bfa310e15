#include "app/update_sequence.h"

#include <gtest/gtest.h>

#include "tests/support/scripted_port.h"

namespace rqm5::test {
namespace {

class UpdateSequenceTest : public ::testing::Test {
  protected:
    UpdateSequenceTest() {
        EXPECT_TRUE(image.Store(0xC000, 0, 0x00));
        EXPECT_TRUE(image.Store(0xC400, 0, 0x00));
    }
    // A standard device except that the message `matches` picks out is answered with `reply`.
    void Answer(std::function<bool(std::span<const std::uint8_t>)> matches, Bytes reply) {
        port.OnWrite(EchoAndReply([=](std::span<const std::uint8_t> message) {
            return matches(message) ? reply : StandardReply(message);
        }));
    }
    // Messages sent, named: texts as they are, frames by their letters, line records by kind.
    std::vector<std::string> Sent() const {
        std::vector<std::string> names;
        for (const Bytes& m : SentMessages(port)) {
            if (std::string letters = LongFrameLetters(m); !letters.empty()) {
                names.push_back(letters);
            } else if (auto record = LineRecordOf(m); !record.empty()) {
                const std::string head = ToText(record.first(4));
                names.push_back(head == std::string("\x01\x01\r\n", 4)   ? "erase"
                                : head == std::string("\x00\x00\r\n", 4) ? "end"
                                : head == "OK\r\n"                       ? "ok"
                                : head == "NG\r\n"                       ? "ng"
                                                                         : "row");
            } else {
                names.push_back(ToText(m));
            }
        }
        return names;
    }

    ScriptedPort port;
    FixedSettings settings;
    MemoryImage image;
    Rqm5Device device{port, settings, image};
};

auto TextIs(std::string text) {
    return [text](std::span<const std::uint8_t> m) { return ToText(m) == text; };
}
auto FrameIs(std::string letters) {
    return [letters](std::span<const std::uint8_t> m) { return LongFrameLetters(m) == letters; };
}

TEST_F(UpdateSequenceTest, StartSequenceOutcomes) {
    struct Case {
        const char* name;
        std::function<bool(std::span<const std::uint8_t>)> matches;
        Bytes reply;
        bool success;
        std::string message;
        SequenceStep failedStep;
        std::int16_t code;
        std::vector<std::string> sent;
    };
    const std::string id = "QZ~RQ-M5T\r";
    const std::string flash = "QZ~FLASH\r";
    auto none = [](std::span<const std::uint8_t>) { return false; };
    const Case cases[] = {
        {"all well",
         none,
         {},
         true,
         "Completed.",
         SequenceStep::kNone,
         0,
         {id, flash, "BE", "PG", "PG", "ED"}},
        {"region",
         TextIs(id),
         FramedReply("RE"),
         false,
         "Region error",
         SequenceStep::kIdentify,
         13,
         {id}},
        {"NG", TextIs(id), FramedReply("NG"), false, "Error", SequenceStep::kIdentify, 8, {id}},
        {"silent", TextIs(id), {}, false, "Error", SequenceStep::kIdentify, 8, {id}},
        {"connect OK",
         TextIs(flash),
         PlainReply("OK"),
         false,
         "Connect failed.",
         SequenceStep::kConnect,
         0,
         {id, flash}},
        {"erase OK",
         FrameIs("BE"),
         PlainReply("OK"),
         false,
         "Erase failed.",
         SequenceStep::kErase,
         0,
         {id, flash, "BE"}},
        {"write NG",
         FrameIs("PG"),
         PlainReply("NG"),
         false,
         "Write failed.",
         SequenceStep::kWrite,
         1,
         {id, flash, "BE", "PG", "PG", "PG", "PG", "PG", "PG", "PG", "PG", "PG", "PG"}},
        {"end OK",
         FrameIs("ED"),
         PlainReply("OK"),
         false,
         "Disconnect failed.",
         SequenceStep::kDisconnect,
         0,
         {id, flash, "BE", "PG", "PG", "ED"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.ClearRecords();
        Answer(c.matches, c.reply);
        const SequenceOutcome outcome = RunStartSequence(device);
        EXPECT_EQ(outcome.success, c.success);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.failedStep, c.failedStep);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(Sent(), c.sent);
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(UpdateSequenceTest, PortFailureInTheLoaderSequence) {
    port.OnWrite(EchoAndReply(StandardReply));
    port.ThrowOnWrite(1);  // the erase frame's first half
    const SequenceOutcome outcome = RunLoaderSequence(device);
    EXPECT_EQ(outcome.message, "Erase failed.");
    EXPECT_EQ(outcome.code, -1);
    EXPECT_EQ(Sent(), std::vector<std::string>{"QZ~FLASH\r"});
}

TEST_F(UpdateSequenceTest, IdentifySuccessLeavesTheRestToTheCaller) {
    port.OnWrite(EchoAndReply(StandardReply));
    const SequenceOutcome outcome = IdentifyForUpdate(device);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(Sent(), std::vector<std::string>{"QZ~RQ-M5T\r"});
}

TEST_F(UpdateSequenceTest, LineSequenceOutcomes) {
    struct Case {
        const char* name;
        std::int16_t mode;
        std::function<bool(std::span<const std::uint8_t>)> matches;
        Bytes reply;
        std::string message;
        SequenceStep failedStep;
        std::int16_t code;
        std::vector<std::string> sent;
    };
    auto none = [](std::span<const std::uint8_t>) { return false; };
    auto record = [](Bytes head) {
        return [head](std::span<const std::uint8_t> m) {
            auto r = LineRecordOf(m);
            return !r.empty() && std::equal(head.begin(), head.end(), r.begin());
        };
    };
    const Case cases[] = {
        {"mode 0",
         0,
         none,
         {},
         "FLASH Memory writing completed.",
         SequenceStep::kNone,
         0,
         {"QZ~E\r", "erase", "row", "ok", "row", "ok", "end"}},
        {"mode 1",
         1,
         none,
         {},
         "FLASH Memory writing completed.",
         SequenceStep::kNone,
         0,
         {"FL\r", "erase", "row", "ok", "row", "ok", "end"}},
        {"connect CT",
         0,
         TextIs("QZ~E\r"),
         LineReply("CT"),
         "Connect failed.",
         SequenceStep::kConnect,
         3,
         {"QZ~E\r"}},
        {"erase ED",
         1,
         record({1, 1, 13, 10}),
         LineReply("ED"),
         "Erase failed.",
         SequenceStep::kErase,
         2,
         {"FL\r", "erase"}},
        {"end ED",
         0,
         record({0, 0, 13, 10}),
         LineReply("ED"),
         "Disconnect failed.",
         SequenceStep::kDisconnect,
         2,
         {"QZ~E\r", "erase", "row", "ok", "row", "ok", "end"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.ClearRecords();
        Answer(c.matches, c.reply);
        const SequenceOutcome outcome = RunLineSequence(device, c.mode);
        EXPECT_EQ(outcome.success, c.failedStep == SequenceStep::kNone);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.failedStep, c.failedStep);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(Sent(), c.sent);
    }
}

TEST_F(UpdateSequenceTest, LineSequenceAcrossBanksFailsAtTheWrite) {
    ASSERT_TRUE(image.Store(0xF000, 0, 0x00));
    port.OnWrite(EchoAndReply(StandardReply));
    const SequenceOutcome outcome = RunLineSequence(device, 0);
    EXPECT_EQ(outcome.message, "Write failed.");
    EXPECT_EQ(outcome.code, -1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"QZ~E\r", "erase"}));
}

TEST_F(UpdateSequenceTest, LineSequenceOnlyInLineModes) {
    const SequenceOutcome outcome = RunLineSequence(device, 2);
    EXPECT_EQ(outcome.message, "Connect failed.");
    EXPECT_TRUE(port.Writes().empty());
}

TEST(SequenceCodesTest, SuccessCodesOfEachStep) {
    struct Case {
        SequenceStep step;
        std::int16_t mode;
        std::int16_t success;
    };
    const Case cases[] = {
        {SequenceStep::kConnect, 2, 3},  {SequenceStep::kErase, 2, 4},
        {SequenceStep::kWrite, 2, 0},    {SequenceStep::kDisconnect, 2, 2},
        {SequenceStep::kConnect, 0, 0},  {SequenceStep::kErase, 1, 0},
        {SequenceStep::kWrite, 0, 0},    {SequenceStep::kDisconnect, 1, 0},
        {SequenceStep::kIdentify, 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SuccessCode(c.step, c.mode), c.success)
            << static_cast<int>(c.step) << " mode " << c.mode;
    }
}

}  // namespace
}  // namespace rqm5::test
