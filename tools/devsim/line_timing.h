// When bytes cross the serial line. Unthrottled, every byte goes at once; throttled,
// each byte takes the time of 10 bits at the speed in force, in both directions.
// Times are passed in, so the schedule can be tested without a real clock.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace rqm5::devsim {

class LineTiming {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // `fifoTrigger`: the bytes that reach the other end are handed over in groups, as a UART's
    // receive FIFO raises its interrupt: once this many have landed, or when the line has been
    // quiet for four byte times after the last one (the character time-out). 1 hands over every
    // byte on its own.
    explicit LineTiming(bool throttled, unsigned fifoTrigger = 1)
        : throttled_(throttled), fifoTrigger_(throttled ? std::max(fifoTrigger, 1u) : 1u) {}

    // Sets the speed in force; 0 (unknown) keeps the previous one.
    void setRate(unsigned bitsPerSecond);
    Clock::duration byteTime() const { return byteTime_; }

    // When the next received byte, read at readTime, has fully arrived: one byte time
    // after the previous one arrived, but not before it was read.
    TimePoint arrive(TimePoint readTime);

    // Queues a byte that may start to leave at notBefore, behind everything queued.
    void send(std::uint8_t byte, TimePoint notBefore);
    // Queues the end of the line, behind everything queued.
    void hangUp(TimePoint notBefore);

    // Appends to `out` the bytes that have fully left by `now`, in order. Returns true
    // when the queued hang-up is due (every byte before it has left).
    bool takeDue(TimePoint now, std::vector<std::uint8_t>& out);

    // When the next queued item is due; empty when nothing is queued.
    std::optional<TimePoint> nextDue() const;

  private:
    struct Item {
        std::uint8_t byte;
        bool hangUp;
        TimePoint notBefore;
    };
    TimePoint doneTime(const Item& item) const;
    TimePoint fifoTimeout() const { return lastLanded_ + 4 * byteTime_; }

    bool throttled_;
    unsigned fifoTrigger_;
    std::vector<std::uint8_t> landed_;  // left the line, waiting in the receiver's FIFO
    TimePoint lastLanded_{};
    Clock::duration byteTime_{0};
    std::optional<TimePoint> lastArrival_;
    TimePoint lineFree_{};
    std::deque<Item> queue_;
};

}  // namespace rqm5::devsim
