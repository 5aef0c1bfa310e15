#include "image/image_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "image/hex_text.h"

namespace rqm5 {

namespace {

// The bytes of an Intel HEX record from the count through the checksum add up to 0 modulo 256.
// A character that is not a hexadecimal digit cannot be summed, so it fails the check as well.
bool HexRecordAddsUp(std::string_view line) {
    std::uint32_t sum = 0;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        if (!IsHexDigit(line[i]) || !IsHexDigit(line[i + 1])) return false;
        sum += ReadHexField(line, i, 2);
    }
    return (sum & 0xFF) == 0;
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Reads a file in blocks and splits it into lines at CR LF, LF or CR. Memory stays bounded
// whatever the file holds: at most kMaxKeptLineLength characters of a line are kept.
class LineReader {
  public:
    explicit LineReader(std::istream& input) : input(input), block(kBlockSize) {}

    // The next line into `line`; false at the end of the file or on a read failure.
    bool Next(std::string& line) {
        line.clear();
        bool startedLine = false;
        for (;;) {
            if (position == filled && !FillBlock()) return startedLine && !failed;
            if (pendingLineFeedAfterCr) {
                pendingLineFeedAfterCr = false;
                if (block[position] == '\n') {
                    ++position;
                    continue;
                }
            }
            const auto begin = block.begin() + static_cast<std::ptrdiff_t>(position);
            const auto end = block.begin() + static_cast<std::ptrdiff_t>(filled);
            const auto stop =
                std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; });
            const auto kept =
                std::min(static_cast<std::size_t>(stop - begin), kMaxKeptLineLength - line.size());
            line.append(begin, begin + static_cast<std::ptrdiff_t>(kept));
            startedLine = true;
            position = static_cast<std::size_t>(stop - block.begin());
            if (stop != end) {
                pendingLineFeedAfterCr = (*stop == '\r');
                ++position;
                return true;
            }
        }
    }

    bool Failed() const { return failed; }

  private:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    bool FillBlock() {
        if (failed || input.eof()) return false;
        input.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (input.bad()) {
            failed = true;
            return false;
        }
        position = 0;
        filled = static_cast<std::size_t>(input.gcount());
        return filled > 0;
    }

    std::istream& input;
    std::vector<char> block;
    std::size_t position = 0;
    std::size_t filled = 0;
    bool pendingLineFeedAfterCr = false;
    bool failed = false;
};

ImageFileLoad FileOpenError(std::int64_t lineNumber) {
    return {.loaded = 0,
            .parseStatus = kLineAccepted,
            .lineNumber = lineNumber,
            .messageText = std::string(kFileOpenErrorText),
            .messageTitle = std::string(kFileOpenErrorTitle),
            .messageIcon = MessageIcon::Error};
}

ImageFileLoad LineError(std::int16_t parseStatus, std::int64_t lineNumber) {
    return {.loaded = 0,
            .parseStatus = parseStatus,
            .lineNumber = lineNumber,
            .messageText = LineErrorText(parseStatus, lineNumber),
            .messageTitle = std::string(kLineErrorTitle),
            .messageIcon = MessageIcon::Warning};
}

}  // namespace

std::int16_t HexFileParser::CheckHexLine(MemoryImage& image, std::string_view line) {
    if (line.empty() || line[0] != ':') return kLineNotARecord;
    if (line.size() < 13) return line == kHexEndOfFileRecord ? kLineAccepted : kHexShortLine;
    const std::uint32_t count = ReadHexField(line, 1, 2);
    if (count > 16) return kHexCountTooLarge;
    if (line.size() != 2 * count + 11) return kHexLengthMismatch;
    if (line[7] != '0') return kHexTypeNotZeroLead;
    const int type = (line[8] >= '0' && line[8] <= '9') ? line[8] - '0' : 0;
    switch (type) {
        case 1:  // end of file
        case 3:  // start segment address: where a CPU would start, nothing to store
            return kLineAccepted;
        case 2: {  // extended segment address: the base of the data records that follow
            if (count != 2) return kHexLengthMismatch;
            if (!HexRecordAddsUp(line)) return kHexBadChecksum;
            segmentBase = ReadHexField(line, 9, 4) * 16;
            return kLineAccepted;
        }
        case 0:
            break;
        default:  // linear addresses and the rest: not part of this device's files
            return kHexTypeRefused;
    }

    // A data record may not run past the end of its row; the checksum comes last.
    const std::uint32_t address = segmentBase + ReadHexField(line, 3, 4);
    const std::uint32_t row = address / kColumns;
    const std::uint32_t column = address % kColumns;
    if (!MemoryImage::RowInImage(row)) return kHexRowOutsideImage;
    if (column > kColumns - 1) return kHexColumnTooLarge;
    if (column + count > kColumns) return kHexRunsPastRow;
    if (!HexRecordAddsUp(line)) return kHexBadChecksum;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint8_t>(ReadHexField(line, 9 + 2 * i, 2));
        // Cannot fail: the row lies inside the image and the record inside its row.
        if (!image.Store(row, column + i, value)) return kHexRowOutsideImage;
    }
    return kLineAccepted;
}

ImageFileParser ParserForPath(std::string_view path) {
    const std::string_view ending =
        path.substr(path.size() - std::min<std::size_t>(path.size(), 3));
    std::string upper(ending);
    std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
    return upper == "HEX" ? ImageFileParser::IntelHex : ImageFileParser::SRecord;
}

std::string LineErrorText(std::int16_t parseStatus, std::int64_t lineNumber) {
    return "Error Code = " + std::to_string(parseStatus) +
           " ; line number = " + std::to_string(lineNumber);
}

ImageFileLoad LoadImageFile(const std::string& path, MemoryImage& image) {
    // A NUL would cut the name that the system opens short of the name that chose the parser.
    if (path.empty() || path.find('\0') != std::string::npos) return FileOpenError(0);
    const std::filesystem::path filePath(path);
    std::error_code error;
    if (std::filesystem::is_directory(filePath, error)) return FileOpenError(0);
    std::ifstream file(filePath, std::ios::binary);
    if (!file.is_open()) return FileOpenError(0);

    // Everything goes into a fresh image, so that a failure anywhere leaves the caller's image
    // exactly as it was.
    auto loaded = std::make_unique<MemoryImage>();
    const ImageFileParser parser = ParserForPath(path);
    HexFileParser hexParser;
    LineReader reader(file);
    std::string line;
    std::int64_t lineNumber = 0;
    while (reader.Next(line)) {
        ++lineNumber;
        if (parser == ImageFileParser::IntelHex) {
            const std::int16_t status = hexParser.CheckHexLine(*loaded, line);
            if (status != kLineAccepted) return LineError(status, lineNumber);
        } else {
            const SRecordResult result = LoadSRecordLine(*loaded, line);
            if (result.parseStatus != kLineAccepted) {
                return LineError(result.parseStatus, lineNumber);
            }
            if (result.rangeFailure) return FileOpenError(lineNumber);
        }
    }
    if (reader.Failed()) return FileOpenError(lineNumber);
    image = *loaded;
    ImageFileLoad success;
    success.loaded = 1;
    success.lineNumber = lineNumber;
    return success;
}

}  // namespace rqm5
