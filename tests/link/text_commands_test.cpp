#include "link/text_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scripted_port.h"

namespace rqm5::test {
namespace {

struct ClassifyCase {
    std::string bytes;
    std::size_t k;
    std::int16_t expected;
};

TEST(ClassifyReplyTest, Table) {
    const ClassifyCase cases[] = {
        {"OK\r\n", 0, 0},
        {"NG\r\n", 0, 1},
        {"ED\r\n", 0, 2},
        {"CT\r\n", 0, 3},
        {"BE\r\n", 0, 4},
        {"PG\r\n", 0, 5},
        {"RA\r\n", 0, 6},
        {"EE\r\n", 0, 7},
        {"echoPG\r\n", 4, 5},    // behind the echo
        {"OK\r\nNG\r\n", 4, 1},  // only the bytes at k count
        {"OK\r\nXYZ", 0, 0},     // bytes after the reply are ignored
        {"ok\r\n", 0, 8},        // case-sensitive
        {"OK\n\r", 0, 8},        // LF before CR
        {"OK\r", 0, 8},          // one byte short
        {"OK\r\n", 1, 8},        // reply cut by the offset
        {"", 0, 8},
        {"OK\r\n", 100, 8},  // offset past the end
        {"XY\r\n", 0, 8},
        {"RE\r\n", 0, 8},      // framed-only code
        {"\r\nOK\r\n", 0, 8},  // a framed reply is not a plain one
    };
    for (const ClassifyCase& c : cases) {
        EXPECT_EQ(ClassifyReply(ToBytes(c.bytes), c.k), c.expected)
            << "bytes \"" << c.bytes << "\" at " << c.k;
    }
}

TEST(ClassifyFramedReplyTest, Table) {
    const ClassifyCase cases[] = {
        {"\r\nOK\r\n", 0, 0},
        {"\r\nNG\r\n", 0, 1},
        {"\r\n00\r\n", 0, 9},
        {"\r\n01\r\n", 0, 10},
        {"\r\n02\r\n", 0, 11},
        {"\r\n03\r\n", 0, 12},
        {"\r\nRE\r\n", 0, 13},
        {"QZ~P071\r\r\n01\r\n", 8, 10},
        {"\r\nED\r\n", 0, 8},  // plain-only code
        {"\r\n04\r\n", 0, 8},
        {"\r\nok\r\n", 0, 8},  // case-sensitive
        {"\n\rOK\r\n", 0, 8},  // LF before CR in front
        {"\r\nOK\n\r", 0, 8},  // LF before CR behind
        {"\rXOK\r\n", 0, 8},   // broken frame
        {"OK\r\n", 0, 8},      // a plain reply is not a framed one
        {"\r\nOK\r", 0, 8},    // one byte short
        {"", 0, 8},
        {"\r\nOK\r\n", 3, 8},  // offset cuts the reply
    };
    for (const ClassifyCase& c : cases) {
        EXPECT_EQ(ClassifyFramedReply(ToBytes(c.bytes), c.k), c.expected) << "case at " << c.k;
    }
}

class TextCommandTest : public ::testing::Test {
  protected:
    // Echoes every command and answers it with `reply`.
    void Answer(Bytes reply, Millis delay = 0ms) {
        port.OnWrite(
            EchoAndReply([reply](std::span<const std::uint8_t>) { return reply; }, 0ms, delay));
    }

    ScriptedPort port;
    FixedSettings settings;
    ExchangeContext context{port, settings};
};

TEST_F(TextCommandTest, CommandsOnTheWireAndTheirResults) {
    struct Case {
        const char* name;
        std::function<std::int16_t(ExchangeContext&)> command;
        std::string pin;
        int action;
        std::string sent;
        Bytes reply;
        std::int16_t expected;
    };
    auto identify = [](ExchangeContext& c) { return IdentifyDevice(c); };
    auto mode = [](std::int16_t m) { return [m](ExchangeContext& c) { return EnterMode(c, m); }; };
    auto portControl = [](ExchangeContext& c) { return PortControl(c); };
    const Bytes filler(16, '.');
    const Case cases[] = {
        {"identify OK", identify, "", 3, "QZ~RQ-M5T\r", FramedReply("OK"), 0},
        {"identify RE", identify, "", 3, "QZ~RQ-M5T\r", FramedReply("RE"), 13},
        {"identify NG", identify, "", 3, "QZ~RQ-M5T\r", FramedReply("NG"), 8},
        {"identify plain OK", identify, "", 3, "QZ~RQ-M5T\r",
         Concat({PlainReply("OK"), PlainReply("OK")}), 8},
        {"mode 2 CT", mode(2), "", 3, "QZ~FLASH\r", PlainReply("CT"), 3},
        {"mode 2 OK", mode(2), "", 3, "QZ~FLASH\r", PlainReply("OK"), 0},
        {"mode 2 BE", mode(2), "", 3, "QZ~FLASH\r", PlainReply("BE"), 8},
        {"mode 0 OK", mode(0), "", 3, "QZ~E\r", Concat({PlainReply("OK"), filler}), 0},
        {"mode 0 CT", mode(0), "", 3, "QZ~E\r", Concat({PlainReply("CT"), filler}), 3},
        {"mode 0 short", mode(0), "", 3, "QZ~E\r", Concat({PlainReply("OK"), Bytes(15, '.')}), 8},
        {"mode 1 OK", mode(1), "", 3, "FL\r", Concat({PlainReply("OK"), filler}), 0},
        {"mode 1 NG", mode(1), "", 3, "FL\r", Concat({PlainReply("NG"), filler}), 8},
        {"pin 07 high", portControl, "07", 1, "QZ~P071\r", FramedReply("01"), 10},
        {"pin read", portControl, "12", 3, "QZ~P123\r", FramedReply("03"), 12},
        {"pin RE", portControl, "07", 0, "QZ~P070\r", FramedReply("RE"), 13},
        {"pin NG", portControl, "07", 2, "QZ~P072\r", FramedReply("NG"), 1},
        {"pin garbage", portControl, "07", 2, "QZ~P072\r", ToBytes("garbage"), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPort fresh;
        ExchangeContext freshContext{fresh, settings};
        settings.pinText = c.pin;
        settings.portAction = c.action;
        fresh.OnWrite(EchoAndReply([&](std::span<const std::uint8_t>) { return c.reply; }));
        EXPECT_EQ(c.command(freshContext), c.expected);
        ASSERT_EQ(fresh.Writes().size(), 1u);
        EXPECT_EQ(ToText(fresh.Writes()[0].bytes), c.sent);
        EXPECT_FALSE(fresh.IsOpen());
        EXPECT_EQ(fresh.CloseCount(), 1);
    }
}

TEST_F(TextCommandTest, ReplyCompleteAfter300MsEndsTheWaitThere) {
    Answer(FramedReply("OK"), 300ms);
    EXPECT_EQ(IdentifyDevice(context), 0);
    EXPECT_EQ(port.Now(), 300ms);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(TextCommandTest, NoReplyTimesOutAfterFiveSecondsWithTheEchoInTheBuffer) {
    port.OnWrite(EchoEverything());
    EXPECT_EQ(IdentifyDevice(context), 8);
    EXPECT_EQ(port.Now(), 5000ms);
    EXPECT_EQ(ToText(context.rxBuffer), "QZ~RQ-M5T\r");
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(TextCommandTest, OneByteShortIsNoReplyAlthoughMostOfItArrived) {
    const Bytes reply = FramedReply("OK");
    Answer(Bytes(reply.begin(), reply.end() - 1));
    EXPECT_EQ(IdentifyDevice(context), 8);
    EXPECT_EQ(context.rxBuffer.size(), 15u);
}

TEST_F(TextCommandTest, ExtraBytesGoIntoTheBufferAndDoNotChangeTheResult) {
    Answer(Concat({PlainReply("CT"), ToBytes("more")}));
    EXPECT_EQ(EnterMode(context, 2), 3);
    EXPECT_EQ(context.rxBuffer.size(), 9u + 4 + 4);
}

TEST_F(TextCommandTest, UnknownModeSendsNothing) {
    for (std::int16_t mode : {-1, 3, 100}) {
        EXPECT_EQ(EnterMode(context, mode), 8) << mode;
    }
    EXPECT_TRUE(port.Opens().empty());
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(TextCommandTest, PinTextMustBeExactlyTwoAsciiCharacters) {
    port.OnWrite(EchoAndReply(StandardReply));
    for (const std::string pin : {"", "7", "071", "TORNADO", "\xC3\xA9"}) {
        settings.pinText = pin;
        EXPECT_EQ(PortControl(context), 8) << pin;
    }
    settings.pinText = "07";
    settings.portAction = 4;
    EXPECT_EQ(PortControl(context), 8);
    EXPECT_TRUE(port.Opens().empty());
    EXPECT_EQ(port.WaitCount(), 0);
    EXPECT_EQ(port.Now(), 0ms);
}

TEST_F(TextCommandTest, RatesInForce) {
    // 57600 selected: the two-rate commands run at the rate in force, 38400 at start.
    settings.rateOption = 2;
    port.OnWrite(EchoAndReply(StandardReply));
    settings.pinText = "07";
    EXPECT_EQ(EnterMode(context, 0), 0);
    EXPECT_EQ(PortControl(context), 0);
    EXPECT_EQ(IdentifyDevice(context), 0);
    EXPECT_EQ(EnterMode(context, 1), 0);
    EXPECT_EQ(EnterMode(context, 2), 3);
    std::vector<int> rates;
    for (const auto& open : port.Opens()) rates.push_back(open.baudRate);
    EXPECT_EQ(rates, (std::vector<int>{38400, 38400, 57600, 57600, 57600}));

    settings.rateOption = 0;
    EXPECT_EQ(EnterMode(context, 0), 0);
    EXPECT_EQ(port.Writes().back().baudRate, 9600);
}

TEST_F(TextCommandTest, ComNumberIsReadAtEveryOpen) {
    port.OnWrite(EchoAndReply(StandardReply));
    IdentifyDevice(context);
    settings.portNumber = 3;
    IdentifyDevice(context);
    ASSERT_EQ(port.Opens().size(), 2u);
    EXPECT_EQ(port.Opens()[0].portNumber, 1);
    EXPECT_EQ(port.Opens()[1].portNumber, 3);
}

TEST_F(TextCommandTest, PortFailuresGiveEightWithThePortClosed) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> breakPort;
    };
    const Case cases[] = {
        {"open", [](ScriptedPort& p) { p.ThrowOnOpen(); }},
        {"write", [](ScriptedPort& p) { p.ThrowOnWrite(0); }},
        {"read", [](ScriptedPort& p) { p.ThrowOnRead(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int command = 0; command < 3; ++command) {
            ScriptedPort fresh;
            ExchangeContext freshContext{fresh, settings};
            settings.pinText = "07";
            fresh.OnWrite(EchoAndReply(StandardReply));
            c.breakPort(fresh);
            const std::int16_t result = command == 0   ? IdentifyDevice(freshContext)
                                        : command == 1 ? EnterMode(freshContext, 2)
                                                       : PortControl(freshContext);
            EXPECT_EQ(result, 8);
            EXPECT_FALSE(fresh.IsOpen());
            EXPECT_FALSE(freshContext.busy);
        }
    }
}

TEST_F(TextCommandTest, ASecondCommandDuringAWaitIsRefused) {
    port.OnWrite(EchoAndReply(StandardReply, 0ms, 100ms));
    std::int16_t inner = -100;
    port.OnWait([&](ScriptedPort&) {
        if (inner == -100) inner = EnterMode(context, 2);
    });
    EXPECT_EQ(IdentifyDevice(context), 0);
    EXPECT_EQ(inner, 8);
    EXPECT_EQ(port.Writes().size(), 1u);
    EXPECT_EQ(port.Opens().size(), 1u);
}

}  // namespace
}  // namespace rqm5::test
