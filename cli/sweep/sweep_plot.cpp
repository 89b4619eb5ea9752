#include "sweep/sweep_plot.h"

#include <tarnel/board_protocol.h>

#include <algorithm>

#include "output/chart_page.h"

namespace tarnel::cli {

void DrawSweepPlot(const std::vector<SweepPoint>& points, const PlotCaption& caption, const std::string& path) {
    if (points.empty()) return;
    const auto [lowest, highest] = std::minmax_element(
        points.begin(), points.end(), [](const SweepPoint& a, const SweepPoint& b) { return a.code < b.code; });
    // The ideal output holds at every code: a line from end to end. What was
    // read back holds only at the codes swept: points.
    CodeSeries ideal{"set output (ideal)", CodeSeries::Style::Line,
                     {{static_cast<double>(lowest->code), lowest->setVolts},
                      {static_cast<double>(highest->code), highest->setVolts}}};
    CodeSeries readBack{"read-back", CodeSeries::Style::Points, {}};
    CodeSeries error{"read-back − set output", CodeSeries::Style::Points, {}};
    for (const SweepPoint& point : points) {
        readBack.points.emplace_back(point.code, protocol::ConverterVolts(point.readCode));
        error.points.emplace_back(point.code, point.errorMv);
    }
    SaveCodeCharts(caption,
                   {{"Output", "Output (V)", {ideal, readBack}, std::nullopt, "", 3},
                    {"Read-back error", "Error (mV)", {error}, std::nullopt, "", 2}},
                   lowest->code, highest->code, protocol::kDataMask, path);
}

}  // namespace tarnel::cli
