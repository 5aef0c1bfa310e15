#include "loader/rqm5_device.h"

#include <gtest/gtest.h>

#include "tests/support/scripted_port.h"

namespace rqm5::test {
namespace {

class Rqm5DeviceTest : public ::testing::Test {
  protected:
    Rqm5DeviceTest() {
        EXPECT_TRUE(image.Store(0xC000, 0, 0x00));
        port.OnWrite(EchoAndReply(StandardReply, 0ms, 10ms));
    }
    ScriptedPort port;
    FixedSettings settings;
    MemoryImage image;
    Rqm5Device device{port, settings, image};
};

TEST_F(Rqm5DeviceTest, EveryProcedureRefusesToRunInsideAnother) {
    struct Case {
        const char* name;
        std::function<std::int16_t(Rqm5Device&)> call;
        std::int16_t refused;
    };
    const Case cases[] = {
        {"identify", [](Rqm5Device& d) { return d.IdentifyDevice(); }, 8},
        {"enter", [](Rqm5Device& d) { return d.EnterMode(2); }, 8},
        {"port", [](Rqm5Device& d) { return d.PortControl(); }, 8},
        {"erase", [](Rqm5Device& d) { return d.EraseBlocks(); }, -1},
        {"pages", [](Rqm5Device& d) { return d.WritePages(); }, -1},
        {"end", [](Rqm5Device& d) { return d.EndLoader(); }, -1},
        {"line", [](Rqm5Device& d) { return d.LineCommand("END", 0, 0); }, -1},
        {"lines", [](Rqm5Device& d) { return d.WriteLines(0); }, -1},
    };
    settings.pinText = "07";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<std::int16_t> inner;
        port.OnWait([&](ScriptedPort&) {
            EXPECT_TRUE(device.Busy());
            if (!inner) inner = c.call(device);
        });
        port.ClearRecords();
        const std::int16_t outer = device.EnterMode(2);
        EXPECT_EQ(outer, 3);
        EXPECT_EQ(inner, c.refused);
        EXPECT_EQ(port.Opens().size(), 1u);
        EXPECT_EQ(port.Writes().size(), 1u);
        EXPECT_EQ(port.RatesSet().size(), 1u);
        EXPECT_FALSE(device.Busy());
    }
}

TEST_F(Rqm5DeviceTest, ProgressReachesTheCallbacks) {
    std::size_t pages = 0;
    std::size_t rows = 0;
    device.SetProgress({.pageStarted = [&](std::uint32_t) { ++pages; },
                        .rowStarted = [&](std::uint32_t) { ++rows; }});
    EXPECT_EQ(device.WritePages(), 0);
    EXPECT_EQ(device.WriteLines(0), 0);
    EXPECT_EQ(pages, 252u);
    EXPECT_EQ(rows, 0x3F00u);
}

TEST_F(Rqm5DeviceTest, ProgressCallbackMayReplaceTheProgress) {
    int calls = 0;
    DeviceProgress progress;
    progress.pageStarted = [&](std::uint32_t) {
        ++calls;
        device.SetProgress({});
    };
    device.SetProgress(progress);
    EXPECT_EQ(device.WritePages(), 0);
    EXPECT_EQ(calls, 252);
}

TEST_F(Rqm5DeviceTest, ReceiveBufferShowsTheLastExchange) {
    EXPECT_EQ(device.IdentifyDevice(), 0);
    EXPECT_EQ(ToText(device.rxBuffer()), "QZ~RQ-M5T\r\r\nOK\r\n");
}

}  // namespace
}  // namespace rqm5::test
