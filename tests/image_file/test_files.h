#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rqm5::testing_files {

// A folder of its own for one test, removed with everything in it afterwards.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "rqm5-image-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary folder";
        folder = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    // Writes the bytes exactly as given (no newline translation) and returns the file's path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(folder / name, std::ios::binary);
        out << bytes;
        EXPECT_TRUE(out.good()) << name;
        return Path(name);
    }

  private:
    std::filesystem::path folder;
};

inline std::string HexPair(unsigned value) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", value & 0xFF);
    return pair;
}

// An Intel HEX record with a correct checksum.
inline std::string HexRecord(unsigned type, unsigned address,
                             const std::vector<std::uint8_t>& data) {
    const std::vector<unsigned> head = {static_cast<unsigned>(data.size()), address >> 8,
                                        address & 0xFF, type};
    std::string line = ":";
    unsigned sum = 0;
    for (unsigned b : head) {
        line += HexPair(b);
        sum += b;
    }
    for (std::uint8_t b : data) {
        line += HexPair(b);
        sum += b;
    }
    return line + HexPair(0x100 - (sum & 0xFF));
}

// The extended segment address record that puts the following data at segment * 16.
inline std::string HexSegment(unsigned segment) {
    return HexRecord(
        2, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment & 0xFF)});
}

// A type-2 S-record (six-digit address) with a correct checksum.
inline std::string SRecord2(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    const unsigned count = static_cast<unsigned>(data.size()) + 4;
    std::string line = "S2" + HexPair(count);
    unsigned sum = count;
    for (unsigned shift : {16u, 8u, 0u}) {
        line += HexPair(address >> shift);
        sum += (address >> shift) & 0xFF;
    }
    for (std::uint8_t b : data) {
        line += HexPair(b);
        sum += b;
    }
    return line + HexPair(~sum);
}

}  // namespace rqm5::testing_files
