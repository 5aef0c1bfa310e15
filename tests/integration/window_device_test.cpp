// The window with its real serial port (QtSerialPort) against rqm5-devsim on pseudo-terminals:
// each COM number is mapped to a simulator through RQM5_COMn.
#include <gtest/gtest.h>

#include <QAction>
#include <QByteArray>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "loader/line_mode.h"
#include "qt_gtest_printers.h"
#include "recording_dialogs.h"
#include "tests/image_file/test_files.h"
#include "tests/integration/device_sim.h"
#include "tests/integration/expected_flash.h"

namespace rqm5::it {
namespace {

using rqm5::testing::RecordingDialogs;
using rqm5::testing_files::SRecord2;
using rqm5::testing_files::TempFolder;

// Safety net for waits on the window's event loop; a correct run needs a small part of it.
constexpr int kEventBoundMs = 30000;

// Rows of one line-mode bank: the records carry only the low 16 bits of an address.
constexpr std::uint32_t kRowsPerLineBank = 0x1000;
constexpr std::uint32_t kLineBankFirstRow = 0xD000;

// Word `word` (counted from 0) of each log line: the address of a PG frame (word 1) or of a
// line-mode record (word 2).
std::vector<std::string> Addresses(const std::vector<std::string>& lines, std::size_t word = 1) {
    std::vector<std::string> addresses;
    for (const std::string& line : lines) {
        std::size_t start = 0;
        for (std::size_t skip = 0; skip < word && start != std::string::npos; ++skip) {
            start = line.find(' ', start);
            if (start != std::string::npos) ++start;
        }
        if (start == std::string::npos) {
            addresses.push_back("");
            continue;
        }
        addresses.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return addresses;
}

// Whether `wanted` appears in `log` in this order, each entry a whole line, possibly with other
// lines between them.
bool ContainsInOrder(const std::vector<std::string>& log, const std::vector<std::string>& wanted) {
    auto from = log.begin();
    for (const std::string& line : wanted) {
        from = std::find(from, log.end(), line);
        if (from == log.end()) return false;
        ++from;
    }
    return true;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

::testing::AssertionResult SameFlash(const std::vector<std::uint8_t>& flash,
                                     const std::vector<std::uint8_t>& expected) {
    if (flash.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "flash dump of " << flash.size() << " bytes, expected " << expected.size();
    }
    const auto mismatch = std::mismatch(flash.begin(), flash.end(), expected.begin());
    if (mismatch.first == flash.end()) return ::testing::AssertionSuccess();
    const auto offset = static_cast<std::uint32_t>(mismatch.first - flash.begin());
    return ::testing::AssertionFailure()
           << "first difference at " << std::hex << std::uppercase << kFirstAddress + offset
           << ": device " << int{*mismatch.first} << ", expected " << int{*mismatch.second};
}

// What a line-mode sequence leaves in a device whose flash started as `fill`: the line bank is
// erased, and its marked rows hold the image.
std::vector<std::uint8_t> ExpectedAfterLineWrite(const MemoryImage& image, std::uint8_t fill) {
    std::vector<std::uint8_t> flash(kLastAddress - kFirstAddress + 1, fill);
    for (std::uint32_t row = kLineBankFirstRow; row < kLineBankFirstRow + kRowsPerLineBank; ++row) {
        for (std::uint32_t column = 0; column < kColumns; ++column) {
            flash[row * kColumns + column - kFirstAddress] =
                image.IsLineUsed(row) ? image.Cell(row, column) : std::uint8_t{0xFF};
        }
    }
    return flash;
}

// Five-digit upper-case addresses of the rows marked in the image.
std::vector<std::string> MarkedRowAddresses(const MemoryImage& image) {
    std::vector<std::string> addresses;
    for (std::uint32_t row = kFirstRow; row <= kLastLineModeRow; ++row) {
        if (image.IsLineUsed(row)) {
            addresses.push_back(QString::number(row * kColumns, 16).toUpper().toStdString());
        }
    }
    return addresses;
}

class WindowAgainstDevice : public ::testing::Test {
  protected:
    WindowAgainstDevice() {
        ClearComMappings();
        window = std::make_unique<FrmMain>(dialogs);
        dialogs.window = window.get();
        window->show();
    }

    ~WindowAgainstDevice() override {
        window.reset();
        ClearComMappings();
    }

    static void MapCom(int com, const DeviceSim& device) {
        qputenv(ComVariable(com).constData(), QByteArray::fromStdString(device.path()));
    }

    void ExpectOnlyMessage(const char* text, const char* title) const {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(text));
        EXPECT_EQ(dialogs.messages[0].title, QString::fromUtf8(title));
        EXPECT_EQ(dialogs.messages[0].icon,
                  std::string_view(title) == "OK" ? MessageIcon::None : MessageIcon::Warning);
    }

    // The window at rest after a Start, whatever its outcome.
    void ExpectIdleAfterStart() const {
        EXPECT_TRUE(window->bar->isHidden());
        EXPECT_TRUE(window->cmdKemra->isEnabled());
        EXPECT_FALSE(window->exchangeRunning());
    }

    RecordingDialogs dialogs;
    std::unique_ptr<FrmMain> window;

  private:
    static QByteArray ComVariable(int com) { return "RQM5_COM" + QByteArray::number(com); }

    static void ClearComMappings() {
        for (int com = 1; com <= FrmMain::kComEntryCount; ++com) {
            qunsetenv(ComVariable(com).constData());
        }
    }
};

TEST_F(WindowAgainstDevice, StartWritesTheImageIntoTheDevice) {
    DeviceSim device({"--flash-fill", "0x00"});
    MapCom(1, device);
    window->cmdKemra->click();
    ASSERT_EQ(device.Stop(), 0);

    ExpectOnlyMessage("Completed.", "OK");
    EXPECT_EQ(window->Text1->text(), QStringLiteral("Completed."));
    ExpectIdleAfterStart();
    EXPECT_TRUE(SameFlash(device.Flash(), ExpectedFlash(window->memoryImage, 0x00, false)));
    // 256 pages, less the top 4 KB block and the three pages without data.
    EXPECT_EQ(device.LogLinesStartingWith("PG").size(), 249u);
    EXPECT_EQ(device.LogLinesStartingWith("ED").size(), 1u);
}

struct StartFault {
    const char* name;
    std::vector<std::string> deviceOptions;
    const char* message;
    bool flashModeEntered;
    // Addresses of the PG frames the device received, in order.
    std::vector<std::string> pageFrames;
};

void PrintTo(const StartFault& fault, std::ostream* os) {
    *os << fault.name;
}

class WindowStartFault : public WindowAgainstDevice,
                         public ::testing::WithParamInterface<StartFault> {};

// A failed Start names the step, sends nothing after it, and leaves a window that updates the
// next device it meets.
TEST_P(WindowStartFault, EndsWithTheStepsMessageAndRecovers) {
    const StartFault& fault = GetParam();
    {
        DeviceSim device(fault.deviceOptions);
        MapCom(1, device);
        window->StartUpdate();
        device.Stop();

        ExpectOnlyMessage(fault.message, "NG");
        ExpectIdleAfterStart();
        const std::vector<std::string> log = device.Log();
        EXPECT_EQ(!device.LogLinesStartingWith("FLASH").empty(), fault.flashModeEntered)
            << Joined(log);
        EXPECT_EQ(Addresses(device.LogLinesStartingWith("PG")), fault.pageFrames) << Joined(log);
        EXPECT_TRUE(device.LogLinesStartingWith("ED").empty()) << Joined(log);
    }

    DeviceSim fresh;
    MapCom(1, fresh);
    window->StartUpdate();
    fresh.Stop();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("Completed."));
    EXPECT_EQ(fresh.LogLinesStartingWith("ED").size(), 1u);
    ExpectIdleAfterStart();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowStartFault,
    ::testing::Values(StartFault{"PageRefusedTenTimes",
                                 {"--ng-page", "C0400:10"},
                                 "Write failed.",
                                 true,
                                 {"C0000", "C0400", "C0400", "C0400", "C0400", "C0400", "C0400",
                                  "C0400", "C0400", "C0400", "C0400"}},
                      StartFault{"RegionError", {"--region-error"}, "Region error", false, {}},
                      StartFault{"HangUpAfterFivePages",
                                 {"--hangup-after", "5"},
                                 "Write failed.",
                                 true,
                                 {"C0000", "C0400", "C0800", "C0C00", "C1000"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The port is opened anew by every exchange, on the COM entry checked at that moment.
TEST_F(WindowAgainstDevice, ComMenuChoiceTakesEffectAtTheNextExchange) {
    DeviceSim com1;
    DeviceSim com3;
    MapCom(1, com1);
    MapCom(3, com3);

    window->Command11->click();
    window->mnuCom[3 - 1]->trigger();
    EXPECT_EQ(window->GetCOM(), 3);
    window->Command11->click();
    com1.Stop();
    com3.Stop();

    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.text, QStringLiteral("Connected."));
        EXPECT_EQ(message.title, QStringLiteral("OK"));
    }
    EXPECT_EQ(com1.Log(), std::vector<std::string>{"FLASH ok"});
    EXPECT_EQ(com3.Log(), std::vector<std::string>{"FLASH ok"});
}

// The COM menu answers at once while an exchange waits; the step that is waiting finishes on the
// port it opened, and the steps after it open the newly checked one.
TEST_F(WindowAgainstDevice, ComMenuAnswersDuringAnUpdate) {
    DeviceSim com1;
    DeviceSim com2({"--flash-fill", "0x00"});
    MapCom(1, com1);
    MapCom(2, com2);

    // Posted before Start: delivered by the first event loop that runs, the wait for the
    // identification reply.
    bool firedDuringExchange = false;
    int comRightAfterTrigger = 0;
    QTimer::singleShot(0, window.get(), [&] {
        firedDuringExchange = window->exchangeRunning();
        window->mnuCom[2 - 1]->trigger();
        comRightAfterTrigger = window->GetCOM();
    });
    window->StartUpdate();
    com1.Stop();
    com2.Stop();

    EXPECT_TRUE(firedDuringExchange);
    EXPECT_EQ(comRightAfterTrigger, 2);
    EXPECT_TRUE(window->mnuCom[2 - 1]->isChecked());
    EXPECT_FALSE(window->mnuCom[1 - 1]->isChecked());
    ExpectOnlyMessage("Completed.", "OK");
    EXPECT_EQ(com1.Log(), std::vector<std::string>{"ID ok"});
    const std::vector<std::string> log2 = com2.Log();
    ASSERT_FALSE(log2.empty());
    EXPECT_EQ(log2.front(), "FLASH ok");
    EXPECT_EQ(com2.LogLinesStartingWith("ED").size(), 1u);
    EXPECT_TRUE(SameFlash(com2.Flash(), ExpectedFlash(window->memoryImage, 0x00, false)));
}

// Closing during an update, confirmed: the exchange is abandoned, nothing is told, the window
// closes, and the device gets no end frame.
TEST_F(WindowAgainstDevice, ClosingDuringAnUpdateAbandonsIt) {
    // A line that takes real time per byte: the whole update would need more than 40 s of line
    // time at 57600 bit/s, far beyond the close below.
    DeviceSim device({"--throttle"});
    MapCom(1, device);
    dialogs.closeAnswer = true;

    bool closeRequestedDuringExchange = false;
    QElapsedTimer sinceClose;
    QTimer::singleShot(200, window.get(), [&] {
        closeRequestedDuringExchange = window->exchangeRunning();
        sinceClose.start();
        window->close();
    });
    window->StartUpdate();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kEventBoundMs));
    // Well inside the line time the rest of the update would need: it was not finished first.
    EXPECT_LT(sinceClose.elapsed(), 20000);

    EXPECT_TRUE(closeRequestedDuringExchange);
    EXPECT_EQ(dialogs.closeQuestions.size(), 1u);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(window->exchangeRunning());

    EXPECT_EQ(device.Stop(), 0);
    const std::vector<std::string> log = device.Log();
    EXPECT_TRUE(device.LogLinesStartingWith("ED").empty()) << Joined(log);
    EXPECT_LT(device.LogLinesStartingWith("PG").size(), 249u) << Joined(log);
}

// Line mode: a few records in the bank D0000..DFFFF.
std::string OneBankImageFile(const TempFolder& folder) {
    std::vector<std::uint8_t> fullRow(16);
    for (std::size_t i = 0; i < fullRow.size(); ++i)
        fullRow[i] = static_cast<std::uint8_t>(0xA0 + i);
    const std::vector<std::string> lines = {
        "S0030000FC",
        SRecord2(0xD0000, {0x11, 0x22, 0x33, 0x44}),
        SRecord2(0xD0010, fullRow),
        // Across the boundary of two rows.
        SRecord2(0xD1238, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        SRecord2(0xDFFF0, fullRow),
        "S804000000FB",
    };
    return folder.Write("one-bank.mot", Joined(lines));
}

struct LineRun {
    const char* name;
    int mode;
    bool copyDiffers;
};

void PrintTo(const LineRun& run, std::ostream* os) {
    *os << run.name;
}

class WindowLineMode : public WindowAgainstDevice, public ::testing::WithParamInterface<LineRun> {
  protected:
    static std::vector<std::string> LineDeviceOptions() {
        return {"--rate", "38400", "--line-bank", "0xD0000", "--flash-fill", "0x00"};
    }

    void SelectLineSpeed() { window->optBPS[1]->setChecked(true); }
};

TEST_P(WindowLineMode, SequenceWritesTheMarkedRows) {
    const LineRun& run = GetParam();
    std::vector<std::string> options = LineDeviceOptions();
    if (run.copyDiffers) options.insert(options.end(), {"--copy-differs", "D0010"});
    DeviceSim device(options);
    MapCom(1, device);
    SelectLineSpeed();
    TempFolder folder;
    ASSERT_TRUE(window->LoadImageFileIntoImage(QString::fromStdString(OneBankImageFile(folder))));

    window->cmdMacro[run.mode]->click();
    ASSERT_EQ(device.Stop(), 0);

    ExpectOnlyMessage("FLASH Memory writing completed.", "OK");
    EXPECT_TRUE(window->cmdMacro[run.mode]->isEnabled());
    EXPECT_TRUE(SameFlash(device.Flash(), ExpectedAfterLineWrite(window->memoryImage, 0x00)));

    const std::string line = "LINE" + std::to_string(run.mode);
    const std::vector<std::string> log = device.Log();
    EXPECT_TRUE(ContainsInOrder(log, {"MODE" + std::to_string(run.mode) + " ok",
                                      line + " ERASE D0000-DFFFF ok", line + " END ok"}))
        << Joined(log);
    std::vector<std::string> accepted;
    for (const std::string& entry : device.LogLinesStartingWith(line + " DATA ")) {
        if (entry.ends_with(" ok")) accepted.push_back(entry);
    }
    EXPECT_EQ(Addresses(accepted, 2), MarkedRowAddresses(window->memoryImage)) << Joined(log);
    if (run.copyDiffers) {
        EXPECT_TRUE(ContainsInOrder(log, {line + " DATA D0010 differs", line + " NG dropped",
                                          line + " DATA D0010 ok", line + " OK D0010 ok"}))
            << Joined(log);
    } else {
        EXPECT_TRUE(device.LogLinesStartingWith(line + " NG").empty()) << Joined(log);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowLineMode,
                         ::testing::Values(LineRun{"Mode0", 0, false}, LineRun{"Mode1", 1, false},
                                           LineRun{"Mode0CopyDiffers", 0, true},
                                           LineRun{"Mode1CopyDiffers", 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The built-in image spans four banks, which the 16-bit line addresses cannot tell apart: the
// write is refused before any record goes out.
TEST_F(WindowAgainstDevice, LineWriteRefusesAnImageOverSeveralBanks) {
    DeviceSim device({"--rate", "38400", "--line-bank", "0xD0000"});
    MapCom(1, device);
    window->optBPS[1]->setChecked(true);

    window->cmbWrite->click();
    device.Stop();

    ExpectOnlyMessage("Write failed.", "NG");
    EXPECT_TRUE(device.Log().empty()) << Joined(device.Log());
}

}  // namespace
}  // namespace rqm5::it
