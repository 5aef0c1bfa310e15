#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "test_files.h"

namespace rqm5 {
namespace {

using testing_files::HexRecord;
using testing_files::HexSegment;

struct Cell {
    std::uint32_t address;
    std::uint8_t value;
};

struct HexLineCase {
    const char* name;
    std::vector<std::string> before;  // lines the same parser accepted first
    std::string line;
    std::int16_t status;
    std::vector<Cell> cells;  // cells that must hold these values afterwards
    int markedRows;           // rows marked in the whole image afterwards
};

void PrintTo(const HexLineCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kSegmentC000 = HexSegment(0xC000);  // ":02000002C0003C"

std::vector<HexLineCase> Cases() {
    const std::vector<std::uint8_t> sixteen = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F};
    std::string badChecksum = HexRecord(0, 0x0000, {0xAA});
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    std::string nonHexData = HexRecord(0, 0x0000, {0xAA});
    nonHexData[9] = 'G';  // "G" reads as no digit, so only the checksum check can catch it
    return {
        {"EndOfFile", {}, ":00000001FF", 0, {}, 0},
        {"NotAColon", {}, "S20C0C00000028140A060504038F", 9, {}, 0},
        {"EmptyLine", {}, "", 9, {}, 0},
        {"TwelveCharacters", {}, ":00000001FF0", 1, {}, 0},
        {"EndOfFileInLowerCase", {}, ":00000001ff", 1, {}, 0},
        {"CountAbove16", {}, ":110000000000", 2, {}, 0},
        {"LengthNotTwiceCountPlus11", {}, ":02000000AABBCCD", 3, {}, 0},
        {"TrailingCarriageReturnIsALengthError", {}, HexRecord(0, 0, {0xAA}) + "\r", 3, {}, 0},
        {"RecordType10", {}, ":01000010AABB", 4, {}, 0},
        {"DataWithoutSegmentLiesBelowTheImage", {}, HexRecord(0, 0xFFF0, {0x01}), 5, {}, 0},
        {"SegmentBelowTheImage", {HexSegment(0xB000)}, HexRecord(0, 0xFFF0, {0x01}), 5, {}, 0},
        {"SegmentAboveTheImage", {HexSegment(0xFFFF)}, HexRecord(0, 0x0010, {0x01}), 5, {}, 0},
        // Code 6 (column above 15) cannot occur: the column is the address modulo 16.
        {"RunsPastItsRow", {kSegmentC000}, HexRecord(0, 0x0008, sixteen), 7, {{0xC0008, 0xFF}}, 0},
        {"OneByteTooMany", {kSegmentC000}, HexRecord(0, 0x000F, {1, 2}), 7, {}, 0},
        {"WrongChecksum", {kSegmentC000}, badChecksum, 8, {{0xC0000, 0xFF}}, 0},
        {"NonHexDigitInData", {kSegmentC000}, nonHexData, 8, {{0xC0000, 0xFF}}, 0},
        {"SegmentWithWrongChecksum", {}, ":02000002C00000", 8, {}, 0},
        {"SegmentWithCountOtherThan2", {}, HexRecord(2, 0, {0xC0, 0x00, 0x00}), 3, {}, 0},
        {"ExtendedLinearAddress", {}, HexRecord(4, 0, {0x00, 0x0C}), 10, {}, 0},
        {"StartLinearAddress", {}, HexRecord(5, 0, {0, 0, 0, 0}), 10, {}, 0},
        {"Type9", {}, ":0100000911EE", 10, {}, 0},
        {"StartSegmentAddressHasNoEffect", {}, HexRecord(3, 0, {0xC0, 0, 0, 0}), 0, {}, 0},
        {"SegmentAloneStoresNothing", {}, kSegmentC000, 0, {}, 0},
        {"FullRowAtTheImageStart",
         {kSegmentC000},
         HexRecord(0, 0x0000, sixteen),
         0,
         {{0xC0000, 0x00}, {0xC000A, 0xAA}, {0xC000F, 0x0F}, {0xC0010, 0xFF}},
         1},
        {"LatestSegmentCounts",
         {kSegmentC000, HexSegment(0xF000)},
         HexRecord(0, 0xFFFE, {0x12, 0x34}),
         0,
         {{0xFFFFE, 0x12}, {0xFFFFF, 0x34}, {0xCFFFE, 0xFF}},
         1},
        {"SegmentNeedNotBeAligned",
         {HexSegment(0xC001)},
         HexRecord(0, 0x0004, {0x5A}),
         0,
         {{0xC0014, 0x5A}},
         1},
        {"AllFFStoresButMarksNothing",
         {kSegmentC000},
         HexRecord(0, 0x0100, {0xFF, 0xFF}),
         0,
         {{0xC0100, 0xFF}},
         0},
        {"LowerCaseDigits",
         {kSegmentC000},
         ":02002000ab0c27",
         0,
         {{0xC0020, 0xAB}, {0xC0021, 0x0C}},
         1},
    };
}

class CheckHexLineTest : public testing::TestWithParam<HexLineCase> {};

TEST_P(CheckHexLineTest, GivesItsStatusAndStoresOnlyWhenAccepted) {
    const HexLineCase& c = GetParam();
    MemoryImage image;
    HexFileParser parser;
    for (const std::string& line : c.before) ASSERT_EQ(parser.CheckHexLine(image, line), 0) << line;
    const MemoryImage beforeLine = image;
    const std::int16_t status = parser.CheckHexLine(image, c.line);
    EXPECT_EQ(status, c.status);
    if (status != 0) {
        EXPECT_TRUE(image == beforeLine) << "a refused line stored bytes";
    }
    for (const Cell& cell : c.cells) {
        EXPECT_EQ(image.At(cell.address), cell.value) << std::hex << cell.address;
    }
    int marked = 0;
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) marked += image.IsLineUsed(row);
    EXPECT_EQ(marked, c.markedRows);
}

INSTANTIATE_TEST_SUITE_P(Lines, CheckHexLineTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexFileParser, StartsEveryFileAtSegmentZero) {
    MemoryImage image;
    HexFileParser first;
    ASSERT_EQ(first.CheckHexLine(image, kSegmentC000), 0);
    EXPECT_EQ(first.SegmentBase(), 0xC0000u);
    EXPECT_EQ(first.CheckHexLine(image, HexRecord(0, 0, {1})), 0);
    HexFileParser next;
    EXPECT_EQ(next.SegmentBase(), 0u);
    EXPECT_EQ(next.CheckHexLine(image, HexRecord(0, 0, {1})), kHexRowOutsideImage);
}

TEST(HexFileParser, RefusedSegmentKeepsTheEarlierBase) {
    MemoryImage image;
    HexFileParser parser;
    ASSERT_EQ(parser.CheckHexLine(image, kSegmentC000), 0);
    EXPECT_EQ(parser.CheckHexLine(image, ":02000002F00000"), kHexBadChecksum);
    EXPECT_EQ(parser.SegmentBase(), 0xC0000u);
}

}  // namespace
}  // namespace rqm5
