#include "image/srecord_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace rqm5 {
namespace {

struct Cell {
    std::uint32_t address;
    std::uint8_t value;
};

struct LoaderCase {
    const char* name;
    std::string line;
    std::int16_t status;
    bool rangeFailure;
    std::vector<Cell> cells;  // cells that must hold these values afterwards
    int markedRows;           // rows marked in the whole image afterwards
};

// A type-2 record at 0xC0008 with 32 bytes 0x00..0x1F (count 0x24).
std::string ThirtyTwoByteRecord() {
    std::string line = "S2240C0008";
    unsigned sum = 0x24 + 0x0C + 0x00 + 0x08;
    for (unsigned b = 0; b < 32; ++b) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
        sum += b;
    }
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFF);
    return line + checksum;
}

std::vector<LoaderCase> Cases() {
    return {
        {"Header", "S0030000FC", 0, false, {}, 0},
        {"Termination", "S804000000FB", 0, false, {}, 0},
        {"CountAndOtherTypes", "S5030001FB", 0, false, {}, 0},
        {"TypeNotADigit", "SX0C0C00000028140A060504038F", 0, false, {{0xC0000, 0xFF}}, 0},
        {"FirstBuiltInLine",
         "S20C0C00000028140A060504038F",
         0,
         false,
         {{0xC0000, 0x00}, {0xC0001, 0x28}, {0xC0007, 0x03}, {0xC0008, 0xFF}},
         1},
        {"RunsOnIntoTheNextRows",
         ThirtyTwoByteRecord(),
         0,
         false,
         {{0xC0008, 0x00}, {0xC000F, 0x07}, {0xC0010, 0x08}, {0xC0027, 0x1F}, {0xC0028, 0xFF}},
         3},
        {"LastRowEndsWithoutFailing",
         "S2080FFFFC00F00FFFEF",
         0,
         false,
         {{0xFFFFC, 0x00}, {0xFFFFD, 0xF0}, {0xFFFFF, 0xFF}},
         1},
        {"AllFFMarksNoRow", "S2070D0000FFFFFFEE", 0, false, {{0xD0000, 0xFF}}, 0},
        {"Type3InsideTheImage",
         "S307000E00001234A4",
         0,
         false,
         {{0xE0000, 0x12}, {0xE0001, 0x34}},
         1},
        {"Type1FailsAtItsFirstByte", "S1041000AB40", 0, true, {}, 0},
        {"Type1WithoutDataIsAccepted", "S1031000EC", 0, false, {}, 0},
        {"Type3OutsideFails", "S30700100000AA55E9", 0, true, {}, 0},
        {"RunsPastTheImageStoresUpToTheEnd", "S2070FFFFF11223385", 0, true, {{0xFFFFF, 0x11}}, 1},
        {"LowerCaseDigitsLoad",
         "S2060d00001a2ba7",
         0,
         false,
         {{0xD0000, 0x1A}, {0xD0001, 0x2B}},
         1},
        {"LowerCaseSIsRefused", "s2060D00001A2BA7", 9, false, {{0xD0000, 0xFF}}, 0},
        {"EmptyLineIsRefused", "", 9, false, {}, 0},
        {"NotARecord", ":00000001FF", 9, false, {}, 0},
        {"WrongChecksumIsRefused", "S2060D00001A2B00", 11, false, {{0xD0000, 0xFF}}, 0},
        {"ShortLineIsRefused", "S2060D00001A2", 12, false, {{0xD0000, 0xFF}}, 0},
        {"TypeWithoutCountIsShort", "S2", 12, false, {}, 0},
        {"CutInsideTheChecksumStoresNothing",
         ThirtyTwoByteRecord().substr(0, 75),
         12,
         false,
         {{0xC0008, 0xFF}},
         0},
        {"NonHexDataDigitIsRefused", "S2060D00001G2BA7", 12, false, {{0xD0000, 0xFF}}, 0},
        {"NonHexAddressDigitIsRefused", "S2060D0 001A2BA7", 12, false, {}, 0},
        {"NonHexChecksumDigitIsRefused", "S2060D00001A2BAZ", 12, false, {{0xD0000, 0xFF}}, 0},
        {"WrongChecksumIsFoundBeforeTheRange", "S1041000AB00", 11, false, {}, 0},
        {"TextAfterTheChecksumIsIgnored",
         "S2060D00001A2BA7 x\tZZ",
         0,
         false,
         {{0xD0000, 0x1A}, {0xD0001, 0x2B}},
         1},
        {"TerminationIsNotChecked", "S9XYZ", 0, false, {}, 0},
        {"TrailingCarriageReturnIsIgnored", "S2060D00001A2BA7\r", 0, false, {{0xD0001, 0x2B}}, 1},
    };
}

void PrintTo(const LoaderCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadSRecordLineTest : public testing::TestWithParam<LoaderCase> {};

TEST_P(LoadSRecordLineTest, StoresWhatTheLineCarries) {
    const LoaderCase& c = GetParam();
    MemoryImage image;
    const SRecordResult result = LoadSRecordLine(image, c.line);
    EXPECT_EQ(result.parseStatus, c.status);
    EXPECT_EQ(result.rangeFailure, c.rangeFailure);
    for (const Cell& cell : c.cells) {
        EXPECT_EQ(image.At(cell.address), cell.value) << std::hex << cell.address;
    }
    int marked = 0;
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) marked += image.IsLineUsed(row);
    EXPECT_EQ(marked, c.markedRows);
}

INSTANTIATE_TEST_SUITE_P(Lines, LoadSRecordLineTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadSRecordLine, LaterRecordWinsAndMarkStays) {
    MemoryImage image;
    ASSERT_EQ(LoadSRecordLine(image, "S2050C000000EE").parseStatus, 0);
    ASSERT_EQ(LoadSRecordLine(image, "S2050C0000FFEF").parseStatus, 0);
    EXPECT_EQ(image.At(0xC0000), 0xFF);
    EXPECT_TRUE(image.IsLineUsed(0xC000));
}

}  // namespace
}  // namespace rqm5
