#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "loader/loader_frames.h"

namespace rqm5 {

// Rows that line mode programs: the top 4 KB block is never written this way.
inline constexpr std::uint32_t kLastLineModeRow = 0xFEFF;
inline constexpr int kLineAttempts = 10;
// A line record carries only the low 16 bits of a row's address, so every row that one write
// programs must lie in the same 64 KB bank.
inline constexpr std::uint32_t kRowsPerBank = 0x1000;

// Modes 0 and 1 fill lineFrame, mode 2 the short frames in txFrame 0..24.
// Data record of `row`: bytes 0-1 the low 16 bits of the row's byte address, big-endian, then the
// row's 16 cells (mode 2: FF FE "PG", the 32-bit address, the 16 cells, checksum). Any mode other
// than 2 builds the line record. Throws std::out_of_range for a row outside the image.
void BuildWriteFrame(LoaderFrames& frames, const MemoryImage& image, std::int16_t mode,
                     std::uint32_t row);
// Erase record 01 01 CR LF (mode 2: "BE" with the block number, 0..255, else std::out_of_range).
void BuildEraseFrame(LoaderFrames& frames, std::int16_t mode, std::int16_t block);
// End record 00 00 CR LF (mode 2: "ED", checksum 0x89).
void BuildEndFrame(LoaderFrames& frames, std::int16_t mode);
void BuildOkFrame(LoaderFrames& frames);
void BuildNgFrame(LoaderFrames& frames);

// 1 when rxBuffer from `offset` repeats all 20 bytes of lineFrame, 0 at the first difference,
// -1 when rxBuffer ends before offset + 20.
std::int16_t EchoMatches(const LoaderContext& context, std::size_t offset);

// True when every marked row of 0xC000..0xFEFF lies in one 64 KB bank (also when none is marked).
bool MarkedLineRowsInOneBank(const MemoryImage& image);

// Sends the "ERASE" or "END" record, up to ten attempts: the accepted code 0, 2 or 4; 1 for any
// other command text (nothing sent), any other mode (port untouched) or ten failed attempts;
// -1 when the port failed.
std::int16_t LineCommand(LoaderContext& context, std::string_view command, std::int16_t mode,
                         std::int16_t block);
// Programs every marked row of 0xC000..0xFEFF one by one: 0 when all were accepted, 1 when a row
// failed ten attempts or the mode is not 0..2, -1 when the port failed or, in modes 0 and 1, the
// marked rows span more than one bank (then nothing is sent). `rowStarted` is told every row.
std::int16_t WriteLines(LoaderContext& context, std::int16_t mode,
                        const std::function<void(std::uint32_t row)>& rowStarted);

}  // namespace rqm5
