#include <gtest/gtest.h>

#include <cmath>

#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"
#include "synthetic_dac.h"

namespace {

using namespace tarnel::linearity;
using namespace tarnel::linearity::test;

SyntheticDac WithBitErrors() {
    SyntheticDac dac;
    dac.bitLsb[3] = 0.3;
    dac.bitLsb[12] = -0.4;
    dac.bitLsb[16] = -0.8;
    dac.bitLsb[17] = 1.5;
    return dac;
}

TEST(BitWeightsTest, KnownBitErrorsGiveTheirWeightsAndCarryDnl) {
    SyntheticDac offsetAndGain = WithBitErrors();
    offsetAndGain.offsetVolts = -30e-6;
    offsetAndGain.gain = 200e-6;
    for (const SyntheticDac& dac : {WithBitErrors(), offsetAndGain}) {
        const auto figures = AnalyseBits(dac.Measure(BitsCodes(18)), kScale);
        ASSERT_TRUE(figures);
        EXPECT_NEAR(figures->zeroVolts, dac.offsetVolts, 1e-12);
        double sumBelow = 0;   // Σ_{i<j} bit errors, in LSB
        ASSERT_EQ(figures->carryDnl.size(), 17u);
        for (int j = 0; j < 18; ++j) {
            const double error = dac.bitLsb[static_cast<std::size_t>(j)];
            const double ideal = std::ldexp(1.0, j);
            EXPECT_NEAR(figures->weightErrorsLsb[static_cast<std::size_t>(j)], (1 + dac.gain) * (ideal + error) - ideal,
                        1e-6) << "bit " << j;
            if (j >= 1) {
                EXPECT_EQ(figures->carryDnl[static_cast<std::size_t>(j) - 1].code, 1u << j);
                // The measured LSB differs from the ideal one by Σ errors / K: below 1e-4 here.
                EXPECT_NEAR(figures->carryDnl[static_cast<std::size_t>(j) - 1].dnlLsb, error - sumBelow, 1e-4)
                    << "carry " << j;
            }
            sumBelow += error;
        }
        EXPECT_NEAR(figures->predictedDnlLsb.value, 1.5 - (0.3 - 0.4 - 0.8), 1e-4);
        EXPECT_EQ(figures->predictedDnlLsb.code, 1u << 17);
        // Superposition holds exactly: the prediction is the DAC at every code.
        const auto predicted = PredictAllCodes(figures->zeroVolts, figures->weightsVolts);
        ASSERT_EQ(predicted.size(), 1u << 18);
        for (std::uint32_t code = 0; code <= kFull; code += 997) ASSERT_NEAR(predicted[code], dac.Volts(code), 1e-12);
        ASSERT_TRUE(figures->superpositionCheckLsb);
        EXPECT_LT(std::fabs(figures->superpositionCheckLsb->value), 1e-6);
        // End-point INL is worst beside the carry of bit 17: bits 17 and 3 give 1.8 LSB, less
        // the end-point line's 0.6 LSB × k/K; bits 16 and 12 with every other lower bit −1.2 − 0.3.
        EXPECT_NEAR(std::fabs(figures->predictedInlEndPointLsb.value), 1.5, 0.01);
        EXPECT_LE(std::abs(static_cast<int>(figures->predictedInlEndPointLsb.code) - (1 << 17)), 9);
        EXPECT_EQ(PredictedInlEndPointLsb(*figures).at(figures->predictedInlEndPointLsb.code),
                  figures->predictedInlEndPointLsb.value);
    }
}

TEST(BitWeightsTest, ABowDoesNotAddUpAndShowsInTheSuperpositionCheck) {
    SyntheticDac bowed;
    bowed.bowLsb = 3;
    const auto figures = AnalyseBits(bowed.Measure(BitsCodes(18)), kScale);
    ASSERT_TRUE(figures);
    ASSERT_TRUE(figures->superpositionCheckLsb && figures->superpositionCheckUv);
    EXPECT_GT(std::fabs(figures->superpositionCheckLsb->value), 0.5);
    EXPECT_NEAR(figures->superpositionCheckUv->value, figures->superpositionCheckLsb->value * kScale.lsbVolts * 1e6, 1e-9);
    const std::uint32_t check = figures->superpositionCheckLsb->code;
    const auto predicted = PredictAllCodes(figures->zeroVolts, figures->weightsVolts);
    EXPECT_NEAR(figures->superpositionCheckLsb->value, (bowed.Volts(check) - predicted[check]) / kScale.lsbVolts, 1e-9);
}

TEST(BitWeightsTest, TheZeroReadingsErrorIsNotCarriedIntoEveryPrediction) {
    const SyntheticDac dac = WithBitErrors();
    std::vector<MeasuredPoint> points = dac.Measure(BitsCodes(18));
    const double error = 10e-6;
    points.front().volts += error;   // code 0 reads 10 µV high
    const auto figures = AnalyseBits(points, kScale);
    ASSERT_TRUE(figures);
    const auto predicted = PredictAllCodes(figures->zeroVolts, figures->weightsVolts);
    double worst = 0;
    for (std::uint32_t code = 0; code <= kFull; ++code) worst = std::max(worst, std::fabs(predicted[code] - dac.Volts(code)));
    // Weights from V(2^i) − V(0) alone would put 17 × 10 µV on code K − 1.
    EXPECT_LT(worst, 2 * error);
}

TEST(BitWeightsTest, RefusesPointsThatDoNotFixEveryWeight) {
    const SyntheticDac dac;
    EXPECT_FALSE(AnalyseBits(dac.Measure({0, kFull}), kScale));
    std::vector<std::uint32_t> withoutBit5 = {0};
    for (int i = 0; i < 18; ++i) {
        if (i != 5) withoutBit5.push_back(1u << i);
    }
    EXPECT_FALSE(AnalyseBits(dac.Measure(withoutBit5), kScale)) << "no code holds bit 5";
    EXPECT_FALSE(AnalyseBits(dac.Measure({0, 1, 2, 4, 1u << 18}), Scale{kScale.lsbVolts, 3})) << "code above K";
    EXPECT_FALSE(AnalyseBits(dac.Measure(BitsCodes(18)), Scale{kScale.lsbVolts, 25}));
    auto points = dac.Measure(BitsCodes(18));
    points[3].volts = std::nan("");
    EXPECT_FALSE(AnalyseBits(points, kScale));
}

}  // namespace
