#include <gtest/gtest.h>

#include <cmath>

#include "linearity/code_sets.h"
#include "linearity/transfer_figures.h"
#include "synthetic_dac.h"

namespace {

using namespace tarnel::linearity;
using namespace tarnel::linearity::test;

constexpr std::uint32_t kMid = 1u << 17;

// Codes around the major carry and both ends, plus a grid for the best fit.
std::vector<std::uint32_t> TestCodes() {
    std::vector<std::uint32_t> codes = GridCodes(0, kFull, 1025);
    for (const std::uint32_t code : {1u, kMid - 1, kMid + 1, kFull - 1}) codes.push_back(code);
    return codes;
}

TEST(TransferFiguresTest, FiguresOfDacsWithOneKnownError) {
    SyntheticDac offset, gain, carry, bowed;
    offset.offsetVolts = 50e-6;
    gain.gain = 100e-6;
    carry.bitLsb[17] = 1.5;
    bowed.bowLsb = 2;
    const double lsb = kScale.lsbVolts;
    struct Case {
        const char* name;
        SyntheticDac dac;
        double offsetLsb, gainPpm, inlEndPoint, dnl;
        std::uint32_t dnlCode;
        double inlBestFit;
    };
    // Worked by hand: a carry error e at 2^17 gives DNL e and end-point INL ±e/2 on either side;
    // a bow b gives end-point INL b at mid-scale and best-fit INL −b·2/3 at the ends (the line
    // sits at the bow's mean, 2b/3).
    const Case cases[] = {
        {"offset", offset, 50e-6 / lsb, 0, 0, 0, 1, 0},
        {"gain", gain, 0, 100, 0, 0, 1, 0},
        {"carry", carry, 0, 1.5 / kFull * 1e6, -0.75, 1.5, kMid, -0.75},
        {"bow", bowed, 0, 0, 2, 0, 1, -4.0 / 3},
    };
    for (const Case& c : cases) {
        const auto figures = AnalyseTransfer(c.dac.Measure(TestCodes()), kScale);
        ASSERT_TRUE(figures) << c.name;
        EXPECT_NEAR(*figures->offsetLsb, c.offsetLsb, 1e-9) << c.name;
        EXPECT_NEAR(*figures->offsetUv, c.offsetLsb * lsb * 1e6, 1e-6) << c.name;
        EXPECT_NEAR(figures->gainErrorPpm, c.gainPpm, 1e-3) << c.name;
        EXPECT_NEAR(figures->gainErrorPercentFsr, c.gainPpm / 1e4, 1e-7) << c.name;
        EXPECT_NEAR(figures->measuredLsbVolts, (c.dac.Volts(kFull) - c.dac.Volts(0)) / kFull, 1e-15) << c.name;
        EXPECT_NEAR(std::fabs(figures->inlEndPointLsb.value), std::fabs(c.inlEndPoint), 1e-4) << c.name;
        ASSERT_TRUE(figures->dnlLsb) << c.name;
        EXPECT_NEAR(figures->dnlLsb->value, c.dnl, 1e-4) << c.name;
        if (c.dnl != 0) {
            EXPECT_EQ(figures->dnlLsb->code, c.dnlCode) << c.name;
        }
        EXPECT_NEAR(figures->inlBestFitLsb.value, c.inlBestFit, 0.01) << c.name;
        EXPECT_TRUE(figures->monotonic) << c.name;
        EXPECT_FALSE(figures->noiseUvRms) << c.name;
    }
}

TEST(TransferFiguresTest, PerPointFiguresFollowTheGivenOrderAndDnlNeedsBothCodes) {
    SyntheticDac dac;
    dac.bitLsb[0] = 0.25;
    std::vector<MeasuredPoint> points = dac.Measure({kFull, 5, 4, 0, 9});
    points[1].readings = 4;
    points[1].stdDevVolts = 1e-6;
    points[2].readings = 2;
    points[2].stdDevVolts = 3e-6;
    const auto figures = AnalyseTransfer(points, kScale);
    ASSERT_TRUE(figures);
    ASSERT_EQ(figures->perPoint.size(), 5u);
    const std::uint32_t order[] = {kFull, 5, 4, 0, 9};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(figures->perPoint[i].code, order[i]);
    const double step = (dac.Volts(kFull) - dac.Volts(0)) / kFull;
    ASSERT_TRUE(figures->perPoint[1].dnlLsb);
    EXPECT_NEAR(*figures->perPoint[1].dnlLsb, (dac.Volts(5) - dac.Volts(4)) / step - 1, 1e-12);
    EXPECT_FALSE(figures->perPoint[0].dnlLsb || figures->perPoint[2].dnlLsb || figures->perPoint[4].dnlLsb);
    EXPECT_NEAR(*figures->noiseUvRms, std::sqrt((1.0 + 9.0) / 2), 1e-9) << "only points with two readings or more";
}

TEST(TransferFiguresTest, MonotonicityFailsAtTheFirstCodeThatDoesNotRise) {
    SyntheticDac carry;
    carry.bitLsb[17] = -1.5;   // DNL(2^17) = −1.5
    const auto adjacent = AnalyseTransfer(carry.Measure({0, kMid - 1, kMid, kFull}), kScale);
    ASSERT_TRUE(adjacent);
    EXPECT_FALSE(adjacent->monotonic);
    EXPECT_EQ(adjacent->firstFallCode, kMid);
    EXPECT_NEAR(adjacent->dnlLsb->value, -1.5, 1e-4);

    carry.bitLsb[17] = -4;   // a fall seen only between codes three apart
    const auto apart = AnalyseTransfer(carry.Measure({0, kMid - 2, kMid + 1, kFull}), kScale);
    ASSERT_TRUE(apart);
    EXPECT_FALSE(apart->dnlLsb);
    EXPECT_FALSE(apart->monotonic);
    EXPECT_EQ(apart->firstFallCode, kMid + 1);
}

TEST(TransferFiguresTest, RefusesPointsThatGiveNoFigures) {
    const std::vector<std::vector<MeasuredPoint>> cases = {
        {},
        {{5, 1.0}},
        {{5, 1.0}, {5, 1.1}},                 // one code twice
        {{0, 1.0}, {9, 1.0}},                 // flat
        {{0, 1.0}, {9, 0.5}},                 // falling
        {{0, 0.0}, {9, std::nan("")}},
        {{0, 0.0}, {9, 1.0, 2, INFINITY}},
    };
    for (const auto& points : cases) EXPECT_FALSE(AnalyseTransfer(points, kScale)) << points.size() << " points";
}

}  // namespace
