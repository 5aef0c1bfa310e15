#include "flash_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace rqm5::devsim {
namespace {

namespace fs = std::filesystem;

class FlashFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rqm5-devsim-file-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path writeBytes(const std::string& name, std::size_t size, char value) const {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << std::string(size, value);
        return path;
    }

    fs::path dir;
};

TEST_F(FlashFileTest, ReadsOnlyAFileOfTheFlashSize) {
    Bytes flash;
    std::string error;
    ASSERT_TRUE(readFlashFile(writeBytes("good.bin", kFlashSize, 0x5A), flash, error)) << error;
    EXPECT_EQ(flash, Bytes(kFlashSize, 0x5A));

    for (const fs::path& bad : {writeBytes("short.bin", kFlashSize - 1, 0),
                                writeBytes("long.bin", kFlashSize + 1, 0), dir / "missing.bin"}) {
        SCOPED_TRACE(bad.string());
        Bytes untouched{1, 2, 3};
        error.clear();
        EXPECT_FALSE(readFlashFile(bad.string(), untouched, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(untouched, (Bytes{1, 2, 3}));
    }
}

TEST_F(FlashFileTest, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporary) {
    const fs::path target = writeBytes("dump.bin", 10, 'x');
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target.string(), Bytes(kFlashSize, 0xA5), error)) << error;
    Bytes back;
    ASSERT_TRUE(readFlashFile(target.string(), back, error)) << error;
    EXPECT_EQ(back, Bytes(kFlashSize, 0xA5));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);

    EXPECT_FALSE(writeFileAtomically((dir / "no" / "such" / "dir.bin").string(), back, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace rqm5::devsim
