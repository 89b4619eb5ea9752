// Where a chart's axes are ticked and what the ticks say, as a datasheet
// would: value axes on round steps (1, 2 or 5 x 10^n) with no more digits
// than the step needs, DAC code axes on round hex steps written as hex words.
// Pure arithmetic: the charts are drawn elsewhere (chart_page).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::cli {

struct AxisTick {
    double value = 0;
    std::string label;
};

// The axis's range (the data's, widened to whole steps) and its ticks, low to
// high; the first tick is at low and the last at high.
struct AxisScale {
    double low = 0;
    double high = 1;
    double step = 1;
    std::vector<AxisTick> ticks;
};

// A value axis holding low..high (either order, equal or not finite too):
// 4 to 10 ticks on multiples of a 1, 2 or 5 x 10^n step, so zero is one of
// them whenever it is in range, labelled with the step's decimals ("0.25",
// "-1.5", "20").
AxisScale ValueScale(double low, double high);

// A code axis holding the codes first..last (either order) of a DAC whose
// full scale is fullScale: ticks on a power-of-two step (which is round in
// hex) giving at least 4 of them where the range allows, the range widened to
// whole steps but never past 0 or fullScale, and fullScale itself labelled
// where the axis reaches it. Labels are hex words as wide as fullScale's:
// "0x00000", "0x10000", "0x3FFFF".
AxisScale CodeScale(std::uint32_t first, std::uint32_t last, std::uint32_t fullScale);

// A code as the axes write it: "0x" and upper-case hex digits, zero-padded to
// the width of fullScale.
std::string HexCodeLabel(std::uint32_t code, std::uint32_t fullScale);

}  // namespace tarnel::cli
