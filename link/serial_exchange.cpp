#include "link/serial_exchange.h"

#include <limits>

namespace rqm5 {

int RateOfOption(int option) {
    switch (option) {
        case 0:
            return 9600;
        case 1:
            return 38400;
        default:
            return 57600;
    }
}

void SelectLineSetting(ExchangeContext& context, RateChoice rates) {
    const int optionCount = rates == RateChoice::kTwoRates ? 2 : 3;
    for (int option = 0; option < optionCount; ++option) {
        if (context.settings.IsRateSelected(option)) context.port.SetBaudRate(RateOfOption(option));
    }
}

void OpenPort(ExchangeContext& context) {
    if (context.port.IsOpen()) return;
    context.port.SetPortNumber(context.settings.GetCOM());
    context.port.Open();
}

bool WaitForBytes(ExchangeContext& context, std::size_t count) {
    const Millis deadline = context.port.Now() + kReplyTimeout;
    return context.port.WaitUntilWaiting(count, deadline);
}

std::size_t ReadReceived(ExchangeContext& context) {
    const std::size_t count = context.port.BytesWaiting();
    context.rxBuffer = context.port.ReadAll();
    return count;
}

void ClosePort(ExchangeContext& context) {
    if (context.port.IsOpen()) context.port.Close();
}

std::int16_t CountResult(std::size_t count) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max());
    return static_cast<std::int16_t>(count < kMax ? count : kMax);
}

PortCloser::~PortCloser() {
    try {
        ClosePort(context_);
    } catch (...) {
        // Closing must not fail an exchange that already has its result.
    }
}

}  // namespace rqm5
