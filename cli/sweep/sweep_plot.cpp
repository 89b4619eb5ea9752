#include "sweep/sweep_plot.h"

#include <tarnel/board_protocol.h>

#include "output/chart_page.h"

namespace tarnel::cli {

void DrawSweepPlot(const std::vector<SweepPoint>& points, const std::string& title, const std::string& path) {
    CodeSeries ideal{"set output (ideal)", CodeSeries::Style::Line, {}};
    CodeSeries readBack{"read-back", CodeSeries::Style::Points, {}};
    CodeSeries error{"read-back - set output", CodeSeries::Style::Line, {}};
    for (const SweepPoint& point : points) {
        ideal.points.emplace_back(point.code, point.setVolts);
        readBack.points.emplace_back(point.code, protocol::ConverterVolts(point.readCode));
        error.points.emplace_back(point.code, point.errorMv);
    }
    const double firstCode = points.empty() ? 0 : points.front().code;
    const double lastCode = points.empty() ? 1 : points.back().code;
    SaveCodeCharts({{QString::fromStdString(title), "Output (V)", {ideal, readBack}, 3},
                    {"Read-back error", "Error (mV)", {error}, 2}},
                   firstCode, lastCode, path);
}

}  // namespace tarnel::cli
