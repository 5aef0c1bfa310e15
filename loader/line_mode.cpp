#include "loader/line_mode.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "link/text_commands.h"
#include "loader/flash_commands.h"

namespace rqm5 {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;

std::span<std::uint8_t, kShortFrameSize> ShortFrame(LoaderFrames& frames) {
    return std::span(frames.txFrame).first<kShortFrameSize>();
}

// Starts a short frame with every payload byte 0.
void StartShortFrame(LoaderFrames& frames, char first, char second) {
    auto frame = ShortFrame(frames);
    StartFrame(frame, first, second);
    std::fill(frame.begin() + kFramePayloadStart, frame.end(), std::uint8_t{0});
}

void SetLineHead(LoaderFrames& frames, std::uint8_t a, std::uint8_t b) {
    frames.lineFrame[0] = a;
    frames.lineFrame[1] = b;
    frames.lineFrame[2] = kCr;
    frames.lineFrame[3] = kLf;
}

// Sends the record built for `mode` and returns the reply code, or nothing when the count fell
// short of the mode's minimum.
std::optional<std::int16_t> SendRecord(LoaderContext& context, std::int16_t mode) {
    const RecordShape shape = kRecordShapes[static_cast<std::size_t>(mode)];
    const std::int16_t count =
        mode == kFrameMode ? TransferShortFrame(context) : TransferFrame(context, mode);
    if (count < static_cast<std::int16_t>(shape.minimumCount)) return std::nullopt;
    return ClassifyReply(context.rxBuffer, shape.replyOffset);
}

// One attempt at one row; true when the device took it.
bool WriteRowOnce(LoaderContext& context, std::int16_t mode, std::uint32_t row) {
    BuildWriteFrame(context.frames, context.image, mode, row);
    if (mode == kFrameMode) {
        const auto code = SendRecord(context, mode);
        return code == reply::kOk || code == reply::kProgrammed;
    }
    const RecordShape shape = kRecordShapes[static_cast<std::size_t>(mode)];
    if (TransferFrame(context, mode) < static_cast<std::int16_t>(shape.minimumCount)) return false;
    if (EchoMatches(context, shape.replyOffset) != 1) {
        // The device discards the row; its answer to NG does not matter.
        BuildNgFrame(context.frames);
        TransferFrame(context, mode);
        return false;
    }
    BuildOkFrame(context.frames);
    return SendRecord(context, mode) == reply::kOk;
}

}  // namespace

void BuildWriteFrame(LoaderFrames& frames, const MemoryImage& image, std::int16_t mode,
                     std::uint32_t row) {
    if (!MemoryImage::RowInImage(row)) throw std::out_of_range("row outside the image");
    const std::uint32_t address = row * kColumns;
    if (mode == kFrameMode) {
        StartShortFrame(frames, 'P', 'G');
        auto frame = ShortFrame(frames);
        frame[4] = static_cast<std::uint8_t>(address >> 24);
        frame[5] = static_cast<std::uint8_t>(address >> 16);
        frame[6] = static_cast<std::uint8_t>(address >> 8);
        frame[7] = static_cast<std::uint8_t>(address);
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            frame[8 + column] = image.Cell(row, column);
        }
        SealFrame(frame);
        return;
    }
    frames.lineFrame[0] = static_cast<std::uint8_t>(address >> 8);
    frames.lineFrame[1] = static_cast<std::uint8_t>(address);
    for (std::uint32_t column = 0; column < kColumns; ++column) {
        frames.lineFrame[2 + column] = image.Cell(row, column);
    }
}

void BuildEraseFrame(LoaderFrames& frames, std::int16_t mode, std::int16_t block) {
    if (mode == kLineMode || mode == kCommandLineMode) {
        SetLineHead(frames, 0x01, 0x01);
    } else if (mode == kFrameMode) {
        if (block < 0 || block > 0xFF) throw std::out_of_range("erase block number");
        StartShortFrame(frames, 'B', 'E');
        frames.txFrame[4] = static_cast<std::uint8_t>(block);
        SealFrame(ShortFrame(frames));
    }
}

void BuildEndFrame(LoaderFrames& frames, std::int16_t mode) {
    if (mode == kLineMode || mode == kCommandLineMode) {
        SetLineHead(frames, 0x00, 0x00);
    } else if (mode == kFrameMode) {
        StartShortFrame(frames, 'E', 'D');
        SealFrame(ShortFrame(frames));
    }
}

void BuildOkFrame(LoaderFrames& frames) {
    SetLineHead(frames, 'O', 'K');
}

void BuildNgFrame(LoaderFrames& frames) {
    SetLineHead(frames, 'N', 'G');
}

std::int16_t EchoMatches(const LoaderContext& context, std::size_t offset) {
    const std::vector<std::uint8_t>& rx = context.rxBuffer;
    const auto& record = context.frames.lineFrame;
    if (offset > rx.size() || rx.size() - offset < record.size()) return -1;
    return std::equal(record.begin(), record.end(),
                      rx.begin() + static_cast<std::ptrdiff_t>(offset))
               ? 1
               : 0;
}

bool MarkedLineRowsInOneBank(const MemoryImage& image) {
    std::optional<std::uint32_t> bank;
    for (std::uint32_t row = kFirstRow; row <= kLastLineModeRow; ++row) {
        if (!image.IsLineUsed(row)) continue;
        if (!bank) bank = row / kRowsPerBank;
        if (*bank != row / kRowsPerBank) return false;
    }
    return true;
}

std::int16_t LineCommand(LoaderContext& context, std::string_view command, std::int16_t mode,
                         std::int16_t block) {
    if (!IsTransferMode(mode)) return kAttemptsExhausted;
    const RateChoice rates = mode == kFrameMode ? RateChoice::kThreeRates : RateChoice::kTwoRates;
    return RunExchange(context, rates, kLoaderPortFailure, [&]() -> std::int16_t {
        if (command == "ERASE") {
            BuildEraseFrame(context.frames, mode, block);
        } else if (command == "END") {
            BuildEndFrame(context.frames, mode);
        } else {
            return kAttemptsExhausted;
        }
        for (int attempt = 0; attempt < kLineAttempts; ++attempt) {
            const auto code = SendRecord(context, mode);
            if (code == reply::kOk || code == reply::kEnd || code == reply::kErased) return *code;
        }
        return kAttemptsExhausted;
    });
}

std::int16_t WriteLines(LoaderContext& context, std::int16_t mode,
                        const std::function<void(std::uint32_t row)>& rowStarted) {
    if (!IsTransferMode(mode)) return kAttemptsExhausted;
    // Mode 2 frames carry the full address; the line records only its low 16 bits.
    if (mode != kFrameMode && !MarkedLineRowsInOneBank(context.image)) return kLoaderPortFailure;
    const RateChoice rates = mode == kFrameMode ? RateChoice::kThreeRates : RateChoice::kTwoRates;
    return RunExchange(context, rates, kLoaderPortFailure, [&]() -> std::int16_t {
        for (std::uint32_t row = kFirstRow; row <= kLastLineModeRow; ++row) {
            if (rowStarted) rowStarted(row);
            if (!context.image.IsLineUsed(row)) continue;
            int attempt = 0;
            while (!WriteRowOnce(context, mode, row)) {
                if (++attempt == kLineAttempts) return kAttemptsExhausted;
            }
        }
        return reply::kOk;
    });
}

}  // namespace rqm5
