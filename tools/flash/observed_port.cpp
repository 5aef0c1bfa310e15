#include "tools/flash/observed_port.h"

namespace rqm5 {

template <typename Call>
auto ObservedPort::Watch(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const PortError& error) {
        lastError_ = error.what();
        if (trace_)
            std::fprintf(stderr, "%10.3f  error %s\n", Now().count() / 1000.0, error.what());
        throw;
    }
}

void ObservedPort::Trace(const char* what, std::span<const std::uint8_t> bytes) {
    if (!trace_) return;
    std::fprintf(stderr, "%10.3f  %s", Now().count() / 1000.0, what);
    if (!bytes.empty()) std::fprintf(stderr, " %zu:", bytes.size());
    for (std::uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fputc('\n', stderr);
}

void ObservedPort::SetBaudRate(int bitsPerSecond) {
    Watch([&] { inner_.SetBaudRate(bitsPerSecond); });
    if (trace_) std::fprintf(stderr, "%10.3f  rate %d\n", Now().count() / 1000.0, bitsPerSecond);
}

void ObservedPort::Open() {
    Watch([&] { inner_.Open(); });
    Trace("open");
}

void ObservedPort::Close() {
    if (inner_.IsOpen()) Trace("close");
    inner_.Close();
}

void ObservedPort::Write(std::span<const std::uint8_t> bytes) {
    Watch([&] { inner_.Write(bytes); });
    bytesSent_ += bytes.size();
    Trace("sent", bytes);
}

std::size_t ObservedPort::BytesWaiting() {
    return Watch([&] { return inner_.BytesWaiting(); });
}

std::vector<std::uint8_t> ObservedPort::ReadAll() {
    std::vector<std::uint8_t> bytes = Watch([&] { return inner_.ReadAll(); });
    bytesReceived_ += bytes.size();
    Trace("received", bytes);
    return bytes;
}

bool ObservedPort::WaitUntilWaiting(std::size_t count, Millis deadline) {
    const bool reached = Watch([&] { return inner_.WaitUntilWaiting(count, deadline); });
    if (!reached) Trace("time-out");
    return reached;
}

}  // namespace rqm5
