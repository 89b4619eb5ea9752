// The emulated DAC measured by the linearity maths, without meter or board:
// what characterisation on the emulated bench must find is what the error
// file put in.
#include <gtest/gtest.h>

#include <cmath>

#include <tarnel/dac_error_model.h>

#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"
#include "linearity/transfer_figures.h"

namespace {

namespace p = tarnel::protocol;
namespace lin = tarnel::linearity;
using namespace tarnel::emulator;

const lin::Scale kScale{p::DacOutputVolts(1), p::kDacResolutionBits};

std::vector<lin::MeasuredPoint> Measure(const DacErrors& errors, const std::vector<std::uint32_t>& codes) {
    std::vector<lin::MeasuredPoint> points;
    for (const std::uint32_t code : codes) points.push_back({code, DacModelVolts(errors, code)});
    return points;
}

TEST(DacModelLinearityTest, FiguresFindTheInjectedErrors) {
    DacErrors errors;
    errors.offsetUv = 40;
    errors.gainPpm = 25;
    errors.bitLsb[16] = 1.2;
    errors.bitLsb[17] = -0.7;
    errors.bitLsb[9] = 0.4;

    const auto bits = lin::AnalyseBits(Measure(errors, lin::BitsCodes(p::kDacResolutionBits)), kScale);
    ASSERT_TRUE(bits);
    EXPECT_NEAR(bits->zeroVolts * 1e6, 40, 1e-6);
    // DNL(2^j) = bit_j − Σ_{i<j} bit_i, to the end-point LSB's departure from the ideal (≈ 3e-5).
    const double expected[] = {0.4, 1.2 - 0.4, -0.7 - 1.6};   // carries 9, 16, 17
    const int carries[] = {9, 16, 17};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(bits->carryDnl[static_cast<std::size_t>(carries[i]) - 1].dnlLsb, expected[i], 1e-3) << carries[i];
    }
    EXPECT_LT(std::fabs(bits->superpositionCheckLsb->value), 1e-6);

    const auto grid = lin::AnalyseTransfer(Measure(errors, lin::GridCodes(0, p::kDataMask, 1025)), kScale);
    ASSERT_TRUE(grid);
    EXPECT_NEAR(*grid->offsetUv, 40, 1e-6);
    // The bit errors add 0.9 LSB over the span: 0.9/K of the slope.
    EXPECT_NEAR(grid->gainErrorPpm, 25 + 0.9 / p::kDataMask * 1e6 * (1 + 25e-6), 1e-3);

    errors.bowLsb = 2;
    const auto bowed = lin::AnalyseBits(Measure(errors, lin::BitsCodes(p::kDacResolutionBits)), kScale);
    ASSERT_TRUE(bowed);
    EXPECT_GT(std::fabs(bowed->superpositionCheckLsb->value), 0.3) << "a bow does not add up";
}

}  // namespace
