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
    bool hangUpDue = false;
    while (!queue_.empty()) {
        const Item item = queue_.front();
        const TimePoint done = doneTime(item);
        if (done > now) {
            break;
        }
        queue_.pop_front();
        if (item.hangUp) {
            hangUpDue = true;
            break;
        }
        landed_.push_back(item.byte);
        lastLanded_ = done;
        lineFree_ = done;
    }
    if (hangUpDue || landed_.size() >= fifoTrigger_ || (!landed_.empty() && now >= fifoTimeout())) {
        out.insert(out.end(), landed_.begin(), landed_.end());
        landed_.clear();
    }
    return hangUpDue;
}

std::optional<LineTiming::TimePoint> LineTiming::nextDue() const {
    std::optional<TimePoint> due;
    if (!queue_.empty()) {
        due = doneTime(queue_.front());
    }
    if (!landed_.empty() && (!due || fifoTimeout() < *due)) {
        due = fifoTimeout();
    }
    return due;
}

}  // namespace rqm5::devsim
