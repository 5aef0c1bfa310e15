#include "link/text_commands.h"

#include <array>
#include <string>
#include <string_view>

namespace rqm5 {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;

struct CodedPair {
    char first;
    char second;
    std::int16_t code;
};

// Tested in this order; the first match wins.
constexpr std::array<CodedPair, 8> kPlainPairs{{{'O', 'K', reply::kOk},
                                                {'N', 'G', reply::kNg},
                                                {'E', 'D', reply::kEnd},
                                                {'C', 'T', reply::kConnected},
                                                {'B', 'E', reply::kErased},
                                                {'P', 'G', reply::kProgrammed},
                                                {'R', 'A', reply::kRa},
                                                {'E', 'E', reply::kEe}}};

constexpr std::array<CodedPair, 7> kFramedPairs{{{'O', 'K', reply::kOk},
                                                 {'N', 'G', reply::kNg},
                                                 {'R', 'E', reply::kRegionError},
                                                 {'0', '0', reply::kPinOutputLow},
                                                 {'0', '1', reply::kPinOutputHigh},
                                                 {'0', '2', reply::kPinInputLow},
                                                 {'0', '3', reply::kPinInputHigh}}};

template <std::size_t N>
std::int16_t MatchPair(const std::array<CodedPair, N>& pairs, std::uint8_t first,
                       std::uint8_t second) {
    for (const CodedPair& pair : pairs) {
        if (first == static_cast<std::uint8_t>(pair.first) &&
            second == static_cast<std::uint8_t>(pair.second)) {
            return pair.code;
        }
    }
    return reply::kNone;
}

bool HasBytes(std::span<const std::uint8_t> rx, std::size_t k, std::size_t length) {
    return k <= rx.size() && rx.size() - k >= length;
}

// One text command: send `text`, wait for `threshold` bytes, classify the reply behind the echo.
template <typename Classify>
std::int16_t RunTextCommand(ExchangeContext& context, RateChoice rates, std::string_view text,
                            std::size_t threshold, Classify classify) {
    return RunExchange(context, rates, reply::kNone, [&]() -> std::int16_t {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        context.port.Write(std::span<const std::uint8_t>(bytes, text.size()));
        WaitForBytes(context, threshold);
        if (ReadReceived(context) < threshold) return reply::kNone;
        return classify(std::span<const std::uint8_t>(context.rxBuffer), text.size());
    });
}

// Only the two given codes reach the caller; every other code becomes 8.
std::int16_t PassOnly(std::int16_t code, std::int16_t first, std::int16_t second) {
    return code == first || code == second ? code : reply::kNone;
}

}  // namespace

std::int16_t ClassifyReply(std::span<const std::uint8_t> rx, std::size_t k) {
    if (!HasBytes(rx, k, kPlainReplySize)) return reply::kNone;
    if (rx[k + 2] != kCr || rx[k + 3] != kLf) return reply::kNone;
    return MatchPair(kPlainPairs, rx[k], rx[k + 1]);
}

std::int16_t ClassifyFramedReply(std::span<const std::uint8_t> rx, std::size_t k) {
    if (!HasBytes(rx, k, kFramedReplySize)) return reply::kNone;
    if (rx[k] != kCr || rx[k + 1] != kLf || rx[k + 4] != kCr || rx[k + 5] != kLf) {
        return reply::kNone;
    }
    return MatchPair(kFramedPairs, rx[k + 2], rx[k + 3]);
}

std::int16_t IdentifyDevice(ExchangeContext& context) {
    constexpr std::string_view kText = "QZ~RQ-M5T\r";
    const std::int16_t code = RunTextCommand(context, RateChoice::kThreeRates, kText,
                                             kText.size() + kFramedReplySize, ClassifyFramedReply);
    return PassOnly(code, reply::kOk, reply::kRegionError);
}

std::int16_t EnterMode(ExchangeContext& context, std::int16_t mode) {
    struct ModeCommand {
        std::string_view text;
        RateChoice rates;
        std::size_t threshold;
    };
    // The line modes answer with 16 more bytes behind the 4-byte reply.
    static constexpr std::array<ModeCommand, 3> kModes{{
        {"QZ~E\r", RateChoice::kTwoRates, 25},
        {"FL\r", RateChoice::kTwoRates, 23},
        {"QZ~FLASH\r", RateChoice::kThreeRates, 13},
    }};
    if (mode < 0 || mode >= static_cast<std::int16_t>(kModes.size())) return reply::kNone;
    const ModeCommand& command = kModes[static_cast<std::size_t>(mode)];
    const std::int16_t code =
        RunTextCommand(context, command.rates, command.text, command.threshold, ClassifyReply);
    return PassOnly(code, reply::kOk, reply::kConnected);
}

std::int16_t PortControl(ExchangeContext& context) {
    // The device's answer lies at offset 8 only for a two-character pin: "QZ~P" pin digit CR.
    constexpr std::size_t kEchoLength = 8;
    const std::string pin = context.settings.PinText();
    const int action = context.settings.SelectedPortAction();
    const bool pinIsTwoAscii = pin.size() == 2 && static_cast<unsigned char>(pin[0]) < 0x80 &&
                               static_cast<unsigned char>(pin[1]) < 0x80;
    if (!pinIsTwoAscii || action < 0 || action > 3) return reply::kNone;
    const std::string text = "QZ~P" + pin + static_cast<char>('0' + action) + "\r";
    return RunTextCommand(context, RateChoice::kTwoRates, text, kEchoLength + kFramedReplySize,
                          ClassifyFramedReply);
}

}  // namespace rqm5
