#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "image/memory_image.h"

namespace rqm5 {

// Status of the last parsed line: 0 accepted, 9 the line does not start with "S".
inline constexpr std::int16_t kLineAccepted = 0;
inline constexpr std::int16_t kLineNotARecord = 9;
// A data record (types 1 to 3) is checked whole before any byte of it is stored: 11 its checksum
// is wrong; 12 the line is shorter than its count says, or a character of the counted part is not
// a hexadecimal digit.
inline constexpr std::int16_t kSRecordBadChecksum = 11;
inline constexpr std::int16_t kSRecordMalformed = 12;

struct SRecordResult {
    std::int16_t parseStatus = kLineAccepted;
    // A data byte's address lay outside the image: the line stopped at that byte, the bytes before
    // it are stored. This is not a parse status; every caller must decide what it means.
    bool rangeFailure = false;
};

// Puts the data bytes of one Motorola S-record line into the image. Types 1 to 3 carry data and
// are checked first (statuses 11 and 12, nothing stored); every other type is accepted unchecked
// and stores nothing. Keeps no state between lines.
[[nodiscard]] SRecordResult LoadSRecordLine(MemoryImage& image, std::string_view line);

// The firmware that the program carries: the table of built-in lines, filled once at start-up.
class EmbeddedImage {
  public:
    static constexpr std::size_t kCapacity = 9000;

    // Fills the table from the firmware compiled into the program.
    void LoadEmbeddedImage();

    std::array<std::string_view, kCapacity> embeddedLines{};
    std::int32_t embeddedLineCount = 0;
};

// The image steps of start-up: clear the image, fill the table, and parse every built-in line once,
// in order. Returns 0, or the 1-based number of the first line that met a range failure (the
// program's own firmware never does; a damaged build must not start as if it were whole).
std::int32_t LoadBuiltInFirmware(MemoryImage& image, EmbeddedImage& table);

}  // namespace rqm5
