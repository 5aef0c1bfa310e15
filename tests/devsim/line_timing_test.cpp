#include "line_timing.h"

#include <gtest/gtest.h>

namespace rqm5::devsim {
namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;
using Time = LineTiming::TimePoint;
using Bytes = std::vector<std::uint8_t>;

const Time t0 = Time{} + std::chrono::hours(1);

// 10 bits at 9600 bit/s.
const nanoseconds kByte9600(1'041'666);

TEST(LineTimingTest, UnthrottledSendsEverythingAtOnce) {
    LineTiming line(false);
    line.setRate(9600);
    EXPECT_EQ(line.arrive(t0), t0);
    EXPECT_EQ(line.arrive(t0), t0);
    line.send('a', t0);
    line.send('b', t0);
    Bytes out;
    EXPECT_FALSE(line.takeDue(t0, out));
    EXPECT_EQ(out, (Bytes{'a', 'b'}));
    EXPECT_FALSE(line.nextDue());
}

TEST(LineTimingTest, UnthrottledStillWaitsForProcessingTime) {
    LineTiming line(false);
    line.send('e', t0);
    line.send('A', t0 + std::chrono::milliseconds(30));
    Bytes out;
    line.takeDue(t0 + std::chrono::milliseconds(29), out);
    EXPECT_EQ(out, Bytes{'e'});
    EXPECT_EQ(line.nextDue(), t0 + std::chrono::milliseconds(30));
    line.takeDue(t0 + std::chrono::milliseconds(30), out);
    EXPECT_EQ(out, (Bytes{'e', 'A'}));
}

TEST(LineTimingTest, ThrottledBytesArriveOneByteTimeApart) {
    LineTiming line(true);
    line.setRate(9600);
    EXPECT_EQ(line.byteTime(), kByte9600);
    // Three bytes read together arrive one after another.
    EXPECT_EQ(line.arrive(t0), t0);
    EXPECT_EQ(line.arrive(t0), t0 + kByte9600);
    EXPECT_EQ(line.arrive(t0), t0 + 2 * kByte9600);
    // A byte read long after the line went quiet arrives when it is read.
    const Time later = t0 + std::chrono::seconds(1);
    EXPECT_EQ(line.arrive(later), later);
    line.setRate(0);  // unknown speed keeps the last one
    EXPECT_EQ(line.byteTime(), kByte9600);
}

TEST(LineTimingTest, ThrottledEchoAndAnswerShareTheOutputLine) {
    LineTiming line(true);
    line.setRate(9600);
    const Time arrivals[] = {line.arrive(t0), line.arrive(t0)};
    line.send('Q', arrivals[0]);
    line.send('\r', arrivals[1]);
    line.send('O', arrivals[1]);  // the answer, after the last byte arrived
    line.send('K', arrivals[1]);

    Bytes out;
    line.takeDue(t0 + kByte9600 - nanoseconds(1), out);
    EXPECT_TRUE(out.empty()) << "a byte needs a whole byte time to leave";
    line.takeDue(t0 + kByte9600, out);
    EXPECT_EQ(out, Bytes{'Q'});
    EXPECT_EQ(line.nextDue(), t0 + 2 * kByte9600);
    line.takeDue(t0 + 3 * kByte9600, out);
    EXPECT_EQ(out, (Bytes{'Q', '\r', 'O'}));
    line.takeDue(t0 + 4 * kByte9600, out);
    EXPECT_EQ(out, (Bytes{'Q', '\r', 'O', 'K'}));
    EXPECT_FALSE(line.nextDue());
}

TEST(LineTimingTest, ThrottledAnswerWaitsForProcessingThenTakesItsTime) {
    LineTiming line(true);
    line.setRate(57600);
    const Time arrival = line.arrive(t0);
    line.send('x', arrival);
    const Time answerTime = arrival + std::chrono::milliseconds(50);
    line.send('B', answerTime);
    Bytes out;
    line.takeDue(answerTime, out);
    EXPECT_EQ(out, Bytes{'x'});
    EXPECT_EQ(line.nextDue(), answerTime + line.byteTime());
}

TEST(LineTimingTest, HangUpComesAfterTheBytesAheadOfIt) {
    LineTiming line(true);
    line.setRate(9600);
    line.send('a', t0);
    line.hangUp(t0);
    Bytes out;
    EXPECT_FALSE(line.takeDue(t0, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(line.takeDue(t0 + kByte9600, out));
    EXPECT_EQ(out, Bytes{'a'});
}

TEST(LineTimingTest, UartFifoHandsBytesOverInGroupsOrAfterTheCharacterTimeOut) {
    LineTiming line(true, 8);
    line.setRate(9600);
    for (std::uint8_t b = 0; b < 10; ++b) line.send(b, t0);
    Bytes out;
    line.takeDue(t0 + 7 * kByte9600, out);
    EXPECT_TRUE(out.empty());  // seven bytes have landed, below the trigger level
    EXPECT_EQ(line.nextDue(), t0 + 8 * kByte9600);
    line.takeDue(t0 + 8 * kByte9600, out);
    EXPECT_EQ(out.size(), 8u);
    line.takeDue(t0 + 10 * kByte9600, out);
    EXPECT_EQ(out.size(), 8u);  // the last two wait for four quiet byte times
    EXPECT_EQ(line.nextDue(), t0 + 14 * kByte9600);
    line.takeDue(t0 + 14 * kByte9600, out);
    EXPECT_EQ(out, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_FALSE(line.nextDue());
}

TEST(LineTimingTest, HangUpFlushesTheUartFifoFirst) {
    LineTiming line(true, 8);
    line.setRate(9600);
    line.send('x', t0);
    line.hangUp(t0);
    Bytes out;
    EXPECT_TRUE(line.takeDue(t0 + kByte9600, out));
    EXPECT_EQ(out, Bytes{'x'});
}

}  // namespace
}  // namespace rqm5::devsim
