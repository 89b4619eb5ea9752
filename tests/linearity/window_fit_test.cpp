#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "linearity/code_sets.h"
#include "linearity/window_fit.h"
#include "synthetic_dac.h"

namespace {

using namespace tarnel::linearity;
using namespace tarnel::linearity::test;

constexpr double kStep = 4.93 / 4096;   // one step of a 12-bit read-back converter

// The DAC as a 12-bit converter sees it: floor to its step, clipped at `railVolts`.
std::vector<MeasuredPoint> ReadBack(const SyntheticDac& dac, const std::vector<std::uint32_t>& codes, double railVolts) {
    std::vector<MeasuredPoint> points;
    for (const std::uint32_t code : codes) {
        const double volts = std::min(dac.Volts(code), railVolts);
        points.push_back({code, std::floor(volts / kStep) * kStep});
    }
    return points;
}

TEST(WindowFitTest, TheLineOverTheWindowIgnoresTheRails) {
    SyntheticDac dac;
    dac.offsetVolts = 3e-3;
    dac.gain = 0.002;
    const auto fit = FitWindow(ReadBack(dac, GridCodes(kFull, 0, 257), 4.5), kScale, kStep);
    ASSERT_TRUE(fit);
    EXPECT_FALSE(fit->wholeSpan);
    EXPECT_EQ(fit->fromCode, 26215u);    // ⌈0.1 K⌉
    EXPECT_EQ(fit->toCode, 235928u);     // ⌊0.9 K⌋
    EXPECT_EQ(fit->pointsFitted, 205u);
    // Flooring to the step lowers the line by half a step on average.
    EXPECT_NEAR(fit->offsetUv, (3e-3 - kStep / 2) * 1e6, 0.2 * kStep * 1e6);
    EXPECT_NEAR(fit->gainErrorPercent, 0.2, 0.01);
    EXPECT_LE(fit->deviationSteps, 0.6);
    EXPECT_NEAR(fit->deviationSteps * kStep, std::fabs(fit->deviationVolts.value), 1e-15);
    EXPECT_TRUE(fit->monotonic);
}

TEST(WindowFitTest, MonotonicAllowsOneStepBack) {
    // code, volts in steps: a fall of one step passes, of two steps fails at its code.
    const std::vector<MeasuredPoint> oneBack = {{0, 0}, {100, 10 * kStep}, {200, 9 * kStep}, {300, 30 * kStep}};
    const std::vector<MeasuredPoint> twoBack = {{0, 0}, {100, 10 * kStep}, {200, 7.9 * kStep}, {300, 30 * kStep}};
    EXPECT_TRUE(FitWindow(oneBack, kScale, kStep)->monotonic);
    const auto fit = FitWindow(twoBack, kScale, kStep);
    EXPECT_FALSE(fit->monotonic);
    EXPECT_EQ(fit->firstFallCode, 200u);
}

TEST(WindowFitTest, ShortSweepsUseEveryPointAndNonsenseIsRefused) {
    const std::vector<MeasuredPoint> three = {{0, 0}, {1, 1e-3}, {2, 2e-3}};
    const auto fit = FitWindow(three, kScale, kStep);
    ASSERT_TRUE(fit);
    EXPECT_TRUE(fit->wholeSpan);
    EXPECT_EQ(fit->pointsFitted, 3u);
    EXPECT_NEAR(fit->stepVolts, 1e-3, 1e-15);

    EXPECT_FALSE(FitWindow({}, kScale, kStep));
    EXPECT_FALSE(FitWindow(std::vector<MeasuredPoint>{{4, 1}, {4, 1}}, kScale, kStep));
    EXPECT_FALSE(FitWindow(three, kScale, 0));
    EXPECT_FALSE(FitWindow(three, kScale, kStep, 0.9, 0.1));
    EXPECT_FALSE(FitWindow(three, kScale, kStep, -0.1, 0.9));
    EXPECT_FALSE(FitWindow(std::vector<MeasuredPoint>{{0, 0}, {1, std::nan("")}}, kScale, kStep));
}

}  // namespace
