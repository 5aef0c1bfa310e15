#pragma once

#include <span>
#include <string_view>

namespace rqm5 {

// The S-record lines of the firmware that the program carries, compiled in from data/firmware.mot.
std::span<const std::string_view> BuiltInFirmwareLines();

}  // namespace rqm5
