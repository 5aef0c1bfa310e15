#include "image/memory_image.h"

#include <gtest/gtest.h>

namespace rqm5 {
namespace {

TEST(MemoryImage, ClearedImageHoldsFFAndNoMarkedRow) {
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xC123, 4, 0x00));
    image.ClearImage();
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) {
        ASSERT_FALSE(image.IsLineUsed(row)) << row;
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            ASSERT_EQ(image.Cell(row, column), 0xFF);
        }
    }
}

TEST(MemoryImage, StoreMarksRowOnlyForBytesBelowFF) {
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xD000, 0, 0xFF));
    EXPECT_FALSE(image.IsLineUsed(0xD000));
    ASSERT_TRUE(image.Store(0xD000, 1, 0x00));
    EXPECT_TRUE(image.IsLineUsed(0xD000));
    ASSERT_TRUE(image.Store(0xD000, 1, 0xFF));  // a mark once set stays
    EXPECT_TRUE(image.IsLineUsed(0xD000));
    EXPECT_EQ(image.Cell(0xD000, 1), 0xFF);
    EXPECT_FALSE(image.IsLineUsed(0xD001));
}

TEST(MemoryImage, StoreOutsideTheImageIsARangeFailureThatStoresNothing) {
    MemoryImage image;
    const MemoryImage before = image;
    EXPECT_FALSE(image.Store(0xBFFF, 15, 0x12));
    EXPECT_FALSE(image.Store(0x10000, 0, 0x12));
    EXPECT_FALSE(image.Store(0xC000, 16, 0x12));
    EXPECT_EQ(image, before);
    EXPECT_TRUE(image.Store(0xC000, 0, 0x12));
    EXPECT_TRUE(image.Store(0xFFFF, 15, 0x12));
}

TEST(MemoryImage, PageHasDataLooksAtAll64Rows) {
    MemoryImage image;
    EXPECT_FALSE(image.PageHasData(0xC040));
    ASSERT_TRUE(image.Store(0xC07F, 15, 0x01));
    EXPECT_TRUE(image.PageHasData(0xC040));
    EXPECT_FALSE(image.PageHasData(0xC000));
    EXPECT_FALSE(image.PageHasData(0xC080));
}

struct ChecksumCase {
    const char* start;
    const char* stop;
    bool inRange;
    std::uint32_t sum;
};

TEST(MemoryImage, ChecksumOverRanges) {
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xE000, 0, 0x00));  // cell E0000 holds 0
    ASSERT_TRUE(image.Store(0xE000, 1, 0x0A));  // cell E0001 holds 10
    const ChecksumCase cases[] = {
        {"C0000", "C1FFF", true, 0x1FE000},  // 0x2000 cleared cells
        {"E0000", "E0000", true, 0},         // one cell holding 0
        {"C0000", "C0000", true, 0xFF},      // one cleared cell
        {"FFFFF", "E0000", true, 0},         // start above stop sums nothing
        {"e0000", "e0001", true, 0x0A},      // lower case reads the same
        {"E0000", "FFFFF", true, 0x20000u * 0xFF - 0xFF - 0xF5},
        {"C0000", "FFFFF", true, 0x40000u * 0xFF - 0xFF - 0xF5},  // largest range
        {"E0000xyz", "E0001 ", true, 0x0A},  // reading stops at the first non-digit
        {"0", "FFFFF", false, 0},            // outside: refused, nothing summed
        {"", "FFFFF", false, 0},             // no digit reads as 0: refused
        {"BFFFF", "C0000", false, 0},
        {"C0000", "100000", false, 0},
        {"C0000", "1000C0000", false, 0},  // an over-long text never wraps into range
    };
    for (const auto& c : cases) {
        const ImageChecksum result = SumImageRange(image, c.start, c.stop);
        EXPECT_EQ(result.inRange, c.inRange) << c.start << ".." << c.stop;
        EXPECT_EQ(result.sum, c.sum) << c.start << ".." << c.stop;
    }
}

TEST(MemoryImage, UpperHexHasNoLeadingZeros) {
    EXPECT_EQ(UpperHex(0), "0");
    EXPECT_EQ(UpperHex(0x1FE000), "1FE000");
    EXPECT_EQ(UpperHex(0xabc), "ABC");
}

TEST(MemoryImage, DumpLinesAndHeader) {
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xFFFF, 1, 10));
    std::string cleared = "C0000 ";
    for (int i = 0; i < 16; ++i) cleared += " FF";
    EXPECT_EQ(FormatDumpLine(image, 0xC000), cleared + "\r\n");
    EXPECT_EQ(FormatDumpLine(image, 0xFFFF).substr(0, 15), "FFFF0  FF 0A FF");

    const std::string header = DumpHeaderLine();
    EXPECT_EQ(header, "ADDR   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\r\n");
    // Each column label stands above the first digit of its byte.
    const std::string line = FormatDumpLine(image, 0xFFFF);
    EXPECT_EQ(header[7], '0');
    EXPECT_EQ(line.substr(7, 2), "FF");
    EXPECT_EQ(header[10], '1');
    EXPECT_EQ(line.substr(10, 2), "0A");
    EXPECT_EQ(header[52], 'F');

    const std::string dump = FormatDump(image);
    EXPECT_EQ(dump.substr(0, header.size()), header);
    EXPECT_EQ(dump.size(), header.size() + kRowCount * cleared.size() + kRowCount * 2);
}

}  // namespace
}  // namespace rqm5
