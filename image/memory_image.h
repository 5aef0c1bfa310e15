#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rqm5 {

// The image covers the device's flash from 0xC0000 to 0xFFFFF as rows of 16 bytes.
inline constexpr std::uint32_t kFirstRow = 0xC000;
inline constexpr std::uint32_t kLastRow = 0xFFFF;
inline constexpr std::uint32_t kRowCount = kLastRow - kFirstRow + 1;
inline constexpr std::uint32_t kColumns = 16;
inline constexpr std::uint32_t kFirstAddress = kFirstRow * kColumns;
inline constexpr std::uint32_t kLastAddress = kLastRow * kColumns + kColumns - 1;
inline constexpr std::uint32_t kRowsPerPage = 64;  // one 1 KB flash page
inline constexpr std::uint8_t kErased = 0xFF;

class MemoryImage {
  public:
    MemoryImage() { ClearImage(); }

    // Every cell back to 0xFF and no row marked.
    void ClearImage();

    // The store rule: a byte below 0xFF marks its row, and the cell takes the value. A row outside
    // the image is a range failure: nothing is stored and the caller gets false.
    [[nodiscard]] bool Store(std::uint32_t row, std::uint32_t column, std::uint8_t value);

    static bool RowInImage(std::uint32_t row) { return row >= kFirstRow && row <= kLastRow; }

    // Callers stay inside the image (kFirstRow..kLastRow, column 0..15).
    std::uint8_t Cell(std::uint32_t row, std::uint32_t column) const {
        return memImage[row - kFirstRow][column];
    }
    std::uint8_t At(std::uint32_t address) const {
        return Cell(address / kColumns, address % kColumns);
    }
    bool IsLineUsed(std::uint32_t row) const { return lineUsed[row - kFirstRow]; }
    // True when any of the 64 rows of the page that starts at `firstRow` is marked.
    bool PageHasData(std::uint32_t firstRow) const;

    bool operator==(const MemoryImage&) const = default;

  private:
    std::array<std::array<std::uint8_t, kColumns>, kRowCount> memImage;
    std::array<bool, kRowCount> lineUsed;
};

struct ImageChecksum {
    bool inRange = false;  // false: start or stop lies outside the image and nothing was summed
    std::uint32_t sum = 0;
};

// Sum of the cells from the start to the stop address, both inclusive, both read as hexadecimal
// text. A start above the stop sums nothing. Both must lie inside 0xC0000..0xFFFFF.
ImageChecksum SumImageRange(const MemoryImage& image, std::string_view startText,
                            std::string_view stopText);

// Upper-case hexadecimal without leading zeros ("0" for zero).
std::string UpperHex(std::uint32_t value);

// One row of the hex dump: five-digit address, then the 16 cells, then CR LF.
std::string FormatDumpLine(const MemoryImage& image, std::uint32_t row);
// The column header that stands above the dump lines.
std::string DumpHeaderLine();
// Header and every row of the image.
std::string FormatDump(const MemoryImage& image);

}  // namespace rqm5
