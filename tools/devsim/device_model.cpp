#include "device_model.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace rqm5::devsim {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;
// A byte sent at the wrong speed arrives as some other byte.
constexpr std::uint8_t kWrongRateGarble = 0x55;

struct EraseBlock {
    std::uint32_t first;
    std::uint32_t last;
    // Blocks are named by their highest even address.
    std::uint32_t entry() const { return last - 1; }
};

constexpr std::array<EraseBlock, 9> kEraseBlocks{{
    {0xFE000, 0xFEFFF},
    {0xFC000, 0xFDFFF},
    {0xFA000, 0xFBFFF},
    {0xF8000, 0xF9FFF},
    {0xF0000, 0xF7FFF},
    {0xE0000, 0xEFFFF},
    {0xD0000, 0xDFFFF},
    {0xC0000, 0xCFFFF},
    {0xFF000, 0xFFFFF},
}};
constexpr std::size_t kEraseEntryCount = 9;
constexpr std::uint32_t kEndOfEraseList = 0xFFFFFFFF;

constexpr std::string_view kIdentifyCommand = "QZ~RQ-M5T";
constexpr std::string_view kFlashModeCommand = "QZ~FLASH";
constexpr std::string_view kLineMode0Command = "QZ~E";
constexpr std::string_view kLineMode1Command = "FL";
constexpr std::string_view kPortCommandPrefix = "QZ~P";
constexpr std::string_view kLineMode1Prefix = "CL~";

// Text for the log: printable characters as they are, everything else as \xNN,
// so a log line never holds a space or control character from the line.
std::string escaped(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (byte > 0x20 && byte < 0x7F && byte != '\\') {
            text.push_back(static_cast<char>(byte));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
            text += buffer;
        }
    }
    return text.empty() ? std::string("(empty)") : text;
}

std::string escaped(std::string_view text) {
    return escaped(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

bool startsWith(std::span<const std::uint8_t> bytes, std::array<std::uint8_t, 4> head) {
    return std::equal(head.begin(), head.end(), bytes.begin());
}

std::string rangeText(std::uint32_t first, std::uint32_t last) {
    return hexText(first, 5) + "-" + hexText(last, 5);
}

}  // namespace

std::string hexText(std::uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(value));
    return buffer;
}

DeviceModel::DeviceModel(DeviceSettings settings, Bytes flash)
    : settings_(std::move(settings)), flash_(std::move(flash)) {
    if (flash_.size() != kFlashSize) {
        throw std::invalid_argument("flash content must be 256 KiB");
    }
    pins_.fill(PinMode::Input);
    command_.reserve(kMaxCommandLength);
}

Reaction DeviceModel::receive(std::uint8_t byte, unsigned lineRate) {
    Reaction reaction;
    if (lineRate != settings_.rate) {
        if (reportedWrongRate_ != lineRate) {
            reportedWrongRate_ = lineRate;
            reaction.logLine = "WRONG-RATE " + std::to_string(lineRate);
        }
        if (!settings_.noEcho) {
            reaction.echo = static_cast<std::uint8_t>(byte ^ kWrongRateGarble);
        }
        return reaction;
    }
    reportedWrongRate_ = 0;
    if (!settings_.noEcho) {
        reaction.echo = byte;
    }
    switch (mode_) {
        case Mode::Text:
            onTextByte(byte, reaction);
            break;
        case Mode::Flash:
            onFlashByte(byte, reaction);
            break;
        case Mode::Line0:
        case Mode::Line1:
            onLineByte(byte, reaction);
            break;
    }
    return reaction;
}

// ---- text commands -------------------------------------------------------------

void DeviceModel::onTextByte(std::uint8_t byte, Reaction& reaction) {
    if (byte != kCr) {
        if (command_.size() < kMaxCommandLength) {
            command_.push_back(static_cast<char>(byte));
        } else {
            commandTooLong_ = true;
        }
        return;
    }
    if (commandTooLong_) {
        reaction.logLine = "TEXT " + escaped(command_) + "... ng";
        reaction.answer = plainAnswer("NG");
    } else {
        onTextCommand(command_, reaction);
    }
    command_.clear();
    commandTooLong_ = false;
}

void DeviceModel::onTextCommand(std::string_view command, Reaction& reaction) {
    if (command == kIdentifyCommand) {
        if (settings_.ignored.identification) {
            reaction.logLine = "ID silent";
            return;
        }
        reaction.logLine = settings_.regionError ? "ID re" : "ID ok";
        reaction.answer = framedAnswer(settings_.regionError ? "RE" : "OK");
    } else if (command == kFlashModeCommand) {
        if (settings_.ignored.flashMode) {
            reaction.logLine = "FLASH silent";
            return;
        }
        mode_ = Mode::Flash;
        frameFill_ = 0;
        reaction.logLine = "FLASH ok";
        reaction.answer = plainAnswer("CT");
    } else if (command == kLineMode0Command || command == kLineMode1Command) {
        mode_ = command == kLineMode0Command ? Mode::Line0 : Mode::Line1;
        recordFill_ = 0;
        pendingRow_.reset();
        reaction.logLine = mode_ == Mode::Line0 ? "MODE0 ok" : "MODE1 ok";
        reaction.answer = lineAnswer("OK");
    } else if (command.starts_with(kPortCommandPrefix)) {
        onPortCommand(command, reaction);
    } else {
        reaction.logLine = "TEXT " + escaped(command) + " ng";
        reaction.answer = plainAnswer("NG");
    }
}

// "QZ~P", two decimal pin digits "00".."15", an action digit 0..3.
void DeviceModel::onPortCommand(std::string_view command, Reaction& reaction) {
    std::string_view rest = command.substr(kPortCommandPrefix.size());
    auto refuse = [&] {
        reaction.logLine = "PORT " + escaped(rest) + " ng";
        reaction.answer = framedAnswer("NG");
    };
    if (rest.size() != 3) {
        return refuse();
    }
    const char tens = rest[0], ones = rest[1], action = rest[2];
    const bool digits = tens >= '0' && tens <= '9' && ones >= '0' && ones <= '9';
    const int pin = (tens - '0') * 10 + (ones - '0');
    if (!digits || pin >= kPinCount || action < '0' || action > '3') {
        return refuse();
    }
    PinMode& mode = pins_[static_cast<std::size_t>(pin)];
    switch (action) {
        case '0':
            mode = PinMode::OutputLow;
            break;
        case '1':
            mode = PinMode::OutputHigh;
            break;
        case '2':
            mode = PinMode::Input;
            break;
        default:  // '3' reads and changes nothing
            break;
    }
    std::string_view code;
    switch (mode) {
        case PinMode::OutputLow:
            code = "00";
            break;
        case PinMode::OutputHigh:
            code = "01";
            break;
        case PinMode::Input:
            code = settings_.pinInputHigh[static_cast<std::size_t>(pin)] ? "03" : "02";
            break;
    }
    reaction.logLine =
        "PORT " + std::string(rest.substr(0, 2)) + " " + action + " " + std::string(code);
    reaction.answer = framedAnswer(code);
}

// ---- flash mode: 1032-byte frames -------------------------------------------------

void DeviceModel::onFlashByte(std::uint8_t byte, Reaction& reaction) {
    // Hunt for the FF FE header; a run of FF may precede it.
    if (frameFill_ == 0) {
        if (byte == 0xFF) {
            frame_[frameFill_++] = byte;
        }
        return;
    }
    if (frameFill_ == 1) {
        if (byte == 0xFE) {
            frame_[frameFill_++] = byte;
        } else if (byte != 0xFF) {
            frameFill_ = 0;
        }
        return;
    }
    frame_[frameFill_++] = byte;
    if (frameFill_ == kFrameSize) {
        frameFill_ = 0;
        onFrame(reaction);
    }
}

void DeviceModel::onFrame(Reaction& reaction) {
    const unsigned sum = std::accumulate(frame_.begin() + 2, frame_.end() - 1, 0u);
    const std::string letters = escaped(std::span(frame_).subspan(2, 2));
    if ((sum & 0xFF) != frame_[kFrameSize - 1]) {
        reaction.logLine = "FRAME " + letters + " checksum ng";
        reaction.answer = plainAnswer("NG");
        return;
    }
    if (frame_[2] == 'B' && frame_[3] == 'E') {
        onEraseFrame(reaction);
    } else if (frame_[2] == 'P' && frame_[3] == 'G') {
        onPageFrame(reaction);
    } else if (frame_[2] == 'E' && frame_[3] == 'D') {
        onEndFrame(reaction);
    } else {
        reaction.logLine = "FRAME " + letters + " unknown ng";
        reaction.answer = plainAnswer("NG");
    }
}

void DeviceModel::onEraseFrame(Reaction& reaction) {
    if (settings_.ignored.blockErase) {
        reaction.logLine = "BE silent";
        return;
    }
    std::vector<const EraseBlock*> blocks;
    for (std::size_t i = 0; i < kEraseEntryCount; ++i) {
        const std::uint32_t entry = bigEndian32(&frame_[4 + 4 * i]);
        if (entry == kEndOfEraseList) {
            break;
        }
        auto block = std::find_if(kEraseBlocks.begin(), kEraseBlocks.end(),
                                  [entry](const EraseBlock& b) { return b.entry() == entry; });
        if (block == kEraseBlocks.end()) {
            reaction.logLine = "BE " + hexText(entry, 8) + " unknown ng";
            reaction.answer = plainAnswer("NG");
            return;
        }
        blocks.push_back(&*block);
    }
    std::string list;
    for (const EraseBlock* block : blocks) {
        erase(block->first, block->last);
        list += (list.empty() ? "" : ",") + rangeText(block->first, block->last);
    }
    reaction.logLine = "BE " + (list.empty() ? std::string("none") : list) + " ok";
    reaction.answer = plainAnswer("BE");
    reaction.processingTime = settings_.eraseTime;
}

void DeviceModel::onPageFrame(Reaction& reaction) {
    const std::uint32_t address =
        std::uint32_t{frame_[4]} << 16 | std::uint32_t{frame_[5]} << 8 | frame_[6];
    const std::string name = "PG " + hexText(address, 5);
    auto refuse = [&](std::string_view why) {
        reaction.logLine = name + std::string(why) + " ng";
        reaction.answer = plainAnswer("NG");
    };
    if (settings_.ignored.allPages || settings_.ignored.pages.contains(address)) {
        reaction.logLine = name + " silent";
        return;
    }
    if (address < kFlashBase || address > kLastPage || address % kPageSize != 0) {
        return refuse(" bad-address");
    }
    if (auto forced = settings_.ngPageCounts.find(address);
        forced != settings_.ngPageCounts.end() && forced->second > 0) {
        --forced->second;
        return refuse(" forced");
    }
    if (!program(address, std::span(frame_).subspan(7, kPageSize))) {
        return refuse(" not-erased");
    }
    ++pagesProgrammed_;
    reaction.logLine = name + " ok";
    reaction.processingTime = settings_.programTime;
    if (settings_.hangUpAfterPages > 0 && pagesProgrammed_ == settings_.hangUpAfterPages) {
        reaction.hangUp = true;
        return;
    }
    reaction.answer = plainAnswer("PG");
}

void DeviceModel::onEndFrame(Reaction& reaction) {
    if (settings_.ignored.end) {
        reaction.logLine = "ED silent";
        return;
    }
    mode_ = Mode::Text;
    reaction.logLine = "ED ok";
    reaction.answer = plainAnswer("ED");
    reaction.flashSettled = true;
}

// ---- line modes: 20-byte records, in mode 1 behind "CL~" ---------------------------

void DeviceModel::onLineByte(std::uint8_t byte, Reaction& reaction) {
    const std::size_t prefixLength = mode_ == Mode::Line1 ? kLineMode1Prefix.size() : 0;
    if (recordFill_ < prefixLength) {
        // Hunt for "CL~"; a stray byte restarts the hunt.
        if (byte == static_cast<std::uint8_t>(kLineMode1Prefix[recordFill_])) {
            record_[recordFill_++] = byte;
        } else {
            recordFill_ = byte == static_cast<std::uint8_t>(kLineMode1Prefix[0]) ? 1 : 0;
        }
        return;
    }
    record_[recordFill_++] = byte;
    if (recordFill_ == prefixLength + kLineRecordSize) {
        recordFill_ = 0;
        onLineRecord(std::span(record_).subspan(prefixLength).first<kLineRecordSize>(), reaction);
    }
}

void DeviceModel::onLineRecord(std::span<const std::uint8_t, kLineRecordSize> record,
                               Reaction& reaction) {
    const std::string name = mode_ == Mode::Line0 ? "LINE0 " : "LINE1 ";
    const std::uint32_t bank = settings_.lineBank;
    if (startsWith(record, {0x01, 0x01, 0x0D, 0x0A})) {
        // The whole bank goes, as the record names no block.
        erase(bank, bank + kLineBankSize - 1);
        reaction.logLine = name + "ERASE " + rangeText(bank, bank + kLineBankSize - 1) + " ok";
        reaction.answer = lineAnswer("OK");
    } else if (startsWith(record, {0x00, 0x00, 0x0D, 0x0A})) {
        mode_ = Mode::Text;
        pendingRow_.reset();
        reaction.logLine = name + "END ok";
        reaction.answer = lineAnswer("OK");
        reaction.flashSettled = true;
    } else if (startsWith(record, {'O', 'K', 0x0D, 0x0A})) {
        if (!pendingRow_) {
            reaction.logLine = name + "OK none ok";
            reaction.answer = lineAnswer("OK");
        } else {
            const std::uint32_t address = bank + pendingRow_->address;
            const bool done = program(address, pendingRow_->data);
            pendingRow_.reset();
            reaction.logLine =
                name + "OK " + hexText(address, 5) + (done ? " ok" : " not-erased ng");
            reaction.answer = lineAnswer(done ? "OK" : "NG");
        }
    } else if (startsWith(record, {'N', 'G', 0x0D, 0x0A})) {
        // The other end does not read an answer to NG, so none is sent.
        pendingRow_.reset();
        reaction.logLine = name + "NG dropped";
        return;
    } else {
        PendingRow row{static_cast<std::uint16_t>(record[0] << 8 | record[1]), {}};
        std::copy_n(record.begin() + 2, kLineRowSize, row.data.begin());
        pendingRow_ = row;
        reaction.answer.assign(record.begin(), record.end());
        std::string outcome = " ok";
        if (settings_.garbage) {
            std::fill(reaction.answer.begin(), reaction.answer.end(), 'X');
        } else if (settings_.copyDiffersAddress == row.address && !copyDiffersUsed_) {
            copyDiffersUsed_ = true;
            reaction.answer.back() ^= 0xFF;
            outcome = " differs";
        }
        reaction.logLine = name + "DATA " + hexText(bank + row.address, 5) + outcome;
    }
    if (settings_.lineNoAnswer) {
        reaction.answer.clear();
        reaction.logLine = reaction.logLine.substr(0, reaction.logLine.rfind(' ')) + " silent";
    }
}

// ---- flash cells ---------------------------------------------------------------

bool DeviceModel::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (address < kFlashBase || address - kFlashBase + data.size() > kFlashSize) {
        return false;
    }
    auto cells = flash_.begin() + (address - kFlashBase);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t cell = cells[static_cast<std::ptrdiff_t>(i)];
        if (data[i] != 0xFF && cell != 0xFF && cell != data[i]) {
            return false;
        }
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        cells[static_cast<std::ptrdiff_t>(i)] &= data[i];
    }
    return true;
}

void DeviceModel::erase(std::uint32_t first, std::uint32_t last) {
    std::fill(flash_.begin() + (first - kFlashBase), flash_.begin() + (last - kFlashBase) + 1,
              0xFF);
}

// ---- answers -------------------------------------------------------------------

Bytes DeviceModel::plainAnswer(std::string_view code) const {
    if (settings_.garbage) {
        code = "XX";
    }
    return {static_cast<std::uint8_t>(code[0]), static_cast<std::uint8_t>(code[1]), kCr, kLf};
}

Bytes DeviceModel::framedAnswer(std::string_view code) const {
    Bytes answer{kCr, kLf};
    const Bytes plain = plainAnswer(code);
    answer.insert(answer.end(), plain.begin(), plain.end());
    return answer;
}

Bytes DeviceModel::lineAnswer(std::string_view code) const {
    Bytes answer = plainAnswer(code);
    answer.insert(answer.end(), kAnswerTail.begin(), kAnswerTail.end());
    return answer;
}

}  // namespace rqm5::devsim
