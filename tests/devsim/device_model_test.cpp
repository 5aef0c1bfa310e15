#include "device_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "devsim_test_bytes.h"

namespace rqm5::devsim {
namespace {

using namespace rqm5::devsim::testing;
using Mode = DeviceModel::Mode;

const std::string kTail(kAnswerTail);
const std::string kLineOk = "OK\r\n" + kTail;

// What the line carried back for one run of input, in the order the front end sends it.
struct Output {
    ByteVector line;    // echo and answers as they leave
    ByteVector echo;    // the echo alone
    ByteVector answer;  // the answers alone
    std::vector<std::string> log;
    bool hangUp = false;
    bool flashSettled = false;
    std::chrono::milliseconds processingTime{0};
};

class DeviceModelTest : public ::testing::Test {
  protected:
    void start(std::uint8_t fill = 0xFF) { model.emplace(settings, ByteVector(kFlashSize, fill)); }

    Output feed(const ByteVector& input, unsigned lineRate = 0) {
        if (!model) {
            start();
        }
        Output out;
        for (std::uint8_t byte : input) {
            Reaction reaction = model->receive(byte, lineRate ? lineRate : settings.rate);
            if (reaction.echo) {
                out.echo.push_back(*reaction.echo);
                out.line.push_back(*reaction.echo);
            }
            out.answer.insert(out.answer.end(), reaction.answer.begin(), reaction.answer.end());
            out.line.insert(out.line.end(), reaction.answer.begin(), reaction.answer.end());
            if (!reaction.logLine.empty()) {
                out.log.push_back(reaction.logLine);
            }
            out.hangUp = out.hangUp || reaction.hangUp;
            out.flashSettled = out.flashSettled || reaction.flashSettled;
            out.processingTime = std::max(out.processingTime, reaction.processingTime);
        }
        return out;
    }
    Output feed(std::string_view text) { return feed(bytesOf(text)); }

    void enterFlashMode() { ASSERT_EQ(feed("QZ~FLASH\r").answer, bytesOf("CT\r\n")); }

    // True when every cell in first..last holds value.
    bool cellsAre(std::uint32_t first, std::uint32_t last, std::uint8_t value) const {
        const ByteVector& flash = model->flash();
        return std::all_of(flash.begin() + (first - kFlashBase),
                           flash.begin() + (last - kFlashBase) + 1,
                           [value](std::uint8_t cell) { return cell == value; });
    }
    ByteVector cells(std::uint32_t address, std::size_t count) const {
        auto begin = model->flash().begin() + (address - kFlashBase);
        return ByteVector(begin, begin + static_cast<std::ptrdiff_t>(count));
    }

    DeviceSettings settings;
    std::optional<DeviceModel> model;
};

// ---- text commands ---------------------------------------------------------------

TEST_F(DeviceModelTest, TextCommandsAreEchoedThenAnswered) {
    struct Case {
        const char* name;
        bool regionError;
        std::string input;
        std::string answer;
        std::vector<std::string> log;
        Mode mode;
    };
    const Case cases[] = {
        {"identify", false, "QZ~RQ-M5T\r", "\r\nOK\r\n", {"ID ok"}, Mode::Text},
        {"identify, region error", true, "QZ~RQ-M5T\r", "\r\nRE\r\n", {"ID re"}, Mode::Text},
        {"flash mode", false, "QZ~FLASH\r", "CT\r\n", {"FLASH ok"}, Mode::Flash},
        {"line mode 0", false, "QZ~E\r", kLineOk, {"MODE0 ok"}, Mode::Line0},
        {"line mode 1", false, "FL\r", kLineOk, {"MODE1 ok"}, Mode::Line1},
        {"lower case", false, "qz~flash\r", "NG\r\n", {"TEXT qz~flash ng"}, Mode::Text},
        {"trailing space", false, "QZ~FLASH \r", "NG\r\n", {"TEXT QZ~FLASH\\x20 ng"}, Mode::Text},
        {"bare CR", false, "\r", "NG\r\n", {"TEXT (empty) ng"}, Mode::Text},
        {"no CR yet", false, "QZ~RQ-M5T", "", {}, Mode::Text},
        {"overlong",
         false,
         std::string(500, 'A') + "\r",
         "NG\r\n",
         {"TEXT " + std::string(64, 'A') + "... ng"},
         Mode::Text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = {};
        settings.regionError = c.regionError;
        start();
        const Output out = feed(c.input);
        // Every byte comes back first; the answer follows the echo of the CR.
        EXPECT_EQ(out.line, joined({bytesOf(c.input), bytesOf(c.answer)}));
        EXPECT_EQ(out.log, c.log);
        EXPECT_EQ(model->mode(), c.mode);
    }
}

TEST_F(DeviceModelTest, EachAnswerFollowsTheEchoOfItsOwnCommand) {
    const Output out = feed("QZ~RQ-M5T\rQZ~FLASH\r");
    EXPECT_EQ(out.line, bytesOf("QZ~RQ-M5T\r\r\nOK\r\nQZ~FLASH\rCT\r\n"));
    EXPECT_EQ(out.log, (std::vector<std::string>{"ID ok", "FLASH ok"}));
}

TEST_F(DeviceModelTest, WrongLineSpeedGarblesEchoAndIsNeverAnswered) {
    settings.rate = 38400;
    start();
    const ByteVector command = bytesOf("QZ~RQ-M5T\r");
    const Output garbled = feed(command, 57600);
    ASSERT_EQ(garbled.echo.size(), command.size());
    for (std::size_t i = 0; i < command.size(); ++i) {
        EXPECT_NE(garbled.echo[i], command[i]) << i;
    }
    EXPECT_TRUE(garbled.answer.empty());
    EXPECT_EQ(garbled.log, std::vector<std::string>{"WRONG-RATE 57600"});

    // Nothing heard at the wrong speed sticks to the next command.
    const Output heard = feed(command, 38400);
    EXPECT_EQ(heard.line, joined({command, bytesOf("\r\nOK\r\n")}));
}

TEST_F(DeviceModelTest, NoEchoLeavesOnlyTheAnswer) {
    settings.noEcho = true;
    const Output out = feed("QZ~FLASH\r");
    EXPECT_EQ(out.line, bytesOf("CT\r\n"));
}

// ---- port control ----------------------------------------------------------------

TEST_F(DeviceModelTest, PortControlAnswersThePinState) {
    struct Case {
        const char* name;
        std::vector<std::string> commands;  // all but the last prepare the pin
        int highInput;                      // pin whose input reads high, -1: none
        std::string code;                   // of the last command's framed answer
    };
    const Case cases[] = {
        {"output low", {"QZ~P070"}, -1, "00"},
        {"output high", {"QZ~P071"}, -1, "01"},
        {"input reads low", {"QZ~P072"}, -1, "02"},
        {"input reads high", {"QZ~P072"}, 7, "03"},
        {"read of a fresh pin", {"QZ~P123"}, 12, "03"},
        {"read keeps output", {"QZ~P071", "QZ~P073"}, 7, "01"},
        {"back to input", {"QZ~P071", "QZ~P072"}, -1, "02"},
        {"last pin", {"QZ~P151"}, -1, "01"},
        {"pin 16", {"QZ~P161"}, -1, "NG"},
        {"letter in pin", {"QZ~P7x3"}, -1, "NG"},
        {"action 4", {"QZ~P074"}, -1, "NG"},
        {"no pin", {"QZ~P3"}, -1, "NG"},
        {"three-digit pin", {"QZ~P0071"}, -1, "NG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = {};
        if (c.highInput >= 0) {
            settings.pinInputHigh[static_cast<std::size_t>(c.highInput)] = true;
        }
        start();
        Output out;
        for (const std::string& command : c.commands) {
            out = feed(command + "\r");
        }
        EXPECT_EQ(out.answer, bytesOf("\r\n" + c.code + "\r\n"));
    }
}

TEST_F(DeviceModelTest, PortControlIsLogged) {
    EXPECT_EQ(feed("QZ~P071\r").log, std::vector<std::string>{"PORT 07 1 01"});
    EXPECT_EQ(feed("QZ~P7x3\r").log, std::vector<std::string>{"PORT 7x3 ng"});
}

// ---- flash mode: erase -----------------------------------------------------------

TEST_F(DeviceModelTest, EraseFrameChecksumsMatchTheKnownValues) {
    EXPECT_EQ(eraseFrame(kNormalEraseEntries).back(), 0xAE);
    EXPECT_EQ(eraseFrame(kServiceEraseEntries).back(), 0xBE);
    EXPECT_EQ(endFrame().back(), 0x86);
    EXPECT_EQ(pageFrame(0xC0000, ByteVector(1024, 0xFF)).back(), 0xA3);
    EXPECT_EQ(pageFrame(0xC0000, ByteVector(1024, 0x00)).back(), 0xA3);
}

TEST_F(DeviceModelTest, EraseFrameErasesTheListedBlocks) {
    struct Block {
        std::uint32_t first, last;
    };
    const Block allBlocks[] = {{0xC0000, 0xCFFFF}, {0xD0000, 0xDFFFF}, {0xE0000, 0xEFFFF},
                               {0xF0000, 0xF7FFF}, {0xF8000, 0xF9FFF}, {0xFA000, 0xFBFFF},
                               {0xFC000, 0xFDFFF}, {0xFE000, 0xFEFFF}, {0xFF000, 0xFFFFF}};
    struct Case {
        const char* name;
        std::vector<std::uint32_t> entries;
        std::vector<std::uint32_t> erasedFirsts;  // first addresses of the erased blocks
        std::string answer;
    };
    const Case cases[] = {
        {"normal update",
         kNormalEraseEntries,
         {0xC0000, 0xD0000, 0xE0000, 0xF0000, 0xF8000, 0xFA000, 0xFC000, 0xFE000},
         "BE\r\n"},
        {"with the top block",
         kServiceEraseEntries,
         {0xC0000, 0xD0000, 0xE0000, 0xF0000, 0xF8000, 0xFA000, 0xFC000, 0xFE000, 0xFF000},
         "BE\r\n"},
        {"one block", {0x000F7FFE}, {0xF0000}, "BE\r\n"},
        {"empty list", {}, {}, "BE\r\n"},
        {"unknown entry erases nothing", {0x000CFFFE, 0x000FFFFC}, {}, "NG\r\n"},
        {"odd entry", {0x000FEFFF}, {}, "NG\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(0x00);
        enterFlashMode();
        EXPECT_EQ(feed(eraseFrame(c.entries)).answer, bytesOf(c.answer));
        for (const Block& block : allBlocks) {
            const bool erased = std::find(c.erasedFirsts.begin(), c.erasedFirsts.end(),
                                          block.first) != c.erasedFirsts.end();
            EXPECT_TRUE(cellsAre(block.first, block.last, erased ? 0xFF : 0x00))
                << std::hex << block.first;
        }
    }
}

TEST_F(DeviceModelTest, EraseIsLoggedWithItsRanges) {
    start(0x00);
    enterFlashMode();
    EXPECT_EQ(feed(eraseFrame({0x000CFFFE, 0x000FFFFE})).log,
              std::vector<std::string>{"BE C0000-CFFFF,FF000-FFFFF ok"});
    EXPECT_EQ(feed(eraseFrame({0x000FFFFC})).log,
              std::vector<std::string>{"BE 000FFFFC unknown ng"});
}

// ---- flash mode: pages -----------------------------------------------------------

TEST_F(DeviceModelTest, PageProgramsErasedCells) {
    start();
    enterFlashMode();
    const ByteVector data = pagePattern(3);
    const Output out = feed(pageFrame(0xC0400, data));
    EXPECT_EQ(out.line, joined({pageFrame(0xC0400, data), bytesOf("PG\r\n")}));
    EXPECT_EQ(out.log, std::vector<std::string>{"PG C0400 ok"});
    EXPECT_EQ(cells(0xC0400, 1024), data);
    EXPECT_TRUE(cellsAre(0xC0000, 0xC03FF, 0xFF));
    EXPECT_TRUE(cellsAre(0xC0800, 0xFFFFF, 0xFF));
    EXPECT_EQ(model->pagesProgrammed(), 1);
}

TEST_F(DeviceModelTest, PageFollowsFlashRules) {
    struct Case {
        const char* name;
        std::uint8_t fill;
        ByteVector first;   // programmed before, empty: nothing
        ByteVector second;  // the page under test
        std::string answer;
        std::string log;
    };
    ByteVector mostlyBlank(1024, 0xFF);
    mostlyBlank[5] = 0x12;
    ByteVector conflicting = pagePattern(1);
    conflicting[1000] ^= 0x01;
    const Case cases[] = {
        {"programmed cells refused", 0x00, {}, pagePattern(1), "NG\r\n", "PG C0400 not-erased ng"},
        {"all FF programs nothing", 0x00, {}, ByteVector(1024, 0xFF), "PG\r\n", "PG C0400 ok"},
        {"identical re-program", 0xFF, pagePattern(1), pagePattern(1), "PG\r\n", "PG C0400 ok"},
        {"one changed cell", 0xFF, pagePattern(1), conflicting, "NG\r\n", "PG C0400 not-erased ng"},
        {"FF over programmed cells", 0xFF, pagePattern(1), mostlyBlank, "NG\r\n",
         "PG C0400 not-erased ng"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.fill);
        enterFlashMode();
        if (!c.first.empty()) {
            ASSERT_EQ(feed(pageFrame(0xC0400, c.first)).answer, bytesOf("PG\r\n"));
        }
        const ByteVector before = model->flash();
        const Output out = feed(pageFrame(0xC0400, c.second));
        EXPECT_EQ(out.answer, bytesOf(c.answer));
        EXPECT_EQ(out.log, std::vector<std::string>{c.log});
        if (c.answer == "NG\r\n") {
            EXPECT_EQ(model->flash(), before);
        }
    }
}

TEST_F(DeviceModelTest, PageOutsideTheFlashIsRefused) {
    const std::uint32_t addresses[] = {0xBFC00, 0xC0200, 0xFFE00, 0x000000, 0xFFFC00};
    for (std::uint32_t address : addresses) {
        SCOPED_TRACE(address);
        start();
        enterFlashMode();
        const Output out = feed(pageFrame(address, pagePattern(0)));
        EXPECT_EQ(out.answer, bytesOf("NG\r\n"));
        EXPECT_EQ(model->flash(), ByteVector(kFlashSize, 0xFF));
    }
    start();
    enterFlashMode();
    EXPECT_EQ(feed(pageFrame(0xFFC00, pagePattern(0))).answer, bytesOf("PG\r\n"));
}

// ---- flash mode: frames ----------------------------------------------------------

TEST_F(DeviceModelTest, BrokenFramesAreAnsweredNg) {
    ByteVector badSum = pageFrame(0xC0400, pagePattern(0));
    badSum.back() ^= 0x01;
    ByteVector badData = pageFrame(0xC0400, pagePattern(0));
    badData[500] ^= 0x80;  // a byte changed on the way
    struct Case {
        const char* name;
        ByteVector frame;
        std::string log;
    };
    const Case cases[] = {
        {"checksum", badSum, "FRAME PG checksum ng"},
        {"changed data", badData, "FRAME PG checksum ng"},
        {"unknown letters", loaderFrame('X', 'Y', {}), "FRAME XY unknown ng"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        enterFlashMode();
        const Output out = feed(c.frame);
        EXPECT_EQ(out.answer, bytesOf("NG\r\n"));
        EXPECT_EQ(out.log, std::vector<std::string>{c.log});
        EXPECT_EQ(model->flash(), ByteVector(kFlashSize, 0xFF));
        EXPECT_EQ(model->mode(), Mode::Flash);
    }
}

TEST_F(DeviceModelTest, FrameIsFoundBehindStrayBytes) {
    start();
    enterFlashMode();
    const ByteVector data = pagePattern(9);
    // Text and a lone FF before the header are skipped; FF FF FE still starts a frame.
    const Output out =
        feed(joined({bytesOf("QZ~RQ-M5T\r"), {0x00, 0xFF, 0x12, 0xFF}, pageFrame(0xC0800, data)}));
    EXPECT_EQ(out.answer, bytesOf("PG\r\n"));
    EXPECT_EQ(cells(0xC0800, 1024), data);
}

TEST_F(DeviceModelTest, EndFrameLeavesFlashMode) {
    start();
    enterFlashMode();
    ByteVector end(kFrameLength, 0xFF);
    end[1] = 0xFE;
    end[2] = 'E';
    end[3] = 'D';
    end[kFrameLength - 1] = 0x86;
    const Output out = feed(end);
    EXPECT_EQ(out.answer, bytesOf("ED\r\n"));
    EXPECT_EQ(out.log, std::vector<std::string>{"ED ok"});
    EXPECT_TRUE(out.flashSettled);
    EXPECT_EQ(model->mode(), Mode::Text);
    EXPECT_EQ(feed("QZ~RQ-M5T\r").answer, bytesOf("\r\nOK\r\n"));
}

// ---- line modes ------------------------------------------------------------------

ByteVector dataRecord(std::uint16_t address, std::uint8_t seed) {
    ByteVector record{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    for (int i = 0; i < 16; ++i) {
        record.push_back(static_cast<std::uint8_t>(seed + i));
    }
    record.push_back(0);
    record.push_back(0);
    return record;
}

ByteVector controlRecord(std::array<std::uint8_t, 4> head) {
    ByteVector record(20, 0);
    std::copy(head.begin(), head.end(), record.begin());
    return record;
}

const ByteVector kEraseRecord = controlRecord({0x01, 0x01, 0x0D, 0x0A});
const ByteVector kEndRecord = controlRecord({0x00, 0x00, 0x0D, 0x0A});
const ByteVector kOkRecord = controlRecord({'O', 'K', 0x0D, 0x0A});
const ByteVector kNgRecord = controlRecord({'N', 'G', 0x0D, 0x0A});

class LineModeTest : public DeviceModelTest, public ::testing::WithParamInterface<int> {
  protected:
    void enterLineMode(std::uint8_t fill = 0xFF) {
        start(fill);
        ASSERT_EQ(feed(GetParam() == 0 ? "QZ~E\r" : "FL\r").answer, bytesOf(kLineOk));
    }
    // Mode 1 puts "CL~" in front of every record.
    ByteVector wire(const ByteVector& record) const {
        return GetParam() == 0 ? record : joined({bytesOf("CL~"), record});
    }
    Output send(const ByteVector& record) { return feed(wire(record)); }
    std::string logName() const { return GetParam() == 0 ? "LINE0 " : "LINE1 "; }
};

TEST_P(LineModeTest, DataRecordIsCopiedAndCommittedByOk) {
    enterLineMode();
    const ByteVector record = dataRecord(0x0010, 0x40);
    const Output copy = send(record);
    EXPECT_EQ(copy.line, joined({wire(record), record}));
    EXPECT_EQ(copy.log, std::vector<std::string>{logName() + "DATA F0010 ok"});
    EXPECT_TRUE(cellsAre(0xF0010, 0xF001F, 0xFF)) << "written before the OK";

    const Output ok = send(kOkRecord);
    EXPECT_EQ(ok.answer, bytesOf(kLineOk));
    EXPECT_EQ(ok.log, std::vector<std::string>{logName() + "OK F0010 ok"});
    EXPECT_EQ(cells(0xF0010, 16), ByteVector(record.begin() + 2, record.begin() + 18));
    EXPECT_TRUE(cellsAre(0xC0000, 0xF000F, 0xFF));
    EXPECT_TRUE(cellsAre(0xF0020, 0xFFFFF, 0xFF));
}

TEST_P(LineModeTest, NgRecordDropsThePendingRowSilently) {
    enterLineMode();
    send(dataRecord(0x0010, 0x40));
    const Output ng = send(kNgRecord);
    EXPECT_TRUE(ng.answer.empty());
    EXPECT_EQ(ng.log, std::vector<std::string>{logName() + "NG dropped"});
    EXPECT_EQ(send(kOkRecord).answer, bytesOf(kLineOk));
    EXPECT_EQ(model->flash(), ByteVector(kFlashSize, 0xFF));
}

TEST_P(LineModeTest, OkOnProgrammedCellsIsRefused) {
    enterLineMode(0x00);
    send(dataRecord(0x0010, 0x40));
    EXPECT_EQ(send(kOkRecord).answer, bytesOf("NG\r\n" + kTail));
    EXPECT_EQ(model->flash(), ByteVector(kFlashSize, 0x00));
}

TEST_P(LineModeTest, EraseRecordErasesTheBank) {
    settings.lineBank = 0xD0000;
    enterLineMode(0x00);
    const Output out = send(kEraseRecord);
    EXPECT_EQ(out.answer, bytesOf(kLineOk));
    EXPECT_EQ(out.log, std::vector<std::string>{logName() + "ERASE D0000-DFFFF ok"});
    EXPECT_TRUE(cellsAre(0xD0000, 0xDFFFF, 0xFF));
    EXPECT_TRUE(cellsAre(0xC0000, 0xCFFFF, 0x00));
    EXPECT_TRUE(cellsAre(0xE0000, 0xFFFFF, 0x00));
    // Rows land in the chosen bank.
    send(dataRecord(0x1230, 0x10));
    send(kOkRecord);
    EXPECT_EQ(cells(0xD1230, 1), ByteVector{0x10});
}

TEST_P(LineModeTest, EndRecordReturnsToTextCommands) {
    enterLineMode();
    const Output out = send(kEndRecord);
    EXPECT_EQ(out.answer, bytesOf(kLineOk));
    EXPECT_TRUE(out.flashSettled);
    EXPECT_EQ(model->mode(), Mode::Text);
    EXPECT_EQ(feed("QZ~FLASH\r").answer, bytesOf("CT\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Modes, LineModeTest, ::testing::Values(0, 1),
                         [](const auto& info) { return "Mode" + std::to_string(info.param); });

TEST_F(DeviceModelTest, LineMode1WaitsForItsPrefix) {
    start();
    feed("FL\r");
    const ByteVector record = dataRecord(0x0020, 0x01);
    // A bare record is not a record in mode 1; junk and a false start are skipped.
    EXPECT_TRUE(feed(record).answer.empty());
    const Output out = feed(joined({bytesOf("xCCL~"), record}));
    EXPECT_EQ(out.answer, record);
}

// ---- faults ----------------------------------------------------------------------

TEST_F(DeviceModelTest, IgnoredCommandsAreEchoedButNotCarriedOut) {
    struct Case {
        const char* name;
        void (*ignore)(IgnoredCommands&);
        bool inFlashMode;
        ByteVector command;
        std::string log;
        Mode modeAfter;
    };
    const Case cases[] = {
        {"identification", [](IgnoredCommands& i) { i.identification = true; }, false,
         bytesOf("QZ~RQ-M5T\r"), "ID silent", Mode::Text},
        {"flash mode", [](IgnoredCommands& i) { i.flashMode = true; }, false, bytesOf("QZ~FLASH\r"),
         "FLASH silent", Mode::Text},
        {"erase", [](IgnoredCommands& i) { i.blockErase = true; }, true,
         eraseFrame(kServiceEraseEntries), "BE silent", Mode::Flash},
        {"every page", [](IgnoredCommands& i) { i.allPages = true; }, true,
         pageFrame(0xD0000, ByteVector(1024, 0xFF)), "PG D0000 silent", Mode::Flash},
        {"one page", [](IgnoredCommands& i) { i.pages.insert(0xD0000); }, true,
         pageFrame(0xD0000, ByteVector(1024, 0xFF)), "PG D0000 silent", Mode::Flash},
        {"end", [](IgnoredCommands& i) { i.end = true; }, true, endFrame(), "ED silent",
         Mode::Flash},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = {};
        c.ignore(settings.ignored);
        start(0x00);
        if (c.inFlashMode) {
            enterFlashMode();
        }
        const Output out = feed(c.command);
        EXPECT_EQ(out.line, c.command);
        EXPECT_EQ(out.log, std::vector<std::string>{c.log});
        EXPECT_EQ(model->mode(), c.modeAfter);
        EXPECT_EQ(model->flash(), ByteVector(kFlashSize, 0x00));
    }
}

TEST_F(DeviceModelTest, IgnoringOnePageLeavesTheOthersAnswered) {
    settings.ignored.pages.insert(0xC0400);
    start();
    enterFlashMode();
    EXPECT_TRUE(feed(pageFrame(0xC0400, pagePattern(1))).answer.empty());
    EXPECT_EQ(feed(pageFrame(0xC0800, pagePattern(1))).answer, bytesOf("PG\r\n"));
    EXPECT_TRUE(cellsAre(0xC0400, 0xC07FF, 0xFF));
}

TEST_F(DeviceModelTest, NgPageRefusesTheFirstFramesOnly) {
    settings.ngPageCounts[0xC0400] = 2;
    start();
    enterFlashMode();
    const ByteVector frame = pageFrame(0xC0400, pagePattern(5));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Output out = feed(frame);
        EXPECT_EQ(out.answer, bytesOf("NG\r\n"));
        EXPECT_EQ(out.log, std::vector<std::string>{"PG C0400 forced ng"});
        EXPECT_TRUE(cellsAre(0xC0400, 0xC07FF, 0xFF));
    }
    EXPECT_EQ(feed(frame).answer, bytesOf("PG\r\n"));
    EXPECT_EQ(cells(0xC0400, 1024), pagePattern(5));
    EXPECT_EQ(feed(pageFrame(0xC0800, pagePattern(5))).answer, bytesOf("PG\r\n"));
}

TEST_F(DeviceModelTest, GarbageReplacesEveryCode) {
    settings.garbage = true;
    start();
    EXPECT_EQ(feed("QZ~RQ-M5T\r").answer, bytesOf("\r\nXX\r\n"));
    EXPECT_EQ(feed("QZ~P071\r").answer, bytesOf("\r\nXX\r\n"));
    EXPECT_EQ(feed("QZ~FLASH\r").answer, bytesOf("XX\r\n"));
    EXPECT_EQ(feed(pageFrame(0xC0400, pagePattern(5))).answer, bytesOf("XX\r\n"));
    EXPECT_EQ(feed(endFrame()).answer, bytesOf("XX\r\n"));
    EXPECT_EQ(feed("QZ~E\r").answer, bytesOf("XX\r\n" + kTail));
    EXPECT_EQ(feed(dataRecord(0x10, 1)).answer, ByteVector(20, 'X'));
}

TEST_F(DeviceModelTest, HangUpAfterTheKthPageInsteadOfItsAnswer) {
    settings.hangUpAfterPages = 2;
    start();
    enterFlashMode();
    const Output first = feed(pageFrame(0xC0000, pagePattern(1)));
    EXPECT_EQ(first.answer, bytesOf("PG\r\n"));
    EXPECT_FALSE(first.hangUp);
    const Output second = feed(pageFrame(0xC0400, pagePattern(2)));
    EXPECT_TRUE(second.answer.empty());
    EXPECT_TRUE(second.hangUp);
    EXPECT_EQ(cells(0xC0400, 1024), pagePattern(2));
}

TEST_F(DeviceModelTest, CopyDiffersOnceForTheChosenRow) {
    settings.copyDiffersAddress = 0x0030;
    start();
    feed("QZ~E\r");
    const ByteVector other = dataRecord(0x0020, 1);
    EXPECT_EQ(feed(other).answer, other);
    const ByteVector chosen = dataRecord(0x0030, 2);
    const Output first = feed(chosen);
    ASSERT_EQ(first.answer.size(), 20u);
    EXPECT_TRUE(std::equal(chosen.begin(), chosen.begin() + 19, first.answer.begin()));
    EXPECT_NE(first.answer[19], chosen[19]);
    EXPECT_EQ(first.log, std::vector<std::string>{"LINE0 DATA F0030 differs"});
    feed(kNgRecord);
    EXPECT_EQ(feed(chosen).answer, chosen);
}

TEST_F(DeviceModelTest, LineNoAnswerSilencesRecords) {
    settings.lineNoAnswer = true;
    start();
    feed("QZ~E\r");
    const Output data = feed(dataRecord(0x0010, 1));
    EXPECT_EQ(data.line, dataRecord(0x0010, 1));
    EXPECT_EQ(data.log, std::vector<std::string>{"LINE0 DATA F0010 silent"});
    EXPECT_TRUE(feed(kOkRecord).answer.empty());
    EXPECT_TRUE(feed(kEndRecord).answer.empty());
    EXPECT_EQ(model->mode(), Mode::Text) << "still carried out";
}

TEST_F(DeviceModelTest, ProcessingTimesComeWithEraseAndProgram) {
    settings.eraseTime = std::chrono::milliseconds(40);
    settings.programTime = std::chrono::milliseconds(7);
    start();
    EXPECT_EQ(feed("QZ~FLASH\r").processingTime, std::chrono::milliseconds(0));
    EXPECT_EQ(feed(eraseFrame(kNormalEraseEntries)).processingTime, std::chrono::milliseconds(40));
    EXPECT_EQ(feed(pageFrame(0xC0400, pagePattern(1))).processingTime,
              std::chrono::milliseconds(7));
    EXPECT_EQ(feed(endFrame()).processingTime, std::chrono::milliseconds(0));
}

// ---- robustness ------------------------------------------------------------------

TEST_F(DeviceModelTest, SurvivesRandomBytesInEveryMode) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const char* entry : {"", "QZ~FLASH\r", "QZ~E\r", "FL\r"}) {
        SCOPED_TRACE(entry);
        start();
        feed(entry);
        ByteVector noise(200'000);
        for (auto& b : noise) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        const Output out = feed(noise);
        EXPECT_EQ(out.echo, noise);
        EXPECT_EQ(model->flash().size(), kFlashSize);
    }
}

}  // namespace
}  // namespace rqm5::devsim
