// The RQ-M5 device as seen from its serial line: it consumes the bytes that arrive,
// one at a time, and says what goes back (echo, answer) and what else happens.
// No I/O and no clock here, so every behaviour can be tested by feeding bytes.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rqm5::devsim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kFlashBase = 0xC0000;
inline constexpr std::uint32_t kFlashSize = 0x40000;  // 0xC0000 .. 0xFFFFF
inline constexpr std::uint32_t kPageSize = 1024;
inline constexpr std::uint32_t kLastPage = kFlashBase + kFlashSize - kPageSize;
inline constexpr std::size_t kFrameSize = 1032;
inline constexpr std::size_t kLineRecordSize = 20;
inline constexpr std::size_t kLineRowSize = 16;
inline constexpr std::uint32_t kLineBankSize = 0x10000;
inline constexpr int kPinCount = 16;
// The 16 bytes that follow "OK" CR LF in the answers of the line modes.
inline constexpr std::string_view kAnswerTail = "RQ-M5 DEVSIM 1.0";
static_assert(kAnswerTail.size() == 16);

// Commands that a --no-reply fault makes the device ignore (echoed, not carried out,
// not answered), as if they never reached it.
struct IgnoredCommands {
    bool identification = false;
    bool flashMode = false;
    bool blockErase = false;
    bool end = false;
    bool allPages = false;
    std::set<std::uint32_t> pages;

    bool operator==(const IgnoredCommands&) const = default;
};

struct DeviceSettings {
    unsigned rate = 57600;  // the only line speed the device understands
    bool regionError = false;
    IgnoredCommands ignored;
    std::map<std::uint32_t, int> ngPageCounts;  // page address -> frames still to refuse
    bool garbage = false;
    bool noEcho = false;
    int hangUpAfterPages = 0;  // 0: never
    std::optional<std::uint16_t> copyDiffersAddress;
    bool lineNoAnswer = false;
    std::uint32_t lineBank = 0xF0000;
    std::array<bool, kPinCount> pinInputHigh{};
    std::chrono::milliseconds eraseTime{0};
    std::chrono::milliseconds programTime{0};
};

// What one received byte causes.
struct Reaction {
    std::optional<std::uint8_t> echo;
    Bytes answer;  // leaves after the echo, once processingTime has passed
    std::chrono::milliseconds processingTime{0};
    bool hangUp = false;        // the cable is pulled now; the answer is never sent
    bool flashSettled = false;  // a programming session ended: time to write the dump
    // One line per command or frame, "COMMAND [DETAILS] OUTCOME"; the forms are listed
    // in the --help text (usageText). Empty: nothing to log.
    std::string logLine;
};

class DeviceModel {
  public:
    enum class Mode { Text, Flash, Line0, Line1 };

    // flash holds kFlashSize bytes, the content of 0xC0000 .. 0xFFFFF.
    DeviceModel(DeviceSettings settings, Bytes flash);

    // lineRate is the speed the other end has set; any other than the device's own
    // makes the byte unintelligible.
    Reaction receive(std::uint8_t byte, unsigned lineRate);

    Mode mode() const { return mode_; }
    const Bytes& flash() const { return flash_; }
    int pagesProgrammed() const { return pagesProgrammed_; }

  private:
    enum class PinMode { Input, OutputLow, OutputHigh };
    struct PendingRow {
        std::uint16_t address;
        std::array<std::uint8_t, kLineRowSize> data;
    };

    void onTextByte(std::uint8_t byte, Reaction& reaction);
    void onTextCommand(std::string_view command, Reaction& reaction);
    void onPortCommand(std::string_view command, Reaction& reaction);
    void onFlashByte(std::uint8_t byte, Reaction& reaction);
    void onFrame(Reaction& reaction);
    void onEraseFrame(Reaction& reaction);
    void onPageFrame(Reaction& reaction);
    void onEndFrame(Reaction& reaction);
    void onLineByte(std::uint8_t byte, Reaction& reaction);
    void onLineRecord(std::span<const std::uint8_t, kLineRecordSize> record, Reaction& reaction);

    // Programs bytes at address with NOR flash rules; false (and nothing changed)
    // when a byte would need a 0 bit turned back into 1.
    bool program(std::uint32_t address, std::span<const std::uint8_t> data);
    void erase(std::uint32_t first, std::uint32_t last);

    Bytes plainAnswer(std::string_view code) const;
    Bytes framedAnswer(std::string_view code) const;
    Bytes lineAnswer(std::string_view code) const;

    DeviceSettings settings_;
    Bytes flash_;
    Mode mode_ = Mode::Text;
    unsigned reportedWrongRate_ = 0;

    static constexpr std::size_t kMaxCommandLength = 64;
    std::string command_;
    bool commandTooLong_ = false;

    std::array<std::uint8_t, kFrameSize> frame_{};
    std::size_t frameFill_ = 0;
    int pagesProgrammed_ = 0;

    std::array<std::uint8_t, 3 + kLineRecordSize> record_{};
    std::size_t recordFill_ = 0;
    std::optional<PendingRow> pendingRow_;
    bool copyDiffersUsed_ = false;

    std::array<PinMode, kPinCount> pins_{};
};

// Upper-case hex of value, at least `digits` digits.
std::string hexText(std::uint32_t value, int digits);

}  // namespace rqm5::devsim
