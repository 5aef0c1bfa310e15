// A whole file of any bytes, loaded once as .mot and once as .hex: no crash, all or nothing, and
// the message that belongs to the outcome. A file without line breaks must give the same status as
// its one line given straight to the parser.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "image/image_file.h"

using rqm5::fuzz::Require;
using rqm5::fuzz::SameImage;

namespace {

std::string TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rqm5-fuzz-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "a temporary folder can be made");
    return pattern;
}

struct Cleanup {
    std::string folder;
    ~Cleanup() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

void LoadAs(const std::string& path, std::string_view bytes) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        Require(out.good(), "the input can be written");
    }
    // A previous image that no load can produce by accident.
    static rqm5::MemoryImage image;
    static rqm5::MemoryImage previous = [] {
        rqm5::MemoryImage marked;
        for (std::uint32_t row = rqm5::kFirstRow; row <= rqm5::kLastRow; row += 97) {
            (void)marked.Store(row, row % 16, static_cast<std::uint8_t>(row));
        }
        return marked;
    }();
    image = previous;
    const rqm5::ImageFileLoad result = rqm5::LoadImageFile(path, image);

    Require(result.loaded == 0 || result.loaded == 1, "loaded is 1 or 0");
    if (result.loaded == 1) {
        Require(result.parseStatus == 0 && result.messageText.empty(), "success shows nothing");
    } else {
        Require(SameImage(image, previous), "a failed load leaves the image as it was");
        if (result.parseStatus != 0) {
            Require(result.lineNumber >= 1 && result.messageTitle == rqm5::kLineErrorTitle &&
                        result.messageIcon == rqm5::MessageIcon::Warning &&
                        result.messageText ==
                            rqm5::LineErrorText(result.parseStatus, result.lineNumber),
                    "a refused line is reported with its code and number");
        } else {
            Require(result.messageText == rqm5::kFileOpenErrorText &&
                        result.messageTitle == rqm5::kFileOpenErrorTitle &&
                        result.messageIcon == rqm5::MessageIcon::Error,
                    "anything else is a file open error");
        }
    }

    // One line without a break: the file's verdict is the line's verdict.
    if (!bytes.empty() && bytes.find_first_of("\r\n") == std::string_view::npos) {
        rqm5::MemoryImage scratch;
        std::int16_t lineStatus = 0;
        if (rqm5::ParserForPath(path) == rqm5::ImageFileParser::IntelHex) {
            rqm5::HexFileParser parser;
            lineStatus = parser.CheckHexLine(scratch, bytes);
        } else {
            lineStatus = rqm5::LoadSRecordLine(scratch, bytes).parseStatus;
        }
        Require(result.parseStatus == lineStatus, "a one-line file gives its line's status");
        Require(result.loaded == 0 || result.lineNumber == 1, "a one-line file has one line");
        Require(result.loaded == 0 || SameImage(image, scratch),
                "a one-line file loads like its line");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Cleanup cleanup{TempFolder()};
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LoadAs(cleanup.folder + "/input.mot", bytes);
    LoadAs(cleanup.folder + "/input.hex", bytes);
    return 0;
}
