#include "image/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "image/srecord_loader.h"
#include "test_files.h"

namespace rqm5 {
namespace {

using testing_files::HexRecord;
using testing_files::HexSegment;
using testing_files::SRecord2;
using testing_files::TempFolder;

const std::string kRecordAtD0000 = SRecord2(0xD0000, {0x12, 0x34});
const std::string kRecordAtD0010 = SRecord2(0xD0010, {0x56});

std::string Lines(const std::vector<std::string>& lines, const std::string& ending = "\r\n") {
    std::string text;
    for (const std::string& line : lines) text += line + ending;
    return text;
}

// Each test starts from an image that holds the built-in firmware, as the window's does, so
// that "unchanged" means something.
class ImageFileTest : public testing::Test {
  protected:
    void SetUp() override {
        EmbeddedImage table;
        ASSERT_EQ(LoadBuiltInFirmware(image, table), 0);
        builtIn = image;
    }

    ImageFileLoad Load(const std::string& name, const std::string& bytes) {
        return LoadImageFile(folder.Write(name, bytes), image);
    }

    TempFolder folder;
    MemoryImage image;
    MemoryImage builtIn;
};

struct FailingFile {
    const char* name;
    std::string fileName;
    std::string bytes;
    std::int16_t status;  // 0: a file failure ("File Open Error")
    std::int64_t lineNumber;
};

void PrintTo(const FailingFile& c, std::ostream* out) {
    *out << c.name;
}

std::vector<FailingFile> FailingFiles() {
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 37) % 256);
    std::string cutRecord = kRecordAtD0010;
    cutRecord.pop_back();
    std::string nonHexRecord = kRecordAtD0010;
    nonHexRecord[10] = 'x';
    std::string wrongChecksum = kRecordAtD0010;
    wrongChecksum.back() = wrongChecksum.back() == '0' ? '1' : '0';
    return {
        {"EmptyThirdLine", "a.mot", Lines({kRecordAtD0000, kRecordAtD0010, "", kRecordAtD0000}), 9,
         3},
        {"S1RecordIsAFileFailure", "a.mot", Lines({kRecordAtD0000, "S1041000AB40"}), 0, 2},
        {"WrongSRecordChecksum", "a.mot", Lines({kRecordAtD0000, wrongChecksum}), 11, 2},
        {"TruncatedSRecord", "a.mot", Lines({kRecordAtD0000, cutRecord}), 12, 2},
        {"NonHexCharacterInSRecord", "a.mot", Lines({kRecordAtD0000, nonHexRecord}), 12, 2},
        {"BinaryRenamedMot", "firmware.mot", binary, 9, 1},
        {"LongLineWithoutBreaks", "a.mot", "S2" + std::string(3 << 20, 'F'), 11, 1},
        {"HexCode1", "a.hex", Lines({":00000001FF0"}), 1, 1},
        {"HexCode2", "a.hex", Lines({":110000000000"}), 2, 1},
        {"HexCode3", "a.hex", Lines({":02000000AABBCCD"}), 3, 1},
        {"HexCode4", "a.hex", Lines({":01000010AABB"}), 4, 1},
        {"HexCode5", "a.hex", Lines({HexRecord(0, 0x0000, {0xAA})}), 5, 1},
        // Code 6 cannot occur in a file: the column is the computed address modulo 16.
        {"HexCode7", "a.hex", Lines({HexSegment(0xC000), HexRecord(0, 0x000F, {1, 2})}), 7, 2},
        {"HexCode8", "a.hex", Lines({HexSegment(0xC000), ":01000000AA00"}), 8, 2},
        {"HexCode9", "a.hex", Lines({HexSegment(0xC000), kRecordAtD0000}), 9, 2},
        {"HexCode10", "a.hex", Lines({HexSegment(0xC000), HexRecord(4, 0, {0, 0x0C})}), 10, 2},
        {"HexStopsAfterGoodData", "a.hex",
         Lines({HexSegment(0xC000), HexRecord(0, 0x10, {1, 2, 3}), ":00000001FF", "junk"}), 9, 4},
        {"LinesAfterTheEndRecordAreParsed", "a.mot", Lines({"S804000000FB", "S2"}), 12, 2},
        {"LoneCarriageReturnsEndLines", "a.mot", kRecordAtD0000 + "\r\r" + kRecordAtD0010, 9, 2},
    };
}

class FailingFileTest : public ImageFileTest, public testing::WithParamInterface<FailingFile> {};

TEST_P(FailingFileTest, ReportsTheLineAndLeavesTheImageAsItWas) {
    const FailingFile& c = GetParam();
    const ImageFileLoad result = Load(c.fileName, c.bytes);
    EXPECT_EQ(result.loaded, 0);
    EXPECT_EQ(result.parseStatus, c.status);
    EXPECT_EQ(result.lineNumber, c.lineNumber);
    if (c.status != 0) {
        EXPECT_EQ(result.messageText, "Error Code = " + std::to_string(c.status) +
                                          " ; line number = " + std::to_string(c.lineNumber));
        EXPECT_EQ(result.messageTitle, "Error");
        EXPECT_EQ(result.messageIcon, MessageIcon::Warning);
    } else {
        EXPECT_EQ(result.messageText, "File Open Error");
        EXPECT_EQ(result.messageTitle, "ERROR");
        EXPECT_EQ(result.messageIcon, MessageIcon::Error);
    }
    EXPECT_TRUE(image == builtIn) << "a failed load changed the image";
}

INSTANTIATE_TEST_SUITE_P(Files, FailingFileTest, testing::ValuesIn(FailingFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

void ExpectFileOpenError(const ImageFileLoad& result) {
    EXPECT_EQ(result.loaded, 0);
    EXPECT_EQ(result.parseStatus, 0);
    EXPECT_EQ(result.messageText, "File Open Error");
    EXPECT_EQ(result.messageTitle, "ERROR");
    EXPECT_EQ(result.messageIcon, MessageIcon::Error);
}

TEST_F(ImageFileTest, PathsThatCannotBeReadAreFileOpenErrors) {
    const std::string realFile = folder.Write("real.mot", "");
    std::vector<std::string> paths = {"", folder.Path("missing.mot"), folder.Path(""),
                                      folder.Path("sub.hex"),
                                      realFile + std::string(1, '\0') + ".mot"};
    std::filesystem::create_directory(folder.Path("sub.hex"));
    // Opens, but reading fails (the process's own memory at address 0 is not mapped).
    if (std::filesystem::exists("/proc/self/mem")) paths.push_back("/proc/self/mem");
    for (const std::string& path : paths) {
        SCOPED_TRACE("path \"" + path.substr(0, path.find('\0')) + "\"");
        ExpectFileOpenError(LoadImageFile(path, image));
        EXPECT_TRUE(image == builtIn);
    }
}

TEST_F(ImageFileTest, UnreadableFileAfterAFailedLoadIsAFileOpenError) {
    ASSERT_EQ(Load("bad.mot", "x\r\n").parseStatus, kLineNotARecord);
    ExpectFileOpenError(LoadImageFile(folder.Path("missing.mot"), image));
    EXPECT_TRUE(image == builtIn);
}

TEST_F(ImageFileTest, EmptyFilesLoadAsAClearedImage) {
    const MemoryImage cleared;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.mot", ""},
        {"empty.hex", ""},
        {"end.hex", Lines({":00000001FF"})},
        {"segments.hex", Lines({HexSegment(0xC000), ":00000001FF", HexSegment(0xF000)})},
        {"header.mot", Lines({"S0030000FC", "S804000000FB"})},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        image = builtIn;
        const ImageFileLoad result = Load(name, bytes);
        EXPECT_EQ(result.loaded, 1);
        EXPECT_EQ(result.parseStatus, 0);
        EXPECT_TRUE(result.messageText.empty());
        EXPECT_TRUE(image == cleared);
    }
}

TEST_F(ImageFileTest, SuccessReplacesTheWholeImage) {
    const ImageFileLoad result = Load("a.mot", Lines({"S0030000FC", kRecordAtD0000, "S9030000FC"}));
    EXPECT_EQ(result.loaded, 1);
    EXPECT_EQ(result.lineNumber, 3);
    MemoryImage expected;
    ASSERT_EQ(LoadSRecordLine(expected, kRecordAtD0000).parseStatus, 0);
    EXPECT_TRUE(image == expected)
        << "the built-in firmware must be gone, only the file's data left";
}

TEST_F(ImageFileTest, LineEndingsReadAlike) {
    const std::vector<std::string> lines = {kRecordAtD0000, kRecordAtD0010};
    MemoryImage expected;
    for (const std::string& line : lines) ASSERT_EQ(LoadSRecordLine(expected, line).parseStatus, 0);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"crlf.mot", Lines(lines, "\r\n")},
        {"lf.mot", Lines(lines, "\n")},
        {"cr.mot", Lines(lines, "\r")},
        {"mixed.mot", lines[0] + "\n" + lines[1] + "\r\n"},
        {"nolast.mot", lines[0] + "\r\n" + lines[1]},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        image = builtIn;
        const ImageFileLoad result = Load(name, bytes);
        EXPECT_EQ(result.loaded, 1);
        EXPECT_EQ(result.lineNumber, 2);
        EXPECT_TRUE(image == expected);
    }
    // A blank line between records is a line of its own, whatever the endings.
    EXPECT_EQ(Load("blank.mot", lines[0] + "\n\n" + lines[1]).lineNumber, 2);
}

TEST_F(ImageFileTest, HexEndingSelectsTheIntelHexCheck) {
    const std::string hexFile = Lines({HexSegment(0xC000), HexRecord(0, 0x0000, {0xAA})});
    for (const char* name : {"a.HEX", "a.Hex", "a.hex", "hex", "a.mot.hex", "b.hEx"}) {
        SCOPED_TRACE(name);
        image = builtIn;
        EXPECT_EQ(ParserForPath(name), ImageFileParser::IntelHex);
        EXPECT_EQ(Load(name, hexFile).loaded, 1);
        EXPECT_EQ(image.At(0xC0000), 0xAA);
    }
    for (const char* name : {"a.mot", "a.s19", "a.txt", "noending", "a.hex.mot", "a.he", "ex"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ParserForPath(name), ImageFileParser::SRecord);
        const ImageFileLoad result = Load(name, hexFile);
        EXPECT_EQ(result.parseStatus, kLineNotARecord);
        EXPECT_EQ(result.lineNumber, 1);
    }
}

TEST_F(ImageFileTest, SegmentsPlaceHexDataAcrossTheImage) {
    const ImageFileLoad result =
        Load("a.hex",
             Lines({HexSegment(0xC000), HexRecord(0, 0x0000, {0x01, 0x02}), HexSegment(0xF000),
                    HexRecord(0, 0xFFF0, {0x03}), HexRecord(0, 0x0000, {0x04}), ":00000001FF"}));
    ASSERT_EQ(result.loaded, 1) << result.messageText;
    EXPECT_EQ(image.At(0xC0000), 0x01);
    EXPECT_EQ(image.At(0xC0001), 0x02);
    EXPECT_EQ(image.At(0xFFFF0), 0x03);
    EXPECT_EQ(image.At(0xF0000), 0x04);
    EXPECT_EQ(image.At(0xD0000), 0xFF);
    EXPECT_TRUE(image.IsLineUsed(0xC000));
    EXPECT_FALSE(image.IsLineUsed(0xD000));

    // A second file starts at segment 0 again.
    EXPECT_EQ(Load("b.hex", Lines({HexRecord(0, 0x0000, {0x01})})).parseStatus,
              kHexRowOutsideImage);
}

TEST_F(ImageFileTest, LongLineKeepsItsVerdict) {
    // Characters after the checksum pair are ignored however many there are.
    const ImageFileLoad result = Load("a.mot", kRecordAtD0000 + std::string(3 << 20, ' ') + "\n");
    EXPECT_EQ(result.loaded, 1);
    EXPECT_EQ(image.At(0xD0001), 0x34);
    EXPECT_EQ(Load("a.hex", HexSegment(0xC000) + std::string(3 << 20, '0')).parseStatus,
              kHexLengthMismatch);
}

TEST(BuiltInLines, PassTheRecordChecks) {
    EmbeddedImage table;
    table.LoadEmbeddedImage();
    ASSERT_EQ(table.embeddedLineCount, 8023);
    MemoryImage image;
    for (std::int32_t i = 0; i < table.embeddedLineCount; ++i) {
        const SRecordResult result = LoadSRecordLine(image, table.embeddedLines[i]);
        EXPECT_EQ(result.parseStatus, 0) << "line " << i + 1;
        EXPECT_FALSE(result.rangeFailure) << "line " << i + 1;
    }
}

TEST(BuiltInLines, FirmwareFileLoadsLikeStartUp) {
    MemoryImage startUp;
    EmbeddedImage table;
    ASSERT_EQ(LoadBuiltInFirmware(startUp, table), 0);
    MemoryImage loaded;
    const ImageFileLoad result = LoadImageFile(RQM5_FIRMWARE_TEXT, loaded);
    EXPECT_EQ(result.loaded, 1) << result.messageText;
    EXPECT_EQ(result.lineNumber, 8023);
    EXPECT_TRUE(loaded == startUp);
}

TEST(ImageFileFilter, ListsBothKindsFirst) {
    EXPECT_EQ(kImageFileFilter,
              "MOT & HEX|*.mot;*.hex|Mot Files (*.mot)|*.mot|Hex Files (*.hex)|*.hex|"
              "All Files (*.*)|*.*");
}

}  // namespace
}  // namespace rqm5
