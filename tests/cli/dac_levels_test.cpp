// What tarnelctl refuses to write (exit 4) and which word a voltage becomes.
#include <gtest/gtest.h>

#include <optional>

#include <tarnel/board_protocol.h>

#include "board/dac_levels.h"
#include "command_line/command_failure.h"

namespace tarnel::cli {
namespace {

using protocol::PowerDown;

template <typename Call>
std::optional<std::uint32_t> Allowed(Call&& call) {
    try {
        return call();
    } catch (const CommandFailure& failure) {
        EXPECT_EQ(failure.Status(), ExitStatus::OutOfRange) << failure.what();
        return std::nullopt;
    }
}

TEST(OutputLimitsTest, DataWordsAreRefusedNotClamped) {
    const struct { std::uint64_t word; PowerDown mode; std::optional<double> vmax; std::optional<std::uint32_t> allowed; } cases[] = {
        {0x3FFFF, PowerDown::Normal, std::nullopt, 0x3FFFF},
        {0x40000, PowerDown::Normal, std::nullopt, std::nullopt},
        {std::uint64_t{1} << 32, PowerDown::Normal, std::nullopt, std::nullopt},
        {0x20000, PowerDown::Normal, 2.465, 0x20000},     // exactly at the cap
        {0x20001, PowerDown::Normal, 2.465, std::nullopt},
        {0x3FFFF, PowerDown::ThreeState, 1.0, 0x3FFFF},   // powered down: 0 V
        {0, PowerDown::Normal, 0.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Allowed([&] { return AllowedDataWord(c.word, c.mode, c.vmax); }), c.allowed) << std::hex << c.word;
    }
}

TEST(OutputLimitsTest, VoltsBecomeTheNearestWordBelowTheCap) {
    const struct { double volts; std::optional<double> vmax; std::optional<std::uint32_t> word; } cases[] = {
        {2.465, std::nullopt, 0x20000},
        {0.0, std::nullopt, 0},
        {protocol::kFullScaleVolts, std::nullopt, protocol::kDataMask},   // full scale: the largest word
        {protocol::kFullScaleVolts + 1e-6, std::nullopt, std::nullopt},
        {-0.001, std::nullopt, std::nullopt},
        {3.3, 3.3, 0x2AD6F},   // nearest is 0x2AD70 at 3.300007 V: one step down keeps it under 3.3 V
        {3.3, std::nullopt, 0x2AD70},
        {3.300005, 3.3, 0x2AD6F},   // nearest to the same word as 3.3: the cap's own number
        {3.31, 3.3, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto word = Allowed([&] { return DataWordForVolts(c.volts, c.vmax); });
        EXPECT_EQ(word, c.word) << c.volts;
        if (word && c.vmax) {
            EXPECT_LE(protocol::DacOutputVolts(*word), *c.vmax);
        }
    }
}

}  // namespace
}  // namespace tarnel::cli
