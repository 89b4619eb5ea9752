// characterize's analysis of what a run measured: drift corrected at each
// reading's time before the figures, the references it cannot use named, the
// passes of --repeat summed up, and the settling found.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "characterize/characterize_analysis.h"

namespace tarnel::cli {
namespace {

constexpr double kLsb = protocol::kFullScaleVolts / protocol::kDacCodes;

// An ideal DAC read on a bench whose meter zero creeps `uvPerSecond`.
CharacterizePoint Point(std::uint32_t code, double seconds, double uvPerSecond, unsigned repeat = 0) {
    CharacterizePoint point;
    point.code = code;
    point.meterVolts = code * kLsb + uvPerSecond * 1e-6 * seconds;
    point.meterStdUv = 1.0;
    point.readings = 16;
    point.readingSeconds = seconds;
    point.settleMs = 2 + code % 7;
    point.repeat = repeat;
    return point;
}

TEST(CharacterizeAnalysis, DriftCorrectedAtEachReadingsTime) {
    const std::uint32_t full = protocol::kDataMask;
    struct Case {
        const char* what;
        double uvPerSecond;
        bool withReferences;
        double offsetUv;          // what the figures should find
    } cases[] = {
        {"no drift, no references", 0, false, 0},
        {"drift left in without references", 2, false, 2 * 1.0},   // code 0 read at 1 s
        {"drift taken out with references", 2, true, 0},
    };
    for (const Case& one : cases) {
        std::vector<CharacterizePoint> points = {Point(0, 1, one.uvPerSecond), Point(1, 2, one.uvPerSecond),
                                                 Point(full, 3, one.uvPerSecond)};
        std::vector<ReferencePoint> references;
        if (one.withReferences) {
            for (const double t : {0.0, 4.0}) {
                references.push_back({t, 0x1000 * kLsb + one.uvPerSecond * 1e-6 * t,
                                      0x3EFFF * kLsb + one.uvPerSecond * 1e-6 * t, 0.25e-6, 0.25e-6});
            }
        }
        const CharacterizeFigures figures = AnalyseCharacterization(points, CodeSetKind::File, references);
        ASSERT_TRUE(figures.offsetUv) << one.what;
        EXPECT_NEAR(*figures.offsetUv, one.offsetUv, 1e-6) << one.what;
        ASSERT_TRUE(figures.offsetUvU) << one.what;
        // The correction's uncertainty widens the point's own (1 µV / 4).
        EXPECT_EQ(*figures.offsetUvU > 0.25 + 1e-9, one.withReferences) << one.what;
        EXPECT_EQ(figures.drift.has_value(), one.withReferences) << one.what;
        if (one.withReferences) {
            EXPECT_NEAR(figures.drift->offsetUvPerMinute, one.uvPerSecond * 60, 1e-6);
            EXPECT_NEAR(*figures.perPoint[2].driftUv, -6, 1e-6) << "code K read at 3 s: 6 µV taken off";
        }
        EXPECT_EQ(figures.settling.longestMs, 3) << "code 1 waited 3 ms, codes 0 and K 2 ms";
    }
}

TEST(CharacterizeAnalysis, ReferencesThatCannotCorrectAreNamed) {
    const std::vector<CharacterizePoint> points = {Point(0, 1, 0), Point(100, 2, 0)};
    const CharacterizeFigures figures =
        AnalyseCharacterization(points, CodeSetKind::File, {{0, 1.0, 1.0, 0, 0}, {3, 1.0, 0.5, 0, 0}});
    EXPECT_FALSE(figures.drift);
    EXPECT_NE(figures.driftProblem.find("did not read above"), std::string::npos);
    EXPECT_FALSE(figures.perPoint[0].driftUv);
}

TEST(CharacterizeAnalysis, PassesOfARepeatAndUnsettledCodes) {
    std::vector<CharacterizePoint> points;
    for (unsigned repeat = 0; repeat < 3; ++repeat) {
        for (const std::uint32_t code : {0u, 2u, 1000u}) {
            CharacterizePoint point = Point(code, 1, 0, repeat);
            point.meterVolts += repeat * 1e-6;   // each pass 1 µV higher
            point.settled = !(repeat == 1 && code == 2);
            points.push_back(point);
        }
    }
    const CharacterizeFigures figures = AnalyseCharacterization(points, CodeSetKind::File, {}, 3);
    ASSERT_FALSE(figures.repeats.empty());
    EXPECT_EQ(figures.repeats[0].name, "offset_uv");
    EXPECT_EQ(figures.repeats[0].passes, 3u);
    EXPECT_NEAR(figures.repeats[0].mean, 1.0, 1e-9);
    EXPECT_NEAR(figures.repeats[0].spread, 1.0, 1e-9);
    EXPECT_NEAR(*figures.offsetUv, 1.0, 1e-9) << "all passes together";
    EXPECT_EQ(figures.settling.unsettledCodes, std::vector<std::uint32_t>{2});
}

}  // namespace
}  // namespace tarnel::cli
