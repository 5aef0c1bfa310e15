#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/memory_image.h"
#include "link/serial_exchange.h"

namespace rqm5 {

// Long loader frame: FF FE, two letters, 1027 payload bytes, checksum.
inline constexpr std::size_t kLongFrameSize = 1032;
// Short loader frame: FF FE, two letters, 20 payload bytes, checksum.
inline constexpr std::size_t kShortFrameSize = 25;
inline constexpr std::size_t kLineRecordSize = 20;
// "C" "L" "~" in front of a line record.
inline constexpr std::size_t kCommandRecordSize = 23;
inline constexpr std::size_t kFramePayloadStart = 4;

// A long frame goes out in two halves, so that no write exceeds the port's 520-byte send buffer.
inline constexpr std::size_t kFirstHalfSize = 512;
inline constexpr std::size_t kLoaderReplySize = 4;
// The echo of the whole long frame plus the 4-byte reply: where a long frame's reply starts.
inline constexpr std::size_t kLongReplyOffset = kLongFrameSize;
inline constexpr std::size_t kLongFrameThreshold = kLongFrameSize + kLoaderReplySize;

// Transfer modes: the loader mode that EnterMode set up on the device.
inline constexpr std::int16_t kLineMode = 0;
inline constexpr std::int16_t kCommandLineMode = 1;
inline constexpr std::int16_t kFrameMode = 2;

// How a record of one mode travels: its echo length (where the reply starts in rxBuffer) and the
// count that must be reached before the reply is examined.
struct RecordShape {
    std::size_t replyOffset;
    std::size_t minimumCount;
};
// Modes 0 and 1 send a line record (20 or 23 bytes) answered by 20 bytes; mode 2 a short frame
// answered by a 4-byte reply. Not defined for other modes.
inline constexpr std::array<RecordShape, 3> kRecordShapes{{
    {kLineRecordSize, kLineRecordSize + 20},
    {kCommandRecordSize, kCommandRecordSize + 20},
    {kShortFrameSize, kShortFrameSize + kLoaderReplySize},
}};

inline bool IsTransferMode(std::int16_t mode) {
    return mode >= kLineMode && mode <= kFrameMode;
}

// The send buffers. They keep their bytes between uses: a builder overwrites only what it sets.
struct LoaderFrames {
    std::array<std::uint8_t, kLongFrameSize> txFrame{};
    std::array<std::uint8_t, kLineRecordSize> lineFrame{};
    std::array<std::uint8_t, kCommandRecordSize> cmdFrame{};
};

// An exchange with the loader: the port and receive buffer, the send buffers and the image.
struct LoaderContext : ExchangeContext {
    LoaderContext(SerialPort& port, const ExchangeSettings& settings, const MemoryImage& image)
        : ExchangeContext(port, settings), image(image) {}

    const MemoryImage& image;
    LoaderFrames frames;
};

// Sum modulo 256 of the bytes from the first command letter up to the byte before the checksum.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> frame);
// Writes FF FE and the two letters at the front of `frame` (long or short).
void StartFrame(std::span<std::uint8_t> frame, char first, char second);
// Stores the checksum in the frame's last byte.
void SealFrame(std::span<std::uint8_t> frame);

// Sends one record on the open port and collects the echo and reply into rxBuffer; returns the
// count of bytes received as the port reported them. Mode 2: the 1032 bytes of txFrame in two
// writes under one 5000 ms deadline, ending once 1036 bytes have come. Modes 0 and 1: lineFrame,
// or "CL~" and lineFrame, then a wait for the echo and the 20-byte answer. Any other mode sends
// nothing and returns 0. Port failures are thrown to the calling exchange.
std::int16_t TransferFrame(LoaderContext& context, std::int16_t mode);
// Sends the short frame in txFrame 0..24 and waits for its echo and 4-byte reply.
std::int16_t TransferShortFrame(LoaderContext& context);

}  // namespace rqm5
