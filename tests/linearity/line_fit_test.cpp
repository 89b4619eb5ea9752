// The line fit against the library's general least-squares solver, on point
// sets a characterisation gives: repeated codes, codes far from 0, an 18-bit
// span, and the outputs of every code in turn.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "linearity/least_squares.h"
#include "linearity/line_fit.h"

namespace {

using namespace tarnel::linearity;

Line BySolver(const std::vector<MeasuredPoint>& points) {
    std::vector<std::vector<double>> rows;
    std::vector<double> volts;
    for (const MeasuredPoint& point : points) {
        rows.push_back({1.0, static_cast<double>(point.code)});
        volts.push_back(point.volts);
    }
    const auto solved = SolveLeastSquares(rows, volts);
    return solved ? Line{(*solved)[0], (*solved)[1]} : Line{NAN, NAN};
}

TEST(LineFitTest, AgreesWithTheGeneralSolver) {
    constexpr double kLsb = 4.93 / 262144;
    const struct {
        const char* what;
        std::vector<MeasuredPoint> points;
    } cases[] = {
        {"two codes", {{0, 1e-5}, {262143, 4.93}}},
        {"repeated codes count each time", {{10, 10 * kLsb}, {10, 10 * kLsb + 3e-6}, {20, 20 * kLsb}, {30, 30 * kLsb - 1e-6}}},
        {"far from code 0", {{200000, 200000 * kLsb + 2e-6}, {200001, 200001 * kLsb}, {200003, 200003 * kLsb - 2e-6}}},
        {"a bowed 18-bit span", {{0, 0}, {65536, 65536 * kLsb + 4e-5}, {131072, 131072 * kLsb + 5e-5},
                                 {196608, 196608 * kLsb + 4e-5}, {262143, 262143 * kLsb}}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        const Line fitted = FitLine(each.points);
        const Line solved = BySolver(each.points);
        EXPECT_NEAR(fitted.stepVolts, solved.stepVolts, 1e-9 * kLsb);
        EXPECT_NEAR(fitted.zeroVolts, solved.zeroVolts, 1e-9);
    }

    std::vector<double> voltsByCode;
    std::vector<MeasuredPoint> samePoints;
    for (std::uint32_t code = 0; code < 1000; ++code) {
        voltsByCode.push_back(3e-6 + code * kLsb * 1.001 + 1e-7 * std::sin(code / 37.0));
        samePoints.push_back({code, voltsByCode.back()});
    }
    const Line byCode = FitLine(voltsByCode);
    const Line byPoints = FitLine(samePoints);
    EXPECT_EQ(byCode.stepVolts, byPoints.stepVolts) << "the outputs of codes 0, 1, 2 … are points at those codes";
    EXPECT_EQ(byCode.zeroVolts, byPoints.zeroVolts);
    EXPECT_NEAR(RelativeGainError(byCode, Scale{kLsb, 18}), 0.001, 1e-5);
}

TEST(LineFitTest, ALineThroughTwoPointsMeetsBoth) {
    const Line line = LineThrough(100, 0.25, 900, 2.25);
    EXPECT_DOUBLE_EQ(line.stepVolts, 2.0 / 800);
    EXPECT_DOUBLE_EQ(line.At(100), 0.25);
    EXPECT_DOUBLE_EQ(line.At(900), 2.25);
    EXPECT_DOUBLE_EQ(line.zeroVolts, 0.0);
    EXPECT_EQ(RelativeGainError(line, Scale{2.0 / 800, 10}), 0.0);
}

}  // namespace
