#include "tests/support/scripted_port.h"

#include <gtest/gtest.h>

namespace rqm5::test {
namespace {

TEST(ScriptedPortTest, WaitJumpsToArrivalsAndToTheDeadlineOnly) {
    ScriptedPort port;
    port.Open();
    port.Deliver("abc", 300ms);
    port.Deliver("def", 700ms);
    EXPECT_EQ(port.BytesWaiting(), 0u);

    EXPECT_TRUE(port.WaitUntilWaiting(3, 5000ms));
    EXPECT_EQ(port.Now(), 300ms);
    EXPECT_EQ(port.BytesWaiting(), 3u);

    EXPECT_FALSE(port.WaitUntilWaiting(10, 5000ms));
    EXPECT_EQ(port.Now(), 5000ms);
    EXPECT_EQ(ToText(port.ReadAll()), "abcdef");
    EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST(ScriptedPortTest, ChunksArriveOneByOne) {
    ScriptedPort port;
    port.Open();
    port.DeliverInChunks(ToBytes("abcdefg"), 3, 10ms, 20ms);
    EXPECT_TRUE(port.WaitUntilWaiting(4, 1000ms));
    EXPECT_EQ(port.Now(), 30ms);
    EXPECT_EQ(port.BytesWaiting(), 6u);
    EXPECT_TRUE(port.WaitUntilWaiting(7, 1000ms));
    EXPECT_EQ(port.Now(), 50ms);
}

TEST(ScriptedPortTest, OpeningAndClosingDiscardUnreadBytes) {
    ScriptedPort port;
    port.Deliver("stale");
    port.Open();
    EXPECT_EQ(port.BytesWaiting(), 0u);
    port.Deliver("late", 100ms);
    port.Close();
    port.Open();
    EXPECT_FALSE(port.WaitUntilWaiting(1, 1000ms));
}

TEST(ScriptedPortTest, RecordsWritesOpensAndRates) {
    ScriptedPort port;
    EXPECT_EQ(port.BaudRate(), 38400);
    port.SetPortNumber(3);
    port.SetBaudRate(9600);
    port.Open();
    port.Write(ToBytes("x"));
    port.Close();
    ASSERT_EQ(port.Opens().size(), 1u);
    EXPECT_EQ(port.Opens()[0].portNumber, 3);
    EXPECT_EQ(port.Opens()[0].baudRate, 9600);
    ASSERT_EQ(port.Writes().size(), 1u);
    EXPECT_EQ(port.Writes()[0].baudRate, 9600);
    EXPECT_EQ(port.CloseCount(), 1);
}

TEST(ScriptedPortTest, ThrowsLikeAFailingPort) {
    ScriptedPort port;
    EXPECT_THROW(port.Write(ToBytes("x")), PortError);  // closed
    port.ThrowOnOpen();
    EXPECT_THROW(port.Open(), PortError);
    EXPECT_FALSE(port.IsOpen());
    port.ThrowOnOpen(false);
    port.Open();
    port.ThrowOnWrite(1);
    port.Write(ToBytes("a"));
    EXPECT_THROW(port.Write(ToBytes("b")), PortError);
    EXPECT_EQ(port.Writes().size(), 1u);
    port.ThrowOnRead();
    EXPECT_THROW(port.BytesWaiting(), PortError);
    EXPECT_THROW(port.WaitUntilWaiting(1, 10ms), PortError);
}

TEST(ScriptedPortTest, EchoAndReplyJoinsTheHalvesOfALoaderFrame) {
    ScriptedPort port;
    std::vector<std::size_t> messageSizes;
    port.OnWrite(EchoAndReply([&](std::span<const std::uint8_t> message) {
        messageSizes.push_back(message.size());
        return StandardReply(message);
    }));
    port.Open();
    Bytes frame(1032, 0xFF);
    frame[1] = 0xFE;
    frame[2] = 'E';
    frame[3] = 'D';
    port.Write(std::span(frame).first(512));
    EXPECT_EQ(port.BytesWaiting(), 512u);
    port.Write(std::span(frame).subspan(512));
    EXPECT_EQ(messageSizes, std::vector<std::size_t>{1032});
    const Bytes received = port.ReadAll();
    ASSERT_EQ(received.size(), 1036u);
    EXPECT_EQ(ToText(std::span(received).subspan(1032)), "ED\r\n");
}

}  // namespace
}  // namespace rqm5::test
