// The sweep as a picture: read-back volts against the DAC code with the ideal
// output line above, the read-back error in mV below (see SaveCodeCharts for
// the page and its formats). It needs no display: without a platform chosen
// (QT_QPA_PLATFORM) it draws offscreen.
#pragma once

#include <string>
#include <vector>

#include "output/plot_file.h"
#include "output/plot_title.h"
#include "sweep/sweep.h"

namespace tarnel::cli {

// Writes the plot (kPlotWidth x kPlotHeight, PNG, SVG or PDF by the path's
// extension); a file that cannot be written throws CommandFailure(Failed).
void DrawSweepPlot(const std::vector<SweepPoint>& points, const PlotCaption& caption, const std::string& path);

}  // namespace tarnel::cli
