// What the plots' axes and headings say: value axes on round steps with the
// digits the step needs and zero among the ticks, code axes in hex words on
// power-of-two steps, the heading's date and meter model, and the plot's
// format by its extension (anything else refused as a usage error).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "command_line/command_failure.h"
#include "output/axis_ticks.h"
#include "output/plot_file.h"
#include "output/plot_title.h"

namespace tarnel::cli {
namespace {

std::vector<std::string> Labels(const AxisScale& scale) {
    std::vector<std::string> labels;
    for (const AxisTick& tick : scale.ticks) labels.push_back(tick.label);
    return labels;
}

TEST(AxisTicksTest, ValueAxesTickRoundNumbersWithTheStepsDigits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double low, high;
        std::vector<std::string> labels;
    } cases[] = {
        {-0.838, 2.03, {"-1.0", "-0.5", "0", "0.5", "1.0", "1.5", "2.0", "2.5"}},
        {0, 4.93, {"0", "1", "2", "3", "4", "5"}},
        {-1.2, 0, {"-1.2", "-1.0", "-0.8", "-0.6", "-0.4", "-0.2", "0"}},
        {2, -1, {"-1.0", "-0.5", "0", "0.5", "1.0", "1.5", "2.0"}},   // either order
        {0.5, 0.5, {"0.44", "0.46", "0.48", "0.50", "0.52", "0.54", "0.56"}},
        {0, 0, {"-1.0", "-0.5", "0", "0.5", "1.0"}},
        {nan, 3, {"-1.0", "-0.5", "0", "0.5", "1.0"}},
        {120, 980, {"100", "200", "300", "400", "500", "600", "700", "800", "900", "1000"}},
        {-3e-5, 7e-5, {"-0.00004", "-0.00002", "0", "0.00002", "0.00004", "0.00006", "0.00008"}},
        {-25000, -19000, {"-25000", "-24000", "-23000", "-22000", "-21000", "-20000", "-19000"}},
    };
    for (const auto& one : cases) {
        EXPECT_EQ(Labels(ValueScale(one.low, one.high)), one.labels) << one.low << " to " << one.high;
    }
}

TEST(AxisTicksTest, EveryValueRangeGetsFourToTenWholeStepsAroundItAndZeroMarked) {
    for (const double low : {-7.3e6, -512.0, -3.0, -0.61, -1e-3, 0.0, 0.05, 1.0, 99.9}) {
        for (const double span : {1e-7, 0.003, 0.26, 1.0, 7.77, 45.0, 1234.0, 2.5e7}) {
            const double high = low + span;
            const AxisScale scale = ValueScale(low, high);
            const std::string range = std::to_string(low) + " to " + std::to_string(high);
            ASSERT_GE(scale.ticks.size(), 4u) << range;
            ASSERT_LE(scale.ticks.size(), 10u) << range;
            // Holds the range, but for a rounding error.
            const double rounding = scale.step * 1e-6 + (std::abs(low) + std::abs(high)) * 1e-15;
            EXPECT_LE(scale.low, low + rounding) << range;
            EXPECT_GE(scale.high, high - rounding) << range;
            EXPECT_EQ(scale.ticks.front().value, scale.low) << range;
            EXPECT_EQ(scale.ticks.back().value, scale.high) << range;
            // The step is 1, 2 or 5 times a power of ten.
            const double mantissa = scale.step / std::pow(10.0, std::floor(std::log10(scale.step) + 1e-9));
            EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 || std::abs(mantissa - 5) < 1e-6)
                << range << ": step " << scale.step;
            bool zeroMarked = false;
            std::set<std::string> distinct;
            for (const AxisTick& tick : scale.ticks) {
                // A label reads back as its value, and no two read alike.
                EXPECT_NEAR(std::stod(tick.label), tick.value, scale.step * 1e-6 + std::abs(tick.value) * 1e-15) << range << ": " << tick.label;
                EXPECT_TRUE(distinct.insert(tick.label).second) << range << ": " << tick.label << " twice";
                zeroMarked = zeroMarked || tick.label == "0";
            }
            EXPECT_TRUE(zeroMarked || scale.low > 0 || scale.high < 0) << range;
        }
    }
}

TEST(AxisTicksTest, CodeAxesTickRoundHexStepsAndTheFullScaleEnd) {
    constexpr std::uint32_t kFullScale = 0x3FFFF;
    const struct {
        std::uint32_t first, last;
        std::vector<std::string> labels;
    } cases[] = {
        {0, 0x3FFFF, {"0x00000", "0x10000", "0x20000", "0x30000", "0x3FFFF"}},
        {0x100, 0x3FFFF,
         {"0x00000", "0x08000", "0x10000", "0x18000", "0x20000", "0x28000", "0x30000", "0x38000", "0x3FFFF"}},
        {0x1F000, 0x21000, {"0x1F000", "0x1F800", "0x20000", "0x20800", "0x21000"}},
        {0x21000, 0x1F000, {"0x1F000", "0x1F800", "0x20000", "0x20800", "0x21000"}},   // either order
        {0x20001, 0x2000F,
         {"0x20000", "0x20002", "0x20004", "0x20006", "0x20008", "0x2000A", "0x2000C", "0x2000E", "0x20010"}},
        {0x5, 0x5, {"0x00005", "0x00006"}},
        {0x3FFFF, 0x3FFFF, {"0x3FFFE", "0x3FFFF"}},
        {0x3FFF0, 0x7FFFF, {"0x3FFF0", "0x3FFF4", "0x3FFF8", "0x3FFFC", "0x3FFFF"}},   // held to full scale
    };
    for (const auto& one : cases) {
        EXPECT_EQ(Labels(CodeScale(one.first, one.last, kFullScale)), one.labels)
            << std::hex << one.first << " to " << one.last;
    }
    EXPECT_EQ(HexCodeLabel(0xA, 0xFFF), "0x00A");
    EXPECT_EQ(HexCodeLabel(0xABCDEF, 0xFFFFFF), "0xABCDEF");
}

TEST(PlotTitleTest, DateHonoursSourceDateEpochAndMeterModelIsTheIdentitysSecondField) {
    const std::time_t now = 1765000000;   // 2025-12-06 05:46:40 UTC
    const struct {
        const char* epoch;
        const char* date;
    } dates[] = {{nullptr, "2025-12-06"}, {"", "2025-12-06"}, {"0", "1970-01-01"}, {"1796083200", "2026-12-01"},
                 {"12abc", "2025-12-06"}, {"-5", "2025-12-06"}};
    for (const auto& one : dates) EXPECT_EQ(PlotDate(one.epoch, now), one.date) << (one.epoch ? one.epoch : "unset");

    EXPECT_EQ(MeterModel("MAKER,DMM6500, 0412345 ,1.7.12\n"), "DMM6500");
    EXPECT_EQ(MeterModel("  bench meter  "), "bench meter");
    EXPECT_EQ(MeterModel("MAKER,,S,F"), "MAKER,,S,F");
    EXPECT_EQ(MeterModel(" \r\n"), std::nullopt);

    EXPECT_EQ(FactsLine({"board 0, newer library", "", "2026-12-07"}), "board 0, newer library  \u00b7  2026-12-07");
    EXPECT_EQ(BoardFacts(LibraryChoice::Older, 3), "board 3, older library");
}

TEST(PlotFileTest, FormatComesFromTheExtensionAndAnyOtherIsAUsageError) {
    const struct {
        const char* path;
        PlotFormat format;
    } cases[] = {{"sweep.png", PlotFormat::Png}, {"/tmp/A.PDF", PlotFormat::Pdf}, {"x.y.Svg", PlotFormat::Svg},
                 {"plot.jpg", PlotFormat::Unknown}, {"png", PlotFormat::Unknown}, {"plots.png/x", PlotFormat::Unknown},
                 {"x.", PlotFormat::Unknown}, {"", PlotFormat::Unknown}};
    for (const auto& one : cases) EXPECT_EQ(PlotFormatOf(one.path), one.format) << one.path;

    try {
        CheckPlotPath("/tmp/plot.jpg");
        ADD_FAILURE() << "a .jpg plot was accepted";
    } catch (const CommandFailure& failure) {
        EXPECT_EQ(failure.Status(), ExitStatus::Usage);
        EXPECT_NE(std::string(failure.what()).find(".png, .svg or .pdf"), std::string::npos) << failure.what();
    }
}

}  // namespace
}  // namespace tarnel::cli
