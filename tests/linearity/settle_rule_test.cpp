// The settle rule against cases worked out by hand and against outputs that
// settle exponentially under noise.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "linearity/settle_rule.h"

namespace tarnel::linearity {
namespace {

using Values = std::vector<double>;

TEST(SettleRule, CasesByHand) {
    struct Case {
        const char* what;
        Values earlier, later;
        bool judged, agree;
    } cases[] = {
        // sigma from successive differences of 0, 1, 0, 1: sqrt(3 / (2·3)) = 0.707; bound 3·0.707·sqrt(1/4 + 1/4) = 1.5
        {"equal means", {0, 1, 0, 1}, {0, 1, 0, 1}, true, true},
        {"means 1.4 apart, inside 1.5", {0, 1, 0, 1}, {1.4, 2.4, 1.4, 2.4}, true, true},
        {"means 1.6 apart, outside 1.5", {0, 1, 0, 1}, {1.6, 2.6, 1.6, 2.6}, true, false},
        {"a ramp does not widen the bound", {0, 10, 20, 30}, {40.1, 41.1, 40.1, 41.1}, true, false},
        {"one value: no spread", {0}, {0, 1}, false, false},
        {"no values", {}, {}, false, false},
        {"flat and equal", {5, 5, 5}, {5, 5, 5}, true, true},
        {"flat and different", {5, 5, 5}, {5.001, 5.001, 5.001}, true, false},
    };
    for (const Case& one : cases) {
        const auto judged = JudgeSettled(one.earlier, one.later);
        ASSERT_EQ(judged.has_value(), one.judged) << one.what;
        if (judged) {
            EXPECT_EQ(judged->agree, one.agree) << one.what << ": bound " << judged->boundVolts;
        }
    }
}

TEST(SettleRule, SuccessiveDifferencesIgnoreASlowTrend) {
    std::mt19937 generator(3);
    std::normal_distribution<double> noise(0, 1);
    Values flat, ramp;
    for (int i = 0; i < 400; ++i) {
        const double n = noise(generator);
        flat.push_back(n);
        ramp.push_back(n + 0.05 * i);   // 20 sigma over the group
    }
    EXPECT_NEAR(*SuccessiveDifferenceSigma(flat), 1.0, 0.1);
    EXPECT_NEAR(*SuccessiveDifferenceSigma(ramp), 1.0, 0.1);
}

// Groups of 16 noisy values of an output settling as exp(−t/tau), one value
// per time step: the rule must not call it settled while the residual is
// still several sigma, and must call a settled output settled nearly always.
TEST(SettleRule, ExponentialSettlingUnderNoise) {
    struct Case {
        double stepSigmas;   // the size of the step, in noise sigmas
        double tauValues;    // time constant, in values
        int wrongAtMost;     // of 200 trials: called settled with the residual above 1 sigma of a mean
    } cases[] = {{1e3, 2, 0}, {1e5, 4, 0}, {1e6, 8, 0}, {0, 1, 0}};
    for (const Case& one : cases) {
        std::mt19937 generator(11);
        std::normal_distribution<double> noise(0, 1);
        int wrong = 0, settledAtOnce = 0;
        for (int trial = 0; trial < 200; ++trial) {
            int t = 0;
            const auto group = [&] {
                Values values;
                for (int i = 0; i < 16; ++i, ++t) values.push_back(one.stepSigmas * std::exp(-t / one.tauValues) + noise(generator));
                return values;
            };
            Values earlier = group();
            for (int groups = 1; groups < 100; ++groups) {
                Values later = group();
                const auto judged = JudgeSettled(earlier, later);
                ASSERT_TRUE(judged);
                if (judged->agree) {
                    const double residual = one.stepSigmas * std::exp(-(t - 16) / one.tauValues);
                    if (residual > 0.25) ++wrong;   // a mean of 16 has sigma 0.25
                    if (groups == 1) ++settledAtOnce;
                    break;
                }
                earlier = later;
            }
        }
        EXPECT_LE(wrong, one.wrongAtMost) << "step " << one.stepSigmas;
        if (one.stepSigmas == 0) {
            EXPECT_GE(settledAtOnce, 190) << "a settled output is called settled at the first pair";
        }
    }
}

}  // namespace
}  // namespace tarnel::linearity
