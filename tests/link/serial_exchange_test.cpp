#include "link/serial_exchange.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/scripted_port.h"

namespace rqm5::test {
namespace {

class SerialExchangeTest : public ::testing::Test {
  protected:
    ScriptedPort port;
    FixedSettings settings;
    ExchangeContext context{port, settings};
};

TEST_F(SerialExchangeTest, LineSettingHonoursOnlyTheRatesTheExchangeSupports) {
    struct Case {
        int option;
        RateChoice rates;
        int expected;
    };
    const Case cases[] = {
        {0, RateChoice::kTwoRates, 9600},    {1, RateChoice::kTwoRates, 38400},
        {2, RateChoice::kTwoRates, 38400},  // nothing assigned: the port's first rate stays
        {0, RateChoice::kThreeRates, 9600},  {1, RateChoice::kThreeRates, 38400},
        {2, RateChoice::kThreeRates, 57600},
    };
    for (const Case& c : cases) {
        ScriptedPort fresh;
        ExchangeContext freshContext{fresh, settings};
        settings.rateOption = c.option;
        SelectLineSetting(freshContext, c.rates);
        EXPECT_EQ(fresh.BaudRate(), c.expected) << "option " << c.option;
    }
}

TEST_F(SerialExchangeTest, TwoRateExchangeKeepsTheRateAssignedLast) {
    settings.rateOption = 0;
    SelectLineSetting(context, RateChoice::kThreeRates);
    settings.rateOption = 2;
    SelectLineSetting(context, RateChoice::kThreeRates);
    SelectLineSetting(context, RateChoice::kTwoRates);
    EXPECT_EQ(port.BaudRate(), 57600);
    EXPECT_EQ(port.RatesSet(), (std::vector<int>{9600, 57600}));
}

TEST_F(SerialExchangeTest, OpenPortReadsTheComNumberOnlyWhenClosed) {
    settings.portNumber = 4;
    OpenPort(context);
    settings.portNumber = 7;
    OpenPort(context);  // already open: untouched
    ClosePort(context);
    ClosePort(context);
    OpenPort(context);
    ASSERT_EQ(port.Opens().size(), 2u);
    EXPECT_EQ(port.Opens()[0].portNumber, 4);
    EXPECT_EQ(port.Opens()[1].portNumber, 7);
    EXPECT_EQ(port.CloseCount(), 1);
}

TEST_F(SerialExchangeTest, WaitEndsAtTheThresholdOrAfterFiveSeconds) {
    OpenPort(context);
    port.Deliver("12345", 300ms);
    EXPECT_TRUE(WaitForBytes(context, 5));
    EXPECT_EQ(port.Now(), 300ms);
    EXPECT_FALSE(WaitForBytes(context, 6));
    EXPECT_EQ(port.Now(), 5300ms);
    EXPECT_EQ(ReadReceived(context), 5u);
    EXPECT_EQ(ToText(context.rxBuffer), "12345");
    // A read replaces the buffer, also with nothing.
    EXPECT_EQ(ReadReceived(context), 0u);
    EXPECT_TRUE(context.rxBuffer.empty());
}

TEST_F(SerialExchangeTest, RunExchangeClosesThePortOnEveryPath) {
    EXPECT_EQ(RunExchange(context, RateChoice::kTwoRates, 8, [] { return std::int16_t{3}; }), 3);
    EXPECT_EQ(RunExchange(context, RateChoice::kTwoRates, 8,
                          []() -> std::int16_t { throw PortError("gone"); }),
              8);
    EXPECT_EQ(RunExchange(context, RateChoice::kTwoRates, -1,
                          []() -> std::int16_t { throw std::out_of_range("other failure"); }),
              -1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.CloseCount(), 3);
    EXPECT_FALSE(context.busy);

    port.ThrowOnOpen();
    EXPECT_EQ(RunExchange(context, RateChoice::kTwoRates, 8, [] { return std::int16_t{0}; }), 8);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialExchangeTest, RunExchangeRefusesASecondExchangeWithoutTouchingThePort) {
    std::int16_t inner = 0;
    RunExchange(context, RateChoice::kThreeRates, 8, [&] {
        inner = RunExchange(context, RateChoice::kThreeRates, -1, [] { return std::int16_t{0}; });
        return std::int16_t{0};
    });
    EXPECT_EQ(inner, -1);
    EXPECT_EQ(port.Opens().size(), 1u);
    EXPECT_EQ(port.RatesSet().size(), 1u);
}

TEST(CountResultTest, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(CountResult(1036), 1036);
    EXPECT_EQ(CountResult(40000), 32767);
}

}  // namespace
}  // namespace rqm5::test
