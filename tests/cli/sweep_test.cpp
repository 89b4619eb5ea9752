// The sweep's codes, its linearity summary and its CSV rows, on points made
// up here (the board itself is in the end-to-end tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <tarnel/board_protocol.h>

#include "command_line/command_failure.h"
#include "output/number_format.h"
#include "sweep/readback_linearity.h"
#include "sweep/sweep.h"
#include "sweep/sweep_csv.h"

namespace tarnel::cli {
namespace {

TEST(SweepCodesTest, StepsAndPoints) {
    const auto even = SweepCodes(0, 0x3FFFF, std::nullopt, 65);
    ASSERT_EQ(even.size(), 65u);
    EXPECT_EQ(even[1], 4096u);
    EXPECT_EQ(even[32], 131072u);
    EXPECT_EQ(even.back(), 0x3FFFFu);

    const struct { std::uint32_t from, to; std::optional<std::uint64_t> step, points; std::vector<std::uint32_t> codes; } cases[] = {
        {0, 10, 4, std::nullopt, {0, 4, 8, 10}},   // the end itself comes last
        {0, 8, 4, std::nullopt, {0, 4, 8}},
        {10, 0, 4, std::nullopt, {10, 6, 2, 0}},   // downwards
        {10, 0, std::nullopt, 3, {10, 5, 0}},
        {7, 7, std::nullopt, 1, {7}},
        {7, 7, 5, std::nullopt, {7}},
        {0, 2, std::nullopt, 3, {0, 1, 2}},
    };
    for (const auto& c : cases) EXPECT_EQ(SweepCodes(c.from, c.to, c.step, c.points), c.codes) << c.from << ".." << c.to;

    // Downwards the same grid as upwards, in reverse order: half a code rounds
    // up whichever way the sweep runs.
    const struct { std::uint32_t low, high; std::uint64_t points; } grids[] = {
        {0, 0x3FFFF, 65}, {0, 0x3FFFF, 2}, {0, 0x3FFFF, 1000}, {5, 10, 4}, {1, 100, 7}, {0, 3, 3}};
    for (const auto& g : grids) {
        auto down = SweepCodes(g.high, g.low, std::nullopt, g.points);
        std::reverse(down.begin(), down.end());
        EXPECT_EQ(down, SweepCodes(g.low, g.high, std::nullopt, g.points)) << g.low << ".." << g.high << " in " << g.points;
    }
    EXPECT_EQ(SweepCodes(0x3FFFF, 0, std::nullopt, 65)[32], 131072u);

    for (const std::uint64_t points : {1u, 4u}) {   // one point for a span, more points than codes
        EXPECT_THROW(SweepCodes(0, 2, std::nullopt, points), CommandFailure) << points;
    }
}

// Points whose read-back follows readCode(code).
std::vector<SweepPoint> Points(const std::vector<std::uint32_t>& codes, const std::function<double(double)>& readCode) {
    std::vector<SweepPoint> points;
    for (const std::uint32_t code : codes) {
        SweepPoint point;
        point.code = code;
        point.setVolts = protocol::DacOutputVolts(code);
        point.readCode = readCode(code);
        points.push_back(point);
    }
    return points;
}

// The read-back figures of a sweep come from the linearity library's windowed
// fit: these pin down what the sweep makes of them (units, the window, steps).
TEST(LinearityTest, ReadBackFiguresOfKnownLines) {
    const double codesPerLsb = protocol::kDacCodes / protocol::kConverterCodes;   // 64
    const auto codes = SweepCodes(0, 0x3FFFF, std::nullopt, 65);
    const struct {
        const char* name;
        std::function<double(double)> readCode;
        double offsetMv, gainPercent, maxDeviationLsb;
    } cases[] = {
        {"exact", [&](double c) { return c / codesPerLsb; }, 0, 0, 0},
        {"1 % gain", [&](double c) { return c / codesPerLsb * 1.01; }, 0, 1, 0},
        {"2 LSB offset", [&](double c) { return c / codesPerLsb + 2; }, 2 * ReadBackLsbMv(), 0, 0},
        {"quantized", [&](double c) { return std::floor(c / codesPerLsb); }, NAN, NAN, 1},   // figures not checked
        {"clipped rails", [&](double c) { return std::clamp(c / codesPerLsb, 100.0, 3900.0); }, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const LinearityReport report = AnalyseLinearity(Points(codes, c.readCode));
        ASSERT_TRUE(report.line) << c.name;
        EXPECT_EQ(report.points, 65u);
        EXPECT_TRUE(report.monotonic) << c.name;
        EXPECT_FALSE(report.line->wholeSpan);
        EXPECT_GE(report.line->fromCode, 0.1 * 0x3FFFF) << "the window starts at 10 % of the span";
        EXPECT_LE(report.line->toCode, 0.9 * 0x3FFFF) << "and ends at 90 %";
        if (!std::isnan(c.offsetMv)) {
            EXPECT_NEAR(report.line->offsetMv, c.offsetMv, 1e-6) << c.name;
            EXPECT_NEAR(report.line->gainErrorPercent, c.gainPercent, 1e-6) << c.name;
        }
        EXPECT_LE(report.line->maxDeviationLsb, c.maxDeviationLsb + 1e-6) << c.name;
        EXPECT_NEAR(report.line->maxDeviationMv, report.line->maxDeviationLsb * ReadBackLsbMv(), 1e-6);
    }
}

TEST(LinearityTest, MonotonicWithinOneReadBackStepShortSweepsAndSinglePoints) {
    const auto ramp = [](double c) { return c / 64; };
    const struct {
        std::vector<double> readings;
        bool monotonic;
    } dips[] = {
        {{0, 10, 20, 19, 40}, true},   // one read-back step back: the converter's own uncertainty
        {{0, 10, 20, 18, 40}, false},
        {{0, 10, 20, 30, 40}, true},
    };
    for (const auto& dip : dips) {
        const auto points =
            Points({0, 640, 1280, 1920, 2560}, [&](double c) { return dip.readings[static_cast<int>(c) / 640]; });
        EXPECT_EQ(AnalyseLinearity(points).monotonic, dip.monotonic) << dip.readings[3];
    }
    EXPECT_TRUE(AnalyseLinearity(Points({2560, 1920, 1280, 640, 0}, ramp)).monotonic) << "a downward sweep read downwards";

    const LinearityReport twoPoints = AnalyseLinearity(Points({1000, 1300}, ramp));
    ASSERT_TRUE(twoPoints.line);
    EXPECT_TRUE(twoPoints.line->wholeSpan) << "too few codes inside 10-90 %";

    const LinearityReport single = AnalyseLinearity(Points({7}, ramp));
    EXPECT_EQ(single.points, 1u);
    EXPECT_FALSE(single.line);
    EXPECT_FALSE(AnalyseLinearity({}).line);
}

TEST(SweepCsvRowTest, RowsInTheHeadersColumns) {
    SweepPoint point;
    point.code = 0x20000;
    point.inputWord = 0x080000;
    point.setVolts = 2.465;
    point.readCode = 2047.5;
    point.readVolts = 2.464f;
    point.errorMv = -0.6018;
    point.seconds = 1.25;
    point.readStd = 0.5;
    point.readMin = 2047;
    point.readMax = 2048;
    EXPECT_EQ(SweepCsvRow(point), "131072,0x080000,2.465000,2047.500,2.464,-0.602,1.250000,0.500,2047,2048");
    point.readCode = 2048;
    EXPECT_NE(SweepCsvRow(point).find(",2048,"), std::string::npos) << "a single read is a whole code";

    // Volts as the window shows them: no trailing zeros, the rounded decimal.
    const struct { float volts; const char* text; } shown[] = {{2.465f, "2.465"}, {1.233f, "1.233"}, {0.12f, "0.12"},
                                                              {0.0f, "0"}, {4.929f, "4.929"}};
    for (const auto& [volts, text] : shown) EXPECT_EQ(VoltsText(volts), text);
}

}  // namespace
}  // namespace tarnel::cli
