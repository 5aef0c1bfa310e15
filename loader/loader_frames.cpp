#include "loader/loader_frames.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace rqm5 {
namespace {

// The echo of the second half (520 bytes) plus the reply: a reply is read only with the whole echo.
constexpr std::size_t kSecondHalfThreshold = kLongFrameSize - kFirstHalfSize + kLoaderReplySize;

// What an earlier attempt of the same exchange left unread (the echo of a frame that got no reply)
// would stand ahead of this transfer's echo and push its reply off its offset: a correct answer
// would then count as a failed attempt. The port was opened empty, so only such remains go.
void DiscardLeftovers(SerialPort& port) {
    if (port.BytesWaiting() > 0) port.ReadAll();
}

// Mode 2: one deadline for both halves; each wait reads only once its threshold is waiting.
std::int16_t TransferLongFrame(LoaderContext& context) {
    SerialPort& port = context.port;
    SelectLineSetting(context, RateChoice::kThreeRates);
    const std::span<const std::uint8_t> frame(context.frames.txFrame);
    std::vector<std::uint8_t> received;
    std::size_t count = 0;
    DiscardLeftovers(port);

    auto waitAndRead = [&](std::size_t until, std::size_t threshold, Millis deadline) {
        while (count < until && port.Now() < deadline) {
            if (!port.WaitUntilWaiting(threshold, deadline)) break;
            count += port.BytesWaiting();
            const std::vector<std::uint8_t> bytes = port.ReadAll();
            received.insert(received.end(), bytes.begin(), bytes.end());
        }
    };

    port.Write(frame.first(kFirstHalfSize));
    const Millis deadline = port.Now() + kReplyTimeout;
    waitAndRead(kFirstHalfSize, kFirstHalfSize, deadline);
    port.Write(frame.subspan(kFirstHalfSize));
    waitAndRead(kLongFrameThreshold, kSecondHalfThreshold, deadline);

    context.rxBuffer = std::move(received);
    return CountResult(count);
}

// Writes `record` and waits for the echo and answer, as a text command does.
std::int16_t TransferRecord(LoaderContext& context, std::span<const std::uint8_t> record,
                            std::size_t minimumCount) {
    DiscardLeftovers(context.port);
    context.port.Write(record);
    WaitForBytes(context, minimumCount);
    return CountResult(ReadReceived(context));
}

}  // namespace

std::uint8_t FrameChecksum(std::span<const std::uint8_t> frame) {
    if (frame.size() < 3) return 0;
    const std::uint32_t sum = std::accumulate(frame.begin() + 2, frame.end() - 1, std::uint32_t{0});
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void StartFrame(std::span<std::uint8_t> frame, char first, char second) {
    frame[0] = 0xFF;
    frame[1] = 0xFE;
    frame[2] = static_cast<std::uint8_t>(first);
    frame[3] = static_cast<std::uint8_t>(second);
}

void SealFrame(std::span<std::uint8_t> frame) {
    frame.back() = FrameChecksum(frame);
}

std::int16_t TransferFrame(LoaderContext& context, std::int16_t mode) {
    LoaderFrames& frames = context.frames;
    switch (mode) {
        case kLineMode:
            SelectLineSetting(context, RateChoice::kTwoRates);
            return TransferRecord(context, frames.lineFrame, kRecordShapes[0].minimumCount);
        case kCommandLineMode:
            SelectLineSetting(context, RateChoice::kTwoRates);
            frames.cmdFrame[0] = 'C';
            frames.cmdFrame[1] = 'L';
            frames.cmdFrame[2] = '~';
            std::copy(frames.lineFrame.begin(), frames.lineFrame.end(),
                      frames.cmdFrame.begin() + 3);
            return TransferRecord(context, frames.cmdFrame, kRecordShapes[1].minimumCount);
        case kFrameMode:
            return TransferLongFrame(context);
        default:
            return 0;
    }
}

std::int16_t TransferShortFrame(LoaderContext& context) {
    SelectLineSetting(context, RateChoice::kThreeRates);
    return TransferRecord(context, std::span(context.frames.txFrame).first(kShortFrameSize),
                          kRecordShapes[2].minimumCount);
}

}  // namespace rqm5
