#include "image/srecord_loader.h"

#include <algorithm>

#include "data/embedded_firmware.h"
#include "image/hex_text.h"

namespace rqm5 {

namespace {

// A data record is whole when the characters from the count through the checksum (positions 3 to
// 2 * count + 4, counted from 1) are all there and all hexadecimal digits, and its bytes from the
// count through the checksum add up to 0xFF modulo 256. Whatever follows the checksum pair is not
// part of the record.
std::int16_t CheckDataRecord(std::string_view line, std::uint32_t count) {
    const std::size_t recordEnd = 2 * static_cast<std::size_t>(count) + 4;
    if (line.size() < recordEnd) return kSRecordMalformed;
    const std::string_view counted = line.substr(2, recordEnd - 2);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < counted.size(); i += 2) {
        if (!IsHexDigit(counted[i]) || !IsHexDigit(counted[i + 1])) return kSRecordMalformed;
        sum += ReadHexField(counted, i, 2);
    }
    return (sum & 0xFF) == 0xFF ? kLineAccepted : kSRecordBadChecksum;
}

}  // namespace

SRecordResult LoadSRecordLine(MemoryImage& image, std::string_view line) {
    SRecordResult result;
    if (line.empty() || line[0] != 'S') {
        result.parseStatus = kLineNotARecord;
        return result;
    }
    const int type = (line.size() > 1 && line[1] >= '0' && line[1] <= '9') ? line[1] - '0' : 0;
    if (type == 0 || type > 3) return result;  // header, count and termination records

    const std::uint32_t count = ReadHexField(line, 2, 2);
    result.parseStatus = CheckDataRecord(line, count);
    if (result.parseStatus != kLineAccepted) return result;

    const std::size_t addressDigits = 2 * static_cast<std::size_t>(type + 1);
    std::uint32_t row = ReadHexField(line, 4, addressDigits - 1);
    std::uint32_t column = ReadHexField(line, 4 + addressDigits - 1, 1);
    // Data runs from the character after the address up to the last character that the count
    // covers before the checksum pair (position 2 * count + 2, counted from 1).
    const std::size_t lastDataIndex = 2 * static_cast<std::size_t>(count) + 1;
    for (std::size_t j = 4 + addressDigits; j <= lastDataIndex; j += 2) {
        const auto value = static_cast<std::uint8_t>(ReadHexField(line, j, 2));
        if (!image.Store(row, column, value)) {
            result.rangeFailure = true;
            return result;
        }
        if (++column == kColumns) {
            column = 0;
            ++row;
        }
    }
    return result;
}

void EmbeddedImage::LoadEmbeddedImage() {
    const auto lines = BuiltInFirmwareLines();
    const std::size_t count = std::min(lines.size(), kCapacity);
    std::copy_n(lines.begin(), count, embeddedLines.begin());
    embeddedLineCount = static_cast<std::int32_t>(count);
}

std::int32_t LoadBuiltInFirmware(MemoryImage& image, EmbeddedImage& table) {
    image.ClearImage();
    table.LoadEmbeddedImage();
    std::int32_t firstRangeFailure = 0;
    for (std::int32_t i = 0; i < table.embeddedLineCount; ++i) {
        const SRecordResult result = LoadSRecordLine(image, table.embeddedLines[i]);
        if (result.rangeFailure && firstRangeFailure == 0) firstRangeFailure = i + 1;
    }
    return firstRangeFailure;
}

}  // namespace rqm5
