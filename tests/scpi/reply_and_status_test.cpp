// Numbers in replies with the digits they have, and the STATus registers
// summed up into the status byte.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scpi/reply_numbers.h"
#include "scpi/status_registers.h"

namespace tarnel::scpi {
namespace {

TEST(ReplyNumbersTest, Nr3KeepsTheDigitsAValueHas) {
    const struct {
        double value;
        int digits;
        const char* text;
    } cases[] = {
        {3.3000067138671874, 6, "3.30001E+00"},
        {2.465, 6, "2.465E+00"},
        {4.93, 6, "4.93E+00"},
        {0.0, 6, "0E+00"},
        {-0.0, 6, "0E+00"},
        {9.4032287597656e-05, 6, "9.40323E-05"},
        {-1.5e-3, 6, "-1.5E-03"},
        {1024, 6, "1.024E+03"},
        {2.0, 1, "2E+00"},
        {std::numeric_limits<double>::quiet_NaN(), 6, "9.91E+37"},
        {HUGE_VAL, 6, "9.91E+37"},
    };
    for (const auto& c : cases) EXPECT_EQ(Nr3(c.value, c.digits), c.text) << c.value;
}

TEST(StatusRegistersTest, EnabledEventsSumUpIntoTheStatusByte) {
    StatusRegisters status;
    status.operation.Update(0x0010);
    status.operation.Update(0x0000);
    EXPECT_EQ(status.operation.Condition(), 0) << "the condition follows";
    EXPECT_EQ(status.StatusByte(false, false), 0) << "not enabled";
    status.operation.SetEnable(0x0010);
    status.questionable.Latch(0x8001);   // bit 15 is never used
    EXPECT_EQ(status.StatusByte(false, false), StatusRegisters::kOperationSummary);
    status.questionable.SetEnable(0xFFFF);
    EXPECT_EQ(status.questionable.Enable(), 0x7FFF);
    status.SetServiceRequestEnable(StatusRegisters::kQuestionableSummary);
    EXPECT_EQ(status.StatusByte(true, false), 0x80 | 0x40 | 0x08 | 0x04);
    EXPECT_EQ(status.questionable.TakeEvent(), 0x0001);
    EXPECT_EQ(status.operation.TakeEvent(), 0x0010);
    EXPECT_EQ(status.StatusByte(false, true), StatusRegisters::kMessageAvailable);
    status.operation.Latch(0x0010);
    status.ClearEvents();
    status.Preset();
    EXPECT_EQ(status.operation.TakeEvent() | status.operation.Enable() | status.questionable.Enable(), 0);
}

}  // namespace
}  // namespace tarnel::scpi
