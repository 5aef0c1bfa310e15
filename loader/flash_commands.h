#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "loader/loader_frames.h"

namespace rqm5 {

// The pin-number box holding exactly this text (case-sensitive, nothing around it) adds the top
// 4 KB block, 0xFF000..0xFFFFF, to what is erased and programmed.
inline constexpr std::string_view kServiceCode = "TORNADO";
inline bool IsServiceCode(std::string_view pinText) {
    return pinText == kServiceCode;
}

// The loader procedures' own results besides the accepted reply codes.
inline constexpr std::int16_t kAttemptsExhausted = 1;
inline constexpr std::int16_t kLoaderPortFailure = -1;

inline constexpr int kEraseAttempts = 3;
inline constexpr int kPageAttempts = 10;
inline constexpr int kEndAttempts = 10;

// The first row of the last page programmed: 0xFEC0, or 0xFFC0 with the service code.
std::uint32_t LastPageRow(bool serviceCode);

// Long frames in `frame` (1032 bytes), checksum included.
// "BE": the nine erase blocks, each by its highest even address; entry 9 only with the service
// code.
void BuildBlockEraseFrame(std::span<std::uint8_t, kLongFrameSize> frame, bool serviceCode);
// "PG": the 24-bit address of the page that starts at `firstRow`, then its 64 rows from the image.
void BuildPageFrame(std::span<std::uint8_t, kLongFrameSize> frame, const MemoryImage& image,
                    std::uint32_t firstRow);
// "ED": no payload.
void BuildLoaderEndFrame(std::span<std::uint8_t, kLongFrameSize> frame);

// Erases the blocks: 4 ("BE") or 0 ("OK") when accepted, 1 after three failed attempts, -1 when
// the port failed.
std::int16_t EraseBlocks(LoaderContext& context);
// Programs every page that holds data, up to ten attempts each: 0 when all were accepted, 1 when a
// page failed (no later page is sent), -1 when the port failed. `pageStarted` is told the first
// row of every page as it is reached, pages without data included, resends not.
std::int16_t WritePages(LoaderContext& context,
                        const std::function<void(std::uint32_t row)>& pageStarted);
// Ends the loader's flash mode: 2 ("ED") or 0 ("OK"), 1 after ten failed attempts, -1 when the
// port failed.
std::int16_t EndLoader(LoaderContext& context);

}  // namespace rqm5
