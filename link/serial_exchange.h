#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/exchange_settings.h"
#include "link/serial_port.h"

namespace rqm5 {

// Every wait for the device gives up after this long.
inline constexpr Millis kReplyTimeout{5000};

// The line speed of a port that no exchange has set yet.
inline constexpr int kDefaultBaudRate = 38400;

// Which line-speed options an exchange honours: the two-rate exchanges ignore 57600 and keep the
// rate already in force when it is selected.
enum class RateChoice { kTwoRates, kThreeRates };

// What one exchange with the device works on. Only one exchange may run at a time, because the
// port and the receive buffer are shared; `busy` is how a second one is refused.
struct ExchangeContext {
    ExchangeContext(SerialPort& port, const ExchangeSettings& settings)
        : port(port), settings(settings) {}

    SerialPort& port;
    const ExchangeSettings& settings;
    // Everything received so far in the exchange, echo first; replaced by every read.
    std::vector<std::uint8_t> rxBuffer;
    bool busy = false;
};

// The bit rate of line-speed option 0, 1 or 2.
int RateOfOption(int option);

void SelectLineSetting(ExchangeContext& context, RateChoice rates);
// Opens the port on the COM number chosen at this moment, unless it is already open.
void OpenPort(ExchangeContext& context);
// Waits until `count` bytes are waiting or kReplyTimeout has passed; true when they arrived.
bool WaitForBytes(ExchangeContext& context, std::size_t count);
// Replaces rxBuffer with every waiting byte; returns the count the port reported before the read
// (more bytes may have arrived in between and are in rxBuffer too).
std::size_t ReadReceived(ExchangeContext& context);
void ClosePort(ExchangeContext& context);

// A byte count as the procedures report it: 16-bit, saturating instead of wrapping.
std::int16_t CountResult(std::size_t count);

// Closes the port when the exchange ends, however it ends.
class PortCloser {
  public:
    explicit PortCloser(ExchangeContext& context) : context_(context) {}
    ~PortCloser();
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;

  private:
    ExchangeContext& context_;
};

// Runs one exchange: refuses it with `failureCode` while another runs, selects the line setting,
// opens the port, runs `body` and closes the port on every path. Any failure inside (a PortError of
// the port, or anything else thrown) ends the exchange with `failureCode`; nothing escapes.
template <typename Body>
std::int16_t RunExchange(ExchangeContext& context, RateChoice rates, std::int16_t failureCode,
                         Body&& body) noexcept {
    if (context.busy) return failureCode;
    context.busy = true;
    std::int16_t result = failureCode;
    try {
        SelectLineSetting(context, rates);
        PortCloser closer(context);
        OpenPort(context);
        result = body();
    } catch (...) {
        result = failureCode;
    }
    context.busy = false;
    return result;
}

}  // namespace rqm5
