// Read Voltage's arithmetic below the window: the converter's 12 bits, the
// voltage they stand for, the "0.###" rounding, and a failed read that is no
// measurement.
#include <cstdint>
#include <utility>

#include <tarnel/board_protocol.h>

#include "core/read_voltage.h"
#include "core/voltage_rounding.h"
#include "spine_fixture.h"

namespace tarnel::testing {
namespace {

using ReadVoltage = SpineTest;

TEST_P(ReadVoltage, KeepsTwelveBitsAndRoundsToThousandths) {
    // value read, AdcCode, OutputVoltage
    const struct { std::uint16_t raw; std::int32_t code; float volts; } cases[] = {
        {0x0000, 0, 0.0f},     {0x0001, 1, 0.001f},      {0x0064, 100, 0.12f},    {0x0400, 1024, 1.233f},
        {0x0ABC, 2748, 3.308f}, {0x0C00, 3072, 3.698f},  {0x0FFF, 4095, 4.929f},  {0x1000, 0, 0.0f},
        {0xF800, 2048, 2.465f}, {0xFFFF, 4095, 4.929f},
    };
    for (const auto& c : cases) {
        Double().SetReadBack(c.raw);
        ASSERT_TRUE(ReadOutputVoltage());
        EXPECT_EQ(Declare::AdcCode, c.code) << std::hex << c.raw;
        EXPECT_EQ(Declare::OutputVoltage, c.volts) << std::hex << c.raw;
    }
    EXPECT_EQ(Requests().size(), std::size(cases)) << "one read request each";
}

TEST_P(ReadVoltage, FailedReadKeepsTheLastGoodReading) {
    Double().SetReadBack(0x0800);
    ASSERT_TRUE(ReadOutputVoltage());
    Double().SetReadBack(0x0400);
    Double().SetRequestStatus(FailedStatus(GetParam()));
    EXPECT_FALSE(ReadOutputVoltage());
    EXPECT_EQ(Declare::AdcCode, 2048);
    EXPECT_EQ(Declare::OutputVoltage, 2.465f);
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, ReadVoltage, ::testing::Values(Variant::Newer, Variant::Older),
                         VariantName);

TEST(VoltageRounding, FifteenDigitsThenHalfAwayFromZero) {
    const std::pair<double, float> cases[] = {
        {1.2324999999999999, 1.233f},   // just below half at 17 digits, half at 15
        {0.00049999999999, 0.0f},       // below half at 15 digits
        {0.0005, 0.001f},               // exact half
        {-1.2325, -1.233f},             // half away from zero
        {1e-300, 0.0f},
        {123456789012345.6, 123456789012346.0f},   // no fraction digit left at 15 digits
        {9999.9995, 10000.0f},
    };
    for (const auto& [volts, rounded] : cases) EXPECT_EQ(RoundedToThousandths(volts), rounded) << volts;
}

}  // namespace
}  // namespace tarnel::testing
