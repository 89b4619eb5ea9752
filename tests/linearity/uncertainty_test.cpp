// The propagated uncertainties of the transfer figures and the bit weights
// against the spread of the same figures over many noisy measurements of a
// synthetic DAC (Monte Carlo): each stated u within 10 % of the spread.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"
#include "linearity/transfer_figures.h"
#include "synthetic_dac.h"

namespace tarnel::linearity {
namespace {

using test::kScale;
using test::SyntheticDac;

constexpr int kRuns = 1500;

struct Spread {
    double sum = 0, squares = 0;
    int count = 0;
    double stated = 0;   // the u of the last run (the same every run: u depends on the point's u only)
    void Add(double value, double u) {
        sum += value;
        squares += value * value;
        ++count;
        stated = u;
    }
    double Deviation() const { return std::sqrt((squares - sum * sum / count) / (count - 1)); }
};

SyntheticDac ADac() {
    SyntheticDac dac;
    dac.offsetVolts = 20e-6;
    dac.gain = 40e-6;
    dac.bowLsb = 0.8;
    dac.bitLsb[17] = -1.5;
    dac.bitLsb[15] = 0.6;
    return dac;
}

// Noisy points of known uncertainty: u differs by code so that the weighting shows.
std::vector<MeasuredPoint> Noisy(const SyntheticDac& dac, const std::vector<std::uint32_t>& codes, std::mt19937& generator) {
    std::vector<MeasuredPoint> points;
    std::normal_distribution<double> unit(0, 1);
    for (const std::uint32_t code : codes) {
        const double u = (0.4 + 0.6 * (code % 3)) * 1e-6;
        MeasuredPoint point{code, dac.Volts(code) + u * unit(generator), 16, 0, u};
        points.push_back(point);
    }
    return points;
}

TEST(Uncertainty, TransferFiguresAgainstMonteCarlo) {
    const SyntheticDac dac = ADac();
    std::vector<std::uint32_t> codes = {0, 1, 2, 100, 65535, 65536, 131071, 131072, 200000, 262142, 262143};
    std::mt19937 generator(17);
    // figure name → spread of it; the per-point figures at 131072 (a carry) and 200000.
    std::vector<std::pair<std::string, Spread>> spreads = {
        {"offset", {}}, {"gain", {}}, {"inl_ep 131072", {}}, {"inl_ep 200000", {}}, {"inl_bf 200000", {}},
        {"inl_bf 0", {}}, {"dnl 131072", {}}, {"dnl 1", {}}};
    for (int run = 0; run < kRuns; ++run) {
        const auto figures = AnalyseTransfer(Noisy(dac, codes, generator), kScale);
        ASSERT_TRUE(figures && figures->offsetUvU && figures->gainErrorPpmU);
        const auto at = [&](std::uint32_t code) -> const PointFigures& {
            for (const PointFigures& each : figures->perPoint) {
                if (each.code == code) return each;
            }
            throw std::runtime_error("no such code");
        };
        spreads[0].second.Add(*figures->offsetUv, *figures->offsetUvU);
        spreads[1].second.Add(figures->gainErrorPpm, *figures->gainErrorPpmU);
        spreads[2].second.Add(at(131072).inlEndPointLsb, *at(131072).inlEndPointLsbU);
        spreads[3].second.Add(at(200000).inlEndPointLsb, *at(200000).inlEndPointLsbU);
        spreads[4].second.Add(at(200000).inlBestFitLsb, *at(200000).inlBestFitLsbU);
        spreads[5].second.Add(at(0).inlBestFitLsb, *at(0).inlBestFitLsbU);
        spreads[6].second.Add(*at(131072).dnlLsb, *at(131072).dnlLsbU);
        spreads[7].second.Add(*at(1).dnlLsb, *at(1).dnlLsbU);
    }
    for (const auto& [name, spread] : spreads) {
        EXPECT_NEAR(spread.Deviation() / spread.stated, 1.0, 0.1) << name << ": spread " << spread.Deviation()
                                                                  << ", stated " << spread.stated;
    }
}

TEST(Uncertainty, BitWeightsAndTheCheckAgainstMonteCarlo) {
    SyntheticDac dac = ADac();
    dac.bowLsb = 0;   // superposition holds: the check scatters about zero
    std::mt19937 generator(23);
    std::vector<Spread> weights(18);
    Spread check, carry17;
    for (int run = 0; run < kRuns / 2; ++run) {
        const auto figures = AnalyseBits(Noisy(dac, BitsCodes(18), generator), kScale);
        ASSERT_TRUE(figures && figures->weightsLsbU.size() == 18 && figures->superpositionCheckLsbU);
        for (std::size_t i = 0; i < 18; ++i) weights[i].Add(figures->weightErrorsLsb[i], figures->weightsLsbU[i]);
        // The worst check code can change from run to run: the check at one code is what u describes.
        check.Add(figures->superpositionCheckLsb->value, *figures->superpositionCheckLsbU);
        carry17.Add(figures->carryDnl.back().dnlLsb, *figures->carryDnl.back().dnlLsbU);
        // The worst predicted INL moves among near-ties from run to run: its u is only checked to be there.
        EXPECT_GT(*figures->predictedInlEndPointLsbU, 0);
    }
    for (std::size_t i = 0; i < 18; ++i) {
        EXPECT_NEAR(weights[i].Deviation() / weights[i].stated, 1.0, 0.1) << "bit " << i;
    }
    EXPECT_NEAR(carry17.Deviation() / carry17.stated, 1.0, 0.1);
    // The worst of seven checks scatters wider than one, but within a few u.
    EXPECT_LT(std::fabs(check.sum / check.count), 3 * check.stated);
}

TEST(Uncertainty, CheckCodesAreHeldOutOfTheFit) {
    // A wild reading at a check code changes no weight and shows in full in the check.
    const SyntheticDac dac = ADac();
    std::vector<MeasuredPoint> points = dac.Measure(BitsCodes(18));
    const auto clean = AnalyseBits(points, kScale);
    const std::uint32_t check = CheckCodes(18)[3];
    for (MeasuredPoint& point : points) {
        if (point.code == check) point.volts += 50 * kScale.lsbVolts;
    }
    const auto disturbed = AnalyseBits(points, kScale);
    ASSERT_TRUE(clean && disturbed);
    EXPECT_EQ(disturbed->pointsFitted, 38u);
    for (std::size_t i = 0; i < 18; ++i) EXPECT_EQ(clean->weightsVolts[i], disturbed->weightsVolts[i]) << i;
    EXPECT_EQ(disturbed->superpositionCheckLsb->code, check);
    EXPECT_NEAR(disturbed->superpositionCheckLsb->value - [&] {
        for (const MeasuredPoint& p : dac.Measure({check})) return (p.volts - PredictAllCodes(clean->zeroVolts, clean->weightsVolts)[check]) / kScale.lsbVolts;
        return 0.0;
    }(), 50, 1e-6);
}

TEST(Uncertainty, NoneWithoutSpread) {
    const SyntheticDac dac = ADac();
    const auto transfer = AnalyseTransfer(dac.Measure({0, 1, 2, 262143}), kScale);
    ASSERT_TRUE(transfer);
    EXPECT_FALSE(transfer->offsetUvU || transfer->gainErrorPpmU || transfer->inlEndPointLsbU || transfer->dnlLsbU);
    // A code read three times without a u of its own gets the spread of its readings.
    std::vector<MeasuredPoint> repeated = dac.Measure({0, 0, 0, 262143, 262143});
    repeated[0].volts += 1e-6;
    repeated[1].volts -= 1e-6;
    repeated[3].volts += 2e-6;
    const auto spread = AnalyseTransfer(repeated, kScale);
    ASSERT_TRUE(spread && spread->offsetUvU && spread->gainErrorPpmU);
    EXPECT_NEAR(*spread->offsetUvU, 1.0 / std::sqrt(3.0), 1e-6);   // sd 1 µV over 3 readings
}

}  // namespace
}  // namespace tarnel::linearity
