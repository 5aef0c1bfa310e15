#pragma once

#include <cstdio>
#include <string>

#include "link/serial_port.h"

namespace rqm5 {

// Passes every call to the real port and watches it: counts the bytes that cross the line, keeps
// the last port error so that a failure can be told with its reason, and with tracing on prints
// every byte sent and received, with time stamps, to standard error.
class ObservedPort : public SerialPort {
  public:
    ObservedPort(SerialPort& inner, bool trace) : inner_(inner), trace_(trace) {}

    std::size_t bytesSent() const { return bytesSent_; }
    std::size_t bytesReceived() const { return bytesReceived_; }
    const std::string& lastError() const { return lastError_; }

    void SetPortNumber(int portNumber) override { inner_.SetPortNumber(portNumber); }
    void SetBaudRate(int bitsPerSecond) override;
    int BaudRate() const override { return inner_.BaudRate(); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    void Open() override;
    void Close() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    std::size_t BytesWaiting() override;
    std::vector<std::uint8_t> ReadAll() override;
    Millis Now() const override { return inner_.Now(); }
    bool WaitUntilWaiting(std::size_t count, Millis deadline) override;

  private:
    template <typename Call>
    auto Watch(Call call) -> decltype(call());
    void Trace(const char* what, std::span<const std::uint8_t> bytes = {});

    SerialPort& inner_;
    bool trace_;
    std::size_t bytesSent_ = 0;
    std::size_t bytesReceived_ = 0;
    std::string lastError_;
};

}  // namespace rqm5
