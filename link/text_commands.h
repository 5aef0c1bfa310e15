#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/serial_exchange.h"

namespace rqm5 {

// Reply codes of the device's two-letter answers.
namespace reply {
inline constexpr std::int16_t kOk = 0;
inline constexpr std::int16_t kNg = 1;
inline constexpr std::int16_t kEnd = 2;         // "ED"
inline constexpr std::int16_t kConnected = 3;   // "CT"
inline constexpr std::int16_t kErased = 4;      // "BE"
inline constexpr std::int16_t kProgrammed = 5;  // "PG"
inline constexpr std::int16_t kRa = 6;
inline constexpr std::int16_t kEe = 7;
inline constexpr std::int16_t kNone = 8;  // no valid reply, time-out or port failure
inline constexpr std::int16_t kPinOutputLow = 9;
inline constexpr std::int16_t kPinOutputHigh = 10;
inline constexpr std::int16_t kPinInputLow = 11;
inline constexpr std::int16_t kPinInputHigh = 12;
inline constexpr std::int16_t kRegionError = 13;  // "RE"
}  // namespace reply

inline constexpr std::size_t kPlainReplySize = 4;   // c1 c2 CR LF
inline constexpr std::size_t kFramedReplySize = 6;  // CR LF c1 c2 CR LF

// The plain reply at offset k of `rx`: "OK" 0, "NG" 1, "ED" 2, "CT" 3, "BE" 4, "PG" 5, "RA" 6,
// "EE" 7, each followed by CR LF, byte for byte; 8 for anything else, also when `rx` ends early.
std::int16_t ClassifyReply(std::span<const std::uint8_t> rx, std::size_t k);
// The framed reply at offset k: CR LF, then "OK" 0, "NG" 1, "RE" 13, "00".."03" 9..12, then CR LF;
// 8 for anything else, also when `rx` ends early.
std::int16_t ClassifyFramedReply(std::span<const std::uint8_t> rx, std::size_t k);

// The model identification: 0, 13 (region error) or 8.
std::int16_t IdentifyDevice(ExchangeContext& context);
// Switches the device into mode 0 or 1 (line mode) or 2 (flash loader): 0 ("OK"), 3 ("CT") or 8.
// Any other mode sends nothing and gives 8.
std::int16_t EnterMode(ExchangeContext& context, std::int16_t mode);
// Sets or reads one port pin: the pin text must be exactly two ASCII characters, the action 0..3;
// otherwise nothing is sent and the result is 8. Returns the framed classifier's code unchanged.
std::int16_t PortControl(ExchangeContext& context);

}  // namespace rqm5
