// Files made by srec_cat (package srecord) and objcopy (package binutils) from a known binary:
// the loaded image must equal the binary, and the image's checksum the sum srec_cat computes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "image/image_file.h"
#include "test_files.h"

namespace rqm5 {
namespace {

using testing_files::TempFolder;

constexpr std::uint32_t kBinaryAddress = 0xD0000;
constexpr std::uint32_t kBinarySize = 0x20000;  // two 64 KB segments: 0xD0000..0xEFFFF

// Deterministic bytes; every fourth KB is erased (0xFF), so that some rows stay unmarked.
std::string KnownBinary() {
    std::string bytes(kBinarySize, '\0');
    for (std::uint32_t i = 0; i < kBinarySize; ++i) {
        const bool erased = (i / 1024) % 4 == 3;
        bytes[i] = static_cast<char>(erased ? 0xFF : (i * 7 + i / 256 + 3) & 0xFF);
    }
    return bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int RunTool(const std::string& command) {
    return std::system((command + " 2>&1").c_str());
}

struct ToolFile {
    const char* name;
    const char* tool;  // the program, or empty when the build found none
    // Arguments with IN for the binary and OUT for the file made; OUT's name gives the ending.
    const char* arguments;
    const char* outName;
};

void PrintTo(const ToolFile& c, std::ostream* out) {
    *out << c.name;
}

// Replaces IN and OUT by the quoted paths.
std::string Expand(std::string arguments, const std::string& in, const std::string& out) {
    for (const auto& [key, path] : {std::pair<std::string, std::string>{"OUT", out}, {"IN", in}}) {
        const auto at = arguments.find(key);
        if (at != std::string::npos) arguments.replace(at, key.size(), "'" + path + "'");
    }
    return arguments;
}

class ToolMadeFileTest : public testing::TestWithParam<ToolFile> {
  protected:
    void SetUp() override {
        if (std::string(GetParam().tool).empty()) GTEST_SKIP() << "tool not installed";
        binaryPath = folder.Write("known.bin", KnownBinary());
    }

    // Runs the tool on the known binary and loads what it made.
    ImageFileLoad MakeAndLoad(MemoryImage& image) {
        const ToolFile& c = GetParam();
        const std::string out = folder.Path(c.outName);
        EXPECT_EQ(RunTool(std::string(c.tool) + " " + Expand(c.arguments, binaryPath, out)), 0);
        return LoadImageFile(out, image);
    }

    TempFolder folder;
    std::string binaryPath;
};

TEST_P(ToolMadeFileTest, LoadsTheBinaryExactly) {
    MemoryImage image;
    const ImageFileLoad result = MakeAndLoad(image);
    ASSERT_EQ(result.loaded, 1) << result.messageText;

    const std::string binary = KnownBinary();
    for (std::uint32_t address = kFirstAddress; address <= kLastAddress; ++address) {
        const bool inBinary = address >= kBinaryAddress && address < kBinaryAddress + kBinarySize;
        const auto expected =
            inBinary ? static_cast<std::uint8_t>(binary[address - kBinaryAddress]) : kErased;
        ASSERT_EQ(image.At(address), expected) << std::hex << address;
    }
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) {
        bool below = false;
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            below = below || image.Cell(row, column) < kErased;
        }
        ASSERT_EQ(image.IsLineUsed(row), below) << std::hex << row;
    }
}

// srec_cat's own 32-bit sum of the binary, with the cells that it does not cover filled with
// 0xFF, over the whole image.
TEST_P(ToolMadeFileTest, ChecksumMatchesSrecCat) {
    if (std::string(RQM5_SREC_CAT).empty()) GTEST_SKIP() << "srec_cat not installed";
    MemoryImage image;
    ASSERT_EQ(MakeAndLoad(image).loaded, 1);

    const std::string sumPath = folder.Path("sum.bin");
    ASSERT_EQ(
        RunTool(std::string(RQM5_SREC_CAT) + " '" + binaryPath + "' -binary -offset 0xD0000 " +
                "-fill 0xFF 0xC0000 0x100000 "
                "-checksum-positive-little-endian 0x100000 4 1 "
                "-crop 0x100000 0x100004 -offset -0x100000 -o '" +
                sumPath + "' -binary"),
        0);
    const std::string sumBytes = ReadFile(sumPath);
    ASSERT_EQ(sumBytes.size(), 4u);
    std::uint32_t srecCatSum = 0;
    for (int i = 3; i >= 0; --i) {  // little-endian
        srecCatSum = srecCatSum * 256 + static_cast<std::uint8_t>(sumBytes[i]);
    }

    const ImageChecksum checksum = SumImageRange(image, "C0000", "FFFFF");
    ASSERT_TRUE(checksum.inRange);
    EXPECT_EQ(checksum.sum, srecCatSum);
}

const std::vector<ToolFile> kToolFiles = {
    {"SrecCatS2With32Bytes", RQM5_SREC_CAT,
     "IN -binary -offset 0xD0000 -o OUT -address-length=3 -obs=32", "s2.mot"},
    {"SrecCatS3With16BytesAndLf", RQM5_SREC_CAT,
     "IN -binary -offset 0xD0000 -o OUT -address-length=4 -obs=16 -line-termination=nl", "s3.mot"},
    {"SrecCatIntelSegments", RQM5_SREC_CAT,
     "IN -binary -offset 0xD0000 -o OUT -intel -address-length=3 -obs=16", "seg.hex"},
    {"ObjcopySrec", RQM5_OBJCOPY, "-I binary -O srec --change-addresses 0xD0000 IN OUT",
     "objcopy.s19"},
    {"ObjcopySrecS3With32Bytes", RQM5_OBJCOPY,
     "-I binary -O srec --srec-forceS3 --srec-len=32 --change-addresses 0xD0000 IN OUT",
     "objcopy.mot"},
    // Below 1 MB objcopy writes extended segment (type 02) records.
    {"ObjcopyIntelHex", RQM5_OBJCOPY, "-I binary -O ihex --change-addresses 0xD0000 IN OUT",
     "objcopy.hex"},
};

INSTANTIATE_TEST_SUITE_P(Tools, ToolMadeFileTest, testing::ValuesIn(kToolFiles),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedToolFile {
    const char* name;
    const char* tool;
    const char* arguments;
    const char* outName;
    std::int16_t status;
    std::int64_t lineNumber;
};

void PrintTo(const RefusedToolFile& c, std::ostream* out) {
    *out << c.name;
}

class RefusedToolFileTest : public testing::TestWithParam<RefusedToolFile> {};

// What the device's files cannot hold is refused, with the image untouched.
TEST_P(RefusedToolFileTest, IsRefusedWithItsCode) {
    const RefusedToolFile& c = GetParam();
    if (std::string(c.tool).empty()) GTEST_SKIP() << "tool not installed";
    TempFolder folder;
    const std::string binaryPath = folder.Write("known.bin", KnownBinary());
    const std::string out = folder.Path(c.outName);
    ASSERT_EQ(RunTool(std::string(c.tool) + " " + Expand(c.arguments, binaryPath, out)), 0);
    MemoryImage image;
    ASSERT_EQ(image.Store(0xC000, 0, 0x42), true);
    const MemoryImage before = image;
    const ImageFileLoad result = LoadImageFile(out, image);
    EXPECT_EQ(result.loaded, 0);
    EXPECT_EQ(result.parseStatus, c.status);
    EXPECT_EQ(result.lineNumber, c.lineNumber);
    EXPECT_TRUE(image == before);
}

const std::vector<RefusedToolFile> kRefusedToolFiles = {
    // Above 1 MB objcopy switches to extended linear address (type 04) records.
    {"ObjcopyIntelHexAbove1MB", RQM5_OBJCOPY,
     "-I binary -O ihex --change-addresses 0x100000 IN OUT", "high.hex", kHexTypeRefused, 1},
    // Records of 32 bytes exceed the 16 a row holds.
    {"SrecCatIntelWith32Bytes", RQM5_SREC_CAT,
     "IN -binary -offset 0xD0000 -o OUT -intel -address-length=3 -obs=32", "wide.hex",
     kHexCountTooLarge, 2},
    // 32-bit linear Intel HEX uses type 04 as well.
    {"SrecCatIntelLinear", RQM5_SREC_CAT,
     "IN -binary -offset 0xD0000 -o OUT -intel -address-length=4 -obs=16", "linear.hex",
     kHexTypeRefused, 1},
};

INSTANTIATE_TEST_SUITE_P(Tools, RefusedToolFileTest, testing::ValuesIn(kRefusedToolFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rqm5
