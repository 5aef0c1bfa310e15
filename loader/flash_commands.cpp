#include "loader/flash_commands.h"

#include <algorithm>
#include <array>

#include "link/text_commands.h"

namespace rqm5 {
namespace {

constexpr std::uint32_t kLastPageRowNormal = 0xFEC0;
constexpr std::uint32_t kLastPageRowService = 0xFFC0;

// Highest even address of each erase block; the last one only with the service code.
constexpr std::array<std::uint32_t, 9> kEraseBlockEntries{
    0x0FEFFE, 0x0FDFFE, 0x0FBFFE, 0x0F9FFE, 0x0F7FFE, 0x0EFFFE, 0x0DFFFE, 0x0CFFFE, 0x0FFFFE};

void PutBigEndian32(std::span<std::uint8_t> at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

// Starts a long frame with every payload byte 0xFF.
void StartLongFrame(std::span<std::uint8_t, kLongFrameSize> frame, char first, char second) {
    StartFrame(frame, first, second);
    std::fill(frame.begin() + kFramePayloadStart, frame.end(), kErased);
}

// Sends the frame in txFrame until one of the two accepted codes comes back or the attempts run
// out; `rebuild` refills txFrame before every attempt.
template <typename Rebuild>
std::int16_t SendUntilAccepted(LoaderContext& context, int attempts, std::int16_t acceptedA,
                               std::int16_t acceptedB, Rebuild rebuild) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        rebuild();
        const std::int16_t count = TransferFrame(context, kFrameMode);
        if (count < static_cast<std::int16_t>(kLongFrameThreshold)) continue;
        const std::int16_t code = ClassifyReply(context.rxBuffer, kLongReplyOffset);
        if (code == acceptedA || code == acceptedB) return code;
    }
    return kAttemptsExhausted;
}

}  // namespace

std::uint32_t LastPageRow(bool serviceCode) {
    return serviceCode ? kLastPageRowService : kLastPageRowNormal;
}

void BuildBlockEraseFrame(std::span<std::uint8_t, kLongFrameSize> frame, bool serviceCode) {
    StartLongFrame(frame, 'B', 'E');
    const std::size_t entries =
        serviceCode ? kEraseBlockEntries.size() : kEraseBlockEntries.size() - 1;
    for (std::size_t i = 0; i < entries; ++i) {
        PutBigEndian32(frame.subspan(kFramePayloadStart + 4 * i, 4), kEraseBlockEntries[i]);
    }
    SealFrame(frame);
}

void BuildPageFrame(std::span<std::uint8_t, kLongFrameSize> frame, const MemoryImage& image,
                    std::uint32_t firstRow) {
    StartFrame(frame, 'P', 'G');
    const std::uint32_t address = firstRow * kColumns;
    frame[4] = static_cast<std::uint8_t>(address >> 16);
    frame[5] = static_cast<std::uint8_t>(address >> 8);
    frame[6] = static_cast<std::uint8_t>(address);
    std::size_t index = 7;
    for (std::uint32_t row = firstRow; row < firstRow + kRowsPerPage; ++row) {
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            frame[index++] = image.Cell(row, column);
        }
    }
    SealFrame(frame);
}

void BuildLoaderEndFrame(std::span<std::uint8_t, kLongFrameSize> frame) {
    StartLongFrame(frame, 'E', 'D');
    SealFrame(frame);
}

std::int16_t EraseBlocks(LoaderContext& context) {
    return RunExchange(context, RateChoice::kThreeRates, kLoaderPortFailure, [&] {
        BuildBlockEraseFrame(context.frames.txFrame, IsServiceCode(context.settings.PinText()));
        return SendUntilAccepted(context, kEraseAttempts, reply::kOk, reply::kErased, [] {});
    });
}

std::int16_t WritePages(LoaderContext& context,
                        const std::function<void(std::uint32_t row)>& pageStarted) {
    return RunExchange(context, RateChoice::kThreeRates, kLoaderPortFailure, [&] {
        const std::uint32_t lastPageRow = LastPageRow(IsServiceCode(context.settings.PinText()));
        for (std::uint32_t row = kFirstRow; row <= lastPageRow; row += kRowsPerPage) {
            if (pageStarted) pageStarted(row);
            if (!context.image.PageHasData(row)) continue;
            const std::int16_t code = SendUntilAccepted(
                context, kPageAttempts, reply::kOk, reply::kProgrammed,
                [&] { BuildPageFrame(context.frames.txFrame, context.image, row); });
            if (code == kAttemptsExhausted) return kAttemptsExhausted;
        }
        return reply::kOk;
    });
}

std::int16_t EndLoader(LoaderContext& context) {
    return RunExchange(context, RateChoice::kThreeRates, kLoaderPortFailure, [&] {
        BuildLoaderEndFrame(context.frames.txFrame);
        return SendUntilAccepted(context, kEndAttempts, reply::kOk, reply::kEnd, [] {});
    });
}

}  // namespace rqm5
