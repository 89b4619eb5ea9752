// Drift correction against a bench drifting by a known law.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "linearity/drift_correction.h"

namespace tarnel::linearity {
namespace {

// A bench whose offset drifts by `offsetPerMinute` V and whose gain by
// `gainPerMinute` (relative) a minute, from t = 0.
struct DriftingBench {
    double offsetPerMinute = 0;
    double gainPerMinute = 0;
    double Read(double trueVolts, double seconds) const {
        const double minutes = seconds / 60;
        return trueVolts * (1 + gainPerMinute * minutes) + offsetPerMinute * minutes;
    }
};

TEST(DriftCorrection, LinearDriftCorrectedExactly) {
    struct Case {
        const char* what;
        double offsetUvPerMinute, gainPpmPerMinute;
        std::vector<double> referenceSeconds;
    } cases[] = {
        {"none", 0, 0, {0, 60, 120}},
        {"offset only", 5, 0, {0, 30, 60, 90}},
        {"gain only", 0, 0.5, {0, 45, 200}},
        {"both, uneven", -3, 2, {1, 2, 50, 51, 300}},
        {"both, two references", 7, -1, {10, 610}},
    };
    const double low = 0.0012, high = 4.9;
    for (const Case& one : cases) {
        const DriftingBench bench{one.offsetUvPerMinute * 1e-6, one.gainPpmPerMinute * 1e-6};
        std::vector<ReferenceReading> references;
        for (const double t : one.referenceSeconds) references.push_back({t, bench.Read(low, t), bench.Read(high, t), 0, 0});
        const auto correction = DriftCorrection::From(references);
        ASSERT_TRUE(correction) << one.what;
        const double t0 = one.referenceSeconds.front();
        for (const double volts : {0.0, 0.001, 1.0, 2.465, 4.93}) {
            for (const double t : {t0, t0 + 7.5, one.referenceSeconds.back()}) {
                // Corrected to the output as it was at the first reference measurement.
                EXPECT_NEAR(correction->Corrected(bench.Read(volts, t), t), bench.Read(volts, t0), 1e-12)
                    << one.what << " at " << volts << " V, " << t << " s";
            }
        }
        const DriftRates rates = correction->Rates();
        // The offset at 0 V against the start is the offset drift less the gain's share at t0: linear all the same.
        EXPECT_NEAR(rates.offsetUvPerMinute, one.offsetUvPerMinute, 1e-5) << one.what;
        EXPECT_NEAR(rates.gainPpmPerMinute, one.gainPpmPerMinute / (1 + one.gainPpmPerMinute * 1e-6 * t0 / 60), 1e-6)
            << one.what;
    }
}

TEST(DriftCorrection, InterpolatesBetweenAndHoldsOutside) {
    // The low reference steps 1 µV up at 60 s, then back at 120 s: a reading
    // at 0 V sees the interpolated offset.
    const auto correction = DriftCorrection::From({{0, 0, 1, 0, 0}, {60, 1e-6, 1 + 1e-6, 0, 0}, {120, 0, 1, 0, 0}});
    ASSERT_TRUE(correction);
    struct Case {
        double seconds, corrected;
    } cases[] = {{-5, 0}, {0, 0}, {30, -0.5e-6}, {60, -1e-6}, {90, -0.5e-6}, {120, 0}, {500, 0}};
    for (const Case& one : cases) EXPECT_NEAR(correction->Corrected(0, one.seconds), one.corrected, 1e-15) << one.seconds;
}

TEST(DriftCorrection, RefusesReferencesItCannotUse) {
    EXPECT_FALSE(DriftCorrection::From({}));
    EXPECT_FALSE(DriftCorrection::From({{0, 1, 1, 0, 0}})) << "high not above low";
    EXPECT_FALSE(DriftCorrection::From({{10, 0, 1, 0, 0}, {5, 0, 1, 0, 0}})) << "out of time order";
}

// The rate's uncertainty against the spread of the rate over noisy runs.
TEST(DriftCorrection, RateUncertaintyMatchesMonteCarlo) {
    std::mt19937 generator(5);
    const double u = 0.5e-6;
    std::normal_distribution<double> noise(0, u);
    std::vector<double> offsets, gains;
    DriftRates last;
    for (int run = 0; run < 2000; ++run) {
        std::vector<ReferenceReading> references;
        for (int i = 0; i <= 10; ++i) {
            const double t = 30.0 * i;
            references.push_back({t, 0.01 + noise(generator), 4.9 + noise(generator), u, u});
        }
        last = DriftCorrection::From(references)->Rates();
        offsets.push_back(last.offsetUvPerMinute);
        gains.push_back(last.gainPpmPerMinute);
    }
    const auto spread = [](const std::vector<double>& values) {
        double mean = 0, squares = 0;
        for (const double v : values) mean += v / static_cast<double>(values.size());
        for (const double v : values) squares += (v - mean) * (v - mean);
        return std::sqrt(squares / static_cast<double>(values.size() - 1));
    };
    ASSERT_TRUE(last.offsetUvPerMinuteU && last.gainPpmPerMinuteU);
    EXPECT_NEAR(spread(offsets) / *last.offsetUvPerMinuteU, 1.0, 0.06);
    EXPECT_NEAR(spread(gains) / *last.gainPpmPerMinuteU, 1.0, 0.06);
}

}  // namespace
}  // namespace tarnel::linearity
