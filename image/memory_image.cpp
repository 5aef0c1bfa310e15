#include "image/memory_image.h"

#include <algorithm>
#include <cstdio>

#include "image/hex_text.h"

namespace rqm5 {

void MemoryImage::ClearImage() {
    for (auto& row : memImage) row.fill(kErased);
    lineUsed.fill(false);
}

bool MemoryImage::Store(std::uint32_t row, std::uint32_t column, std::uint8_t value) {
    if (!RowInImage(row) || column >= kColumns) return false;
    if (value < kErased) lineUsed[row - kFirstRow] = true;
    memImage[row - kFirstRow][column] = value;
    return true;
}

bool MemoryImage::PageHasData(std::uint32_t firstRow) const {
    const auto begin = lineUsed.begin() + (firstRow - kFirstRow);
    return std::any_of(begin, begin + kRowsPerPage, [](bool used) { return used; });
}

ImageChecksum SumImageRange(const MemoryImage& image, std::string_view startText,
                            std::string_view stopText) {
    const std::uint32_t start = ReadHexPrefix(startText);
    const std::uint32_t stop = ReadHexPrefix(stopText);
    auto inImage = [](std::uint32_t a) { return a >= kFirstAddress && a <= kLastAddress; };
    if (!inImage(start) || !inImage(stop)) return {};
    ImageChecksum result{.inRange = true, .sum = 0};
    for (std::uint32_t address = start; address <= stop; ++address) result.sum += image.At(address);
    return result;
}

std::string UpperHex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

std::string FormatDumpLine(const MemoryImage& image, std::uint32_t row) {
    char address[8];
    std::snprintf(address, sizeof address, "%05X", static_cast<unsigned>(row * kColumns));
    std::string line = std::string(address) + " ";
    for (std::uint32_t column = 0; column < kColumns; ++column) {
        char cell[4];
        std::snprintf(cell, sizeof cell, " %02X", static_cast<unsigned>(image.Cell(row, column)));
        line += cell;
    }
    return line + "\r\n";
}

std::string DumpHeaderLine() {
    return "ADDR   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\r\n";
}

std::string FormatDump(const MemoryImage& image) {
    std::string dump = DumpHeaderLine();
    dump.reserve(dump.size() * (kRowCount + 1));
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) dump += FormatDumpLine(image, row);
    return dump;
}

}  // namespace rqm5
