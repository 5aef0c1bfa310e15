#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace rqm5 {

// Any failure of the port itself: it does not exist, is in use, a read or write failed, the line
// hung up, or the exchange was abandoned. The exchange steps turn it into their failure code.
class PortError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Time as the port's wait sees it: a monotonic clock (a fake one in unit tests).
using Millis = std::chrono::milliseconds;

// The serial port as the exchange uses it. Implemented with QSerialPort in platform/ and with a
// scripted device in the tests. Every operation but Close() may throw PortError.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // COM1..COM16 as 1..16; takes effect at the next Open().
    virtual void SetPortNumber(int portNumber) = 0;
    // Bits per second; stays in force across Close() and Open(), applies at once when open.
    virtual void SetBaudRate(int bitsPerSecond) = 0;
    virtual int BaudRate() const = 0;

    virtual bool IsOpen() const = 0;
    // Opens with empty buffers: stale bytes from before are discarded.
    virtual void Open() = 0;
    virtual void Close() = 0;

    // Queues bytes for sending and returns without waiting for them to leave.
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    // Received bytes waiting to be read.
    virtual std::size_t BytesWaiting() = 0;
    // Every waiting byte, removed from the receive buffer.
    virtual std::vector<std::uint8_t> ReadAll() = 0;

    // The wait with a deadline.
    virtual Millis Now() const = 0;
    // Returns true as soon as at least `count` bytes are waiting, false once `deadline` has passed
    // first. Sleeps between arrivals (no polling); the window stays responsive meanwhile.
    virtual bool WaitUntilWaiting(std::size_t count, Millis deadline) = 0;

    // Gives up the running exchange from outside it (the window closing while an exchange waits):
    // the port closes, and the exchange's next port operation fails with PortError.
    virtual void Abandon() { Close(); }
};

}  // namespace rqm5
