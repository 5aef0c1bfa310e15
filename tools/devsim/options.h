// Command line of rqm5-devsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device_model.h"

namespace rqm5::devsim {

struct SimulatorOptions {
    DeviceSettings device;
    bool throttle = false;
    // With --throttle: the receive FIFO trigger level of the updater's UART (see LineTiming).
    unsigned uartFifo = 8;
    std::string linkPath;
    std::string dumpPath;
    std::string logPath;
    std::string flashInitPath;
    std::uint8_t flashFill = 0xFF;
    bool showHelp = false;
};

struct ParsedOptions {
    std::optional<SimulatorOptions> options;  // empty: error holds the reason
    std::string error;
};

// Arguments without the program name.
ParsedOptions parseOptions(const std::vector<std::string_view>& arguments);

std::string usageText();

inline constexpr int kExitUsage = 64;  // bad command line (also an unusable --flash-init)
inline constexpr int kExitOsError = 71;

}  // namespace rqm5::devsim
