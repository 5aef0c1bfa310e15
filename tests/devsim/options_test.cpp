#include "options.h"

#include <gtest/gtest.h>

#include <functional>

namespace rqm5::devsim {
namespace {

ParsedOptions parse(std::initializer_list<std::string_view> arguments) {
    return parseOptions(std::vector<std::string_view>(arguments));
}

TEST(OptionsTest, DefaultsDescribeAHealthyDevice) {
    const ParsedOptions parsed = parse({});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const SimulatorOptions& o = *parsed.options;
    EXPECT_EQ(o.device.rate, 57600u);
    EXPECT_EQ(o.device.lineBank, 0xF0000u);
    EXPECT_EQ(o.device.ignored, IgnoredCommands{});
    EXPECT_TRUE(o.device.ngPageCounts.empty());
    EXPECT_FALSE(o.device.garbage || o.device.noEcho || o.device.regionError || o.throttle);
    EXPECT_EQ(o.device.hangUpAfterPages, 0);
    EXPECT_EQ(o.flashFill, 0xFF);
    EXPECT_TRUE(o.dumpPath.empty() && o.logPath.empty() && o.linkPath.empty());
}

TEST(OptionsTest, GoodOptionsAreApplied) {
    struct Case {
        std::vector<std::string_view> arguments;
        std::function<bool(const SimulatorOptions&)> holds;
    };
    const Case cases[] = {
        {{"--rate", "9600"}, [](auto& o) { return o.device.rate == 9600; }},
        {{"--rate=38400"}, [](auto& o) { return o.device.rate == 38400; }},
        {{"--region-error"}, [](auto& o) { return o.device.regionError; }},
        {{"--no-reply", "ID", "--no-reply", "FLASH", "--no-reply", "BE", "--no-reply", "ED"},
         [](auto& o) {
             const auto& i = o.device.ignored;
             return i.identification && i.flashMode && i.blockErase && i.end && !i.allPages;
         }},
        {{"--no-reply", "PG"}, [](auto& o) { return o.device.ignored.allPages; }},
        {{"--no-reply", "PG@C0400", "--no-reply=PG@0xFFC00"},
         [](auto& o) {
             return o.device.ignored.pages == std::set<std::uint32_t>{0xC0400, 0xFFC00};
         }},
        {{"--ng-page", "C0800:3"}, [](auto& o) { return o.device.ngPageCounts.at(0xC0800) == 3; }},
        {{"--garbage", "--no-echo"}, [](auto& o) { return o.device.garbage && o.device.noEcho; }},
        {{"--hangup-after", "5"}, [](auto& o) { return o.device.hangUpAfterPages == 5; }},
        {{"--copy-differs", "F0010"},
         [](auto& o) { return o.device.copyDiffersAddress == 0x0010; }},
        {{"--line-no-answer"}, [](auto& o) { return o.device.lineNoAnswer; }},
        {{"--line-bank", "0xC0000"}, [](auto& o) { return o.device.lineBank == 0xC0000; }},
        {{"--pin-input", "07=1", "--pin-input", "15=1", "--pin-input", "15=0"},
         [](auto& o) {
             return o.device.pinInputHigh[7] && !o.device.pinInputHigh[15] &&
                    !o.device.pinInputHigh[0];
         }},
        {{"--throttle", "--erase-ms", "250", "--program-ms", "12"},
         [](auto& o) {
             return o.throttle && o.device.eraseTime.count() == 250 &&
                    o.device.programTime.count() == 12;
         }},
        {{"--flash-fill", "0x00"}, [](auto& o) { return o.flashFill == 0; }},
        {{"--flash-init", "a.bin", "--dump", "d.bin", "--log", "l.txt", "--link", "/tmp/x"},
         [](auto& o) {
             return o.flashInitPath == "a.bin" && o.dumpPath == "d.bin" && o.logPath == "l.txt" &&
                    o.linkPath == "/tmp/x";
         }},
        {{"-h"}, [](auto& o) { return o.showHelp; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const ParsedOptions parsed = parseOptions(c.arguments);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_TRUE(c.holds(*parsed.options));
    }
}

TEST(OptionsTest, BadOptionsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string_view>> cases = {
        {"--bogus"},
        {"extra"},
        {"--rate"},
        {"--rate", "115200"},
        {"--rate", "57600x"},
        {"--garbage=1"},
        {"--no-reply", "XX"},
        {"--no-reply", "PG@C0401"},
        {"--no-reply", "PG@100000"},
        {"--ng-page", "C0400"},
        {"--ng-page", "C0400:-1"},
        {"--ng-page", "B0000:1"},
        {"--hangup-after", "0"},
        {"--copy-differs", "xyz"},
        {"--line-bank", "F8000"},
        {"--pin-input", "16=1"},
        {"--pin-input", "07=2"},
        {"--pin-input", "07"},
        {"--erase-ms", "-5"},
        {"--flash-fill", "100"},
        {"--flash-fill", "00", "--flash-init", "a.bin"},
        {"--dump", ""},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.front());
        const ParsedOptions parsed = parseOptions(arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(OptionsTest, HelpNamesEveryOption) {
    const std::string help = usageText();
    for (const char* option :
         {"--rate",         "--throttle",     "--erase-ms",       "--program-ms", "--link",
          "--flash-fill",   "--flash-init",   "--dump",           "--line-bank",  "--region-error",
          "--pin-input",    "--no-reply",     "--ng-page",        "--garbage",    "--no-echo",
          "--hangup-after", "--copy-differs", "--line-no-answer", "--log",        "--help"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace rqm5::devsim
