#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/memory_image.h"
#include "image/message_icon.h"
#include "image/srecord_loader.h"

namespace rqm5 {

// Statuses of the Intel HEX line check (0 and 9 are shared with the S-record loader).
inline constexpr std::int16_t kHexShortLine = 1;        // under 13 characters, not ":00000001FF"
inline constexpr std::int16_t kHexCountTooLarge = 2;    // more than 16 data bytes
inline constexpr std::int16_t kHexLengthMismatch = 3;   // length is not 2 * count + 11
inline constexpr std::int16_t kHexTypeNotZeroLead = 4;  // first record-type digit is not "0"
inline constexpr std::int16_t kHexRowOutsideImage = 5;  // row outside 0xC000..0xFFFF
inline constexpr std::int16_t kHexColumnTooLarge = 6;   // column above 15
inline constexpr std::int16_t kHexRunsPastRow = 7;      // column + count above 16
inline constexpr std::int16_t kHexBadChecksum = 8;      // bytes do not add up to 0 mod 256
inline constexpr std::int16_t kHexTypeRefused = 10;     // record types 4 to 9

// The end-of-file record, the one line shorter than 13 characters that is accepted.
inline constexpr std::string_view kHexEndOfFileRecord = ":00000001FF";

// Checks Intel HEX lines of one file and stores the bytes of its data records. A data record
// (type 00) goes to the segment base plus its 16-bit address; the segment base is 16 times the
// value of the latest extended segment address record (type 02) of the same file, 0 before the
// first. One parser per file, so that every load starts at segment base 0.
class HexFileParser {
  public:
    // Returns the line's status (0 accepted). A refused line stores nothing.
    [[nodiscard]] std::int16_t CheckHexLine(MemoryImage& image, std::string_view line);

    std::uint32_t SegmentBase() const { return segmentBase; }

  private:
    std::uint32_t segmentBase = 0;
};

inline constexpr std::string_view kFileOpenErrorText = "File Open Error";
inline constexpr std::string_view kFileOpenErrorTitle = "ERROR";
inline constexpr std::string_view kLineErrorTitle = "Error";

// The open dialog's filter: description and pattern pairs separated by "|".
inline constexpr std::string_view kImageFileFilter =
    "MOT & HEX|*.mot;*.hex|Mot Files (*.mot)|*.mot|Hex Files (*.hex)|*.hex|All Files (*.*)|*.*";

// No S-record or Intel HEX line comes near this length. Characters of a longer line past this
// limit are skipped unread, so a file without line breaks (a binary renamed) never fills memory;
// both parsers give the same verdict for the kept part as for the whole line.
inline constexpr std::size_t kMaxKeptLineLength = std::size_t{1} << 20;

enum class ImageFileParser { SRecord, IntelHex };

// "HEX" as the last three characters of the path, in any mix of cases, selects the Intel HEX
// check; every other path, with or without an extension, the S-record loader.
ImageFileParser ParserForPath(std::string_view path);

// The outcome of one file load, with the message box that a failure shows.
struct ImageFileLoad {
    std::uint8_t loaded = 0;                   // 1 loaded, 0 failed
    std::int16_t parseStatus = kLineAccepted;  // the refusing line's status, else 0
    std::int64_t lineNumber = 0;               // lines read, the failing one included
    std::string messageText;                   // empty on success: a success shows nothing
    std::string messageTitle;
    MessageIcon messageIcon = MessageIcon::None;
};

// "Error Code = N ; line number = M"
std::string LineErrorText(std::int16_t parseStatus, std::int64_t lineNumber);

// Reads the file at `path` line by line (a line ends in CR LF, LF or CR; a last line without an
// ending counts) into a fresh image and stops at the first refused line. Only a load that
// succeeds replaces `image`: after a failure it is exactly as it was. An empty file loads as a
// cleared image. A file that cannot be opened or read, a directory, an empty path, and an
// S-record byte outside the image all fail with "File Open Error".
ImageFileLoad LoadImageFile(const std::string& path, MemoryImage& image);

}  // namespace rqm5
