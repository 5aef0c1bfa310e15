// The firmware that the program carries keeps the figures that the device's tools were built for.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "data/embedded_firmware.h"
#include "image/hex_text.h"
#include "image/srecord_loader.h"

namespace rqm5 {
namespace {

struct Record {
    std::uint32_t address;
    std::uint32_t length;
};

class BuiltInFirmware : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        image = new MemoryImage;
        table = new EmbeddedImage;
        firstRangeFailure = LoadBuiltInFirmware(*image, *table);
    }
    static void TearDownTestSuite() {
        delete image;
        delete table;
    }

    static std::vector<Record> DataRecords() {
        std::vector<Record> records;
        for (std::int32_t i = 1; i + 1 < table->embeddedLineCount; ++i) {
            const std::string_view line = table->embeddedLines[i];
            records.push_back({ReadHexField(line, 4, 6), ReadHexField(line, 2, 2) - 4});
        }
        return records;
    }

    static inline MemoryImage* image = nullptr;
    static inline EmbeddedImage* table = nullptr;
    static inline std::int32_t firstRangeFailure = -1;
};

TEST_F(BuiltInFirmware, TableHoldsTheLinesOnce) {
    EXPECT_EQ(firstRangeFailure, 0);
    ASSERT_EQ(table->embeddedLineCount, 8023);
    EXPECT_EQ(table->embeddedLines[0], "S0030000FC");
    EXPECT_EQ(table->embeddedLines[1], "S20C0C00000028140A060504038F");
    EXPECT_EQ(table->embeddedLines[8021], "S2080FFFFC00F00FFFEF");
    EXPECT_EQ(table->embeddedLines[8022], "S804000000FB");
    for (std::size_t i = 8023; i < EmbeddedImage::kCapacity; ++i) {
        ASSERT_TRUE(table->embeddedLines[i].empty()) << i;
    }
}

TEST_F(BuiltInFirmware, EveryLineIsAWellFormedRecord) {
    for (std::int32_t i = 0; i < table->embeddedLineCount; ++i) {
        const std::string_view line = table->embeddedLines[i];
        SCOPED_TRACE(std::string(line));
        ASSERT_GE(line.size(), 10u);
        ASSERT_EQ(line[0], 'S');
        const char type = line[1];
        ASSERT_TRUE(i == 0 ? type == '0' : i == 8022 ? type == '8' : type == '2');
        ASSERT_TRUE(std::all_of(line.begin() + 2, line.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        }));
        const std::uint32_t count = ReadHexField(line, 2, 2);
        ASSERT_EQ(line.size(), 2 * count + 4);
        std::uint32_t sum = 0;
        for (std::size_t j = 2; j + 2 < line.size(); j += 2) sum += ReadHexField(line, j, 2);
        ASSERT_EQ((~sum & 0xFF), ReadHexField(line, line.size() - 2, 2));
    }
}

TEST_F(BuiltInFirmware, RecordsAscendWithoutOverlapAndHaveTheirSizes) {
    const std::vector<Record> records = DataRecords();
    ASSERT_EQ(records.size(), 8021u);
    EXPECT_EQ(records.front().address, kFirstAddress);
    EXPECT_EQ(records.back().address + records.back().length, kLastAddress + 1);
    int full = 0, runningOn = 0;
    std::uint32_t supplied = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        ASSERT_GE(r.length, 1u);
        ASSERT_LE(r.length, 32u);
        ASSERT_GE(r.address, kFirstAddress);
        ASSERT_LE(r.address + r.length, kLastAddress + 1);
        if (i > 0) {
            ASSERT_LE(records[i - 1].address + records[i - 1].length, r.address);
        }
        full += r.length == 32;
        runningOn += (r.address % 16) + r.length > 16;
        supplied += r.length;
    }
    EXPECT_EQ(full, 7906);
    EXPECT_EQ(records.size() - full, 115u);
    EXPECT_EQ(runningOn, 7976);
    EXPECT_EQ(supplied, 254650u);
}

TEST_F(BuiltInFirmware, GapsAreFortySingleBytesAndFourStretchesInTheTop64K) {
    std::vector<Record> gaps;
    std::uint32_t next = kFirstAddress;
    for (const Record& r : DataRecords()) {
        if (r.address > next) gaps.push_back({next, r.address - next});
        next = r.address + r.length;
    }
    ASSERT_EQ(gaps.size(), 44u);
    std::uint32_t uncovered = 0, longest = 0;
    std::vector<Record> stretches;
    for (const Record& g : gaps) {
        uncovered += g.length;
        longest = std::max(longest, g.length);
        if (g.length > 1) stretches.push_back(g);
        // Cells that no record covers keep the cleared value.
        EXPECT_EQ(image->At(g.address), 0xFF);
    }
    EXPECT_EQ(uncovered, 7494u);
    EXPECT_EQ(longest, 3218u);
    ASSERT_EQ(stretches.size(), 4u);
    for (const Record& s : stretches) {
        EXPECT_GE(s.address, 0xF0000u);
        EXPECT_LE(s.address + s.length, 0x100000u);
    }

    // Rows and pages: the unmarked rows all lie inside the stretches.
    int marked = 0;
    for (std::uint32_t row = kFirstRow; row <= kLastRow; ++row) {
        if (image->IsLineUsed(row)) {
            ++marked;
            continue;
        }
        const std::uint32_t address = row * 16;
        EXPECT_TRUE(std::any_of(stretches.begin(), stretches.end(),
                                [&](const Record& s) {
                                    return s.address <= address &&
                                           address + 16 <= s.address + s.length;
                                }))
            << std::hex << address;
    }
    EXPECT_EQ(marked, 15921);
    int emptyPages = 0;
    for (std::uint32_t row = kFirstRow; row <= kLastRow; row += kRowsPerPage) {
        emptyPages += !image->PageHasData(row);
    }
    EXPECT_EQ(emptyPages, 3);
}

TEST_F(BuiltInFirmware, ImageHoldsTheRecordsBytes) {
    const std::array<std::uint8_t, 8> first = {0x00, 0x28, 0x14, 0x0A, 0x06, 0x05, 0x04, 0x03};
    for (std::uint32_t i = 0; i < first.size(); ++i) EXPECT_EQ(image->At(0xC0000 + i), first[i]);
    EXPECT_TRUE(image->IsLineUsed(0xC000));
    EXPECT_EQ(image->At(0xFFFFD), 0xF0);
}

TEST_F(BuiltInFirmware, DataLooksLikeAProgram) {
    std::map<std::uint8_t, std::uint32_t> histogram;
    std::uint32_t total = 0;
    for (const Record& r : DataRecords()) {
        for (std::uint32_t a = r.address; a < r.address + r.length; ++a) {
            ++histogram[image->At(a)];
            ++total;
        }
    }
    EXPECT_GE(histogram.size(), 200u);  // varied values
    for (const auto& [value, count] : histogram) {
        EXPECT_LT(count, total / 4) << "byte " << int(value) << " dominates the image";
    }
}

}  // namespace
}  // namespace rqm5
