// The linearity maths on a full 18-bit DAC: predicting every one of the 2^18
// codes from the bit weights, and the whole `bits` analysis (least squares
// over the bits codes, prediction, INL over every code). Both should stay far
// below the time of one meter reading (tens of milliseconds), so that the
// analysis never shows in a characterisation.
#include <benchmark/benchmark.h>

#include <vector>

#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"

namespace {

using namespace tarnel::linearity;

constexpr Scale kScale{4.93 / 262144.0, 18};

std::vector<double> Weights() {
    std::vector<double> weights;
    for (int bit = 0; bit < kScale.bits; ++bit) weights.push_back(kScale.lsbVolts * ((1u << bit) + 0.1 * (bit % 5 - 2)));
    return weights;
}

void BM_PredictAllCodes(benchmark::State& state) {
    const std::vector<double> weights = Weights();
    for (auto _ : state) benchmark::DoNotOptimize(PredictAllCodes(12e-6, weights));
    state.SetItemsProcessed(state.iterations() * (std::int64_t{1} << kScale.bits));
}
BENCHMARK(BM_PredictAllCodes)->Unit(benchmark::kMicrosecond);

void BM_AnalyseBits(benchmark::State& state) {
    const std::vector<double> weights = Weights();
    std::vector<MeasuredPoint> points;
    for (const std::uint32_t code : BitsCodes(kScale.bits)) {
        double volts = 12e-6;
        for (int bit = 0; bit < kScale.bits; ++bit) volts += (code >> bit & 1u) ? weights[static_cast<std::size_t>(bit)] : 0.0;
        points.push_back({code, volts});
    }
    for (auto _ : state) benchmark::DoNotOptimize(AnalyseBits(points, kScale));
}
BENCHMARK(BM_AnalyseBits)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
