// rqm5-flash against rqm5-devsim over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "image/srecord_loader.h"
#include "tests/integration/device_sim.h"
#include "tests/integration/expected_flash.h"

namespace rqm5::it {
namespace {

MemoryImage BuiltInImage() {
    MemoryImage image;
    EmbeddedImage table;
    LoadBuiltInFirmware(image, table);
    return image;
}

struct FlashRun {
    int status;
    std::string output;
    std::string errors;
};

FlashRun RunFlasher(std::vector<std::string> arguments, std::vector<std::string> env = {}) {
    ChildProcess flasher(RQM5_FLASH_PATH, arguments, env);
    const int status = flasher.Wait();
    return {status, flasher.output(), flasher.errors()};
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    const auto newline = trimmed.rfind('\n');
    return newline == std::string::npos ? trimmed : trimmed.substr(newline + 1);
}

TEST(Flasher, WholeUpdateLeavesTheImageInTheDevice) {
    DeviceSim device({"--flash-fill", "0x00"});
    const FlashRun run = RunFlasher({"--port", device.path()});
    ASSERT_EQ(device.Stop(), 0);
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_EQ(LastLine(run.output), "Completed.");
    // Not a terminal: plain progress lines, one per page with data.
    EXPECT_NE(run.output.find("\nC0400 "), std::string::npos) << run.output;

    const std::vector<std::uint8_t> flash = device.Flash();
    const std::vector<std::uint8_t> expected = ExpectedFlash(BuiltInImage(), 0x00, false);
    ASSERT_EQ(flash.size(), expected.size());
    const auto mismatch = std::mismatch(flash.begin(), flash.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == flash.end())
        << "first difference at " << std::hex << kFirstAddress + (mismatch.first - flash.begin());
    // 256 pages, less the top 4 KB block and the three pages without data.
    EXPECT_EQ(device.LogLinesStartingWith("PG").size(), 249u);
    EXPECT_EQ(device.LogLinesStartingWith("ED").size(), 1u);
}

TEST(Flasher, ServiceCodeAlsoRewritesTheTopBlock) {
    DeviceSim device({"--flash-fill", "0x00"});
    const FlashRun run = RunFlasher({"--port", device.path(), "--service-code", "--quiet"});
    ASSERT_EQ(device.Stop(), 0);
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_EQ(run.output, "Completed.\n");  // --quiet: the outcome only
    EXPECT_TRUE(device.Flash() == ExpectedFlash(BuiltInImage(), 0x00, true));
    EXPECT_EQ(device.LogLinesStartingWith("PG").size(), 253u);
}

TEST(Flasher, ComNumberFollowsItsMapping) {
    DeviceSim device;
    const FlashRun run = RunFlasher({"--port", "COM3", "--quiet"}, {"RQM5_COM3=" + device.path()});
    device.Stop();
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
}

struct FaultCase {
    const char* name;
    std::vector<std::string> deviceOptions;
    int status;
    const char* outcome;
    bool endFrameSent;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FlasherFault : public testing::TestWithParam<FaultCase> {};

TEST_P(FlasherFault, EndsWithTheFailedStepsMessage) {
    const FaultCase& c = GetParam();
    DeviceSim device(c.deviceOptions);
    const FlashRun run = RunFlasher({"--port", device.path(), "--quiet"});
    device.Stop();
    EXPECT_EQ(run.status, c.status) << run.output << run.errors;
    EXPECT_EQ(LastLine(run.output), c.outcome);
    EXPECT_EQ(device.LogLinesStartingWith("ED").empty(), !c.endFrameSent);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlasherFault,
    testing::Values(FaultCase{"RegionError", {"--region-error"}, 3, "Region error", false},
                    FaultCase{"WrongSpeed", {"--rate", "9600"}, 2, "Error", false},
                    FaultCase{"GarbageAnswers", {"--garbage"}, 2, "Error", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Flasher, PageRefusedTenTimesStopsTheUpdate) {
    DeviceSim device({"--ng-page", "C0400:10"});
    const FlashRun run = RunFlasher({"--port", device.path(), "--quiet"});
    device.Stop();
    EXPECT_EQ(run.status, 6);
    EXPECT_EQ(LastLine(run.output), "Write failed.");
    const auto pages = device.LogLinesStartingWith("PG");
    ASSERT_EQ(pages.size(), 11u);  // page C0000, then ten tries of C0400
    EXPECT_EQ(std::count_if(pages.begin(), pages.end(),
                            [](const std::string& l) { return l.find("C0400") != l.npos; }),
              10);
    EXPECT_TRUE(device.LogLinesStartingWith("ED").empty());
}

TEST(Flasher, HangUpMidUpdateIsAClearFailure) {
    DeviceSim device({"--hangup-after", "5"});
    const FlashRun run = RunFlasher({"--port", device.path(), "--quiet"});
    device.Stop();
    EXPECT_EQ(run.status, 6) << run.output << run.errors;
    EXPECT_EQ(LastLine(run.output), "Write failed.");
    EXPECT_NE(run.errors.find("rqm5-flash: "), std::string::npos) << run.errors;
}

TEST(Flasher, ImageFileReplacesTheBuiltInFirmware) {
    const std::string path = ::testing::TempDir() + "rqm5-one-record.mot";
    {
        std::ofstream file(path);
        file << "S0030000FC\nS2080D00001122334440\nS804000000FB\n";
    }
    MemoryImage image;
    ASSERT_TRUE(image.Store(0xD000, 0, 0x11) && image.Store(0xD000, 1, 0x22) &&
                image.Store(0xD000, 2, 0x33) && image.Store(0xD000, 3, 0x44));
    DeviceSim device({"--flash-fill", "0x00"});
    const FlashRun run = RunFlasher({"--port", device.path(), "--quiet", "--image", path});
    device.Stop();
    EXPECT_EQ(run.status, 0) << run.output << run.errors;
    EXPECT_TRUE(device.Flash() == ExpectedFlash(image, 0x00, false));
    EXPECT_EQ(device.LogLinesStartingWith("PG").size(), 1u);
}

TEST(Flasher, ImageFileThatDoesNotLoadSendsNothing) {
    const std::string path = ::testing::TempDir() + "rqm5-bad-checksum.mot";
    {
        std::ofstream file(path);
        file << "S2080D00001122334400\n";
    }
    DeviceSim device;
    const FlashRun run = RunFlasher({"--port", device.path(), "--image", path});
    device.Stop();
    EXPECT_EQ(run.status, 8);
    EXPECT_NE(run.errors.find("Error Code = 11 ; line number = 1"), std::string::npos)
        << run.errors;
    EXPECT_TRUE(device.Log().empty());
}

TEST(Flasher, UsageErrorsExitWith64) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--rate", "115200"}, {"--port", "COM17"}, {"--bogus"}, {"extra"}}) {
        const FlashRun run = RunFlasher(args);
        EXPECT_EQ(run.status, 64) << args[0];
        EXPECT_NE(run.errors.find("rqm5-flash: "), std::string::npos);
    }
}

TEST(Flasher, MissingPortSaysWhy) {
    const FlashRun run = RunFlasher({"--port", "/dev/rqm5-no-such-port", "--quiet"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(LastLine(run.output), "Error");
    EXPECT_NE(run.errors.find("/dev/rqm5-no-such-port"), std::string::npos) << run.errors;
}

}  // namespace
}  // namespace rqm5::it
