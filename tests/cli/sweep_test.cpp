// The sweep's codes, its linearity summary and its CSV rows, on points made
// up here (the board itself is in the end-to-end tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <tarnel/board_protocol.h>

#include "cli/command_failure.h"
#include "cli/linearity.h"
#include "cli/number_text.h"
#include "cli/sweep.h"
#include "cli/sweep_csv.h"

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

TEST(LinearityTest, FiguresOfKnownLines) {
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
    };
    for (const auto& c : cases) {
        const LinearityReport report = AnalyseLinearity(Points(codes, c.readCode));
        ASSERT_TRUE(report.line) << c.name;
        EXPECT_EQ(report.points, 65u);
        EXPECT_TRUE(report.monotonic) << c.name;
        EXPECT_FALSE(report.line->throughEndPoints);
        EXPECT_EQ(report.line->fromCode, codes[6]) << "the point nearest 10 % of the span";
        EXPECT_EQ(report.line->toCode, codes[58]) << "the point nearest 90 % of the span";
        if (!std::isnan(c.offsetMv)) {
            EXPECT_NEAR(report.line->offsetMv, c.offsetMv, 1e-9) << c.name;
            EXPECT_NEAR(report.line->gainErrorPercent, c.gainPercent, 1e-9) << c.name;
        }
        EXPECT_LE(report.line->maxDeviationLsb, c.maxDeviationLsb + 1e-9) << c.name;
        EXPECT_NEAR(report.line->maxDeviationMv, report.line->maxDeviationLsb * ReadBackLsbMv(), 1e-9);
    }
}

TEST(LinearityTest, ShortSweepsNonMonotonicReadingsAndSinglePoints) {
    const auto ramp = [](double c) { return c / 64; };
    const LinearityReport shortSpan = AnalyseLinearity(Points(SweepCodes(1000, 1300, std::nullopt, 7), ramp));
    ASSERT_TRUE(shortSpan.line);
    EXPECT_TRUE(shortSpan.line->throughEndPoints) << "a span under 10 read-back LSB";
    EXPECT_EQ(shortSpan.line->fromCode, 1000u);
    EXPECT_EQ(shortSpan.line->toCode, 1300u);

    const std::vector<double> readings = {0, 10, 20, 19, 40};
    const auto dip = Points({0, 640, 1280, 1920, 2560}, [&](double c) { return readings[static_cast<int>(c) / 640]; });
    EXPECT_FALSE(AnalyseLinearity(dip).monotonic);
    auto downwards = Points({2560, 1920, 1280, 640, 0}, ramp);
    EXPECT_TRUE(AnalyseLinearity(downwards).monotonic) << "a downward sweep read downwards";

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
