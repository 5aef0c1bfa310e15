#include "line_timing.h"

#include <algorithm>

namespace rqm5::devsim {
namespace {
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}

void LineTiming::setRate(unsigned bitsPerSecond) {
    if (!throttled_ || bitsPerSecond == 0) {
        return;
    }
    byteTime_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(std::int64_t{kBitsPerByte} * 1'000'000'000 / bitsPerSecond));
}

LineTiming::TimePoint LineTiming::arrive(TimePoint readTime) {
    TimePoint arrival = readTime;
    if (lastArrival_) {
        arrival = std::max(arrival, *lastArrival_ + byteTime_);
    }
    lastArrival_ = arrival;
    return arrival;
}

void LineTiming::send(std::uint8_t byte, TimePoint notBefore) {
    queue_.push_back({byte, false, notBefore});
}

void LineTiming::hangUp(TimePoint notBefore) {
    queue_.push_back({0, true, notBefore});
}

LineTiming::TimePoint LineTiming::doneTime(const Item& item) const {
    const TimePoint start = std::max(item.notBefore, lineFree_);
    return item.hangUp ? start : start + byteTime_;
}

bool LineTiming::takeDue(TimePoint now, std::vector<std::uint8_t>& out) {
    while (!queue_.empty()) {
        const Item item = queue_.front();
        const TimePoint done = doneTime(item);
        if (done > now) {
            return false;
        }
        queue_.pop_front();
        if (item.hangUp) {
            return true;
        }
        out.push_back(item.byte);
        lineFree_ = done;
    }
    return false;
}

std::optional<LineTiming::TimePoint> LineTiming::nextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return doneTime(queue_.front());
}

}  // namespace rqm5::devsim
