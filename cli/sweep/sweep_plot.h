// The sweep as a picture: read-back volts against the DAC code with the ideal
// output line above, the error in mV below, drawn with Qt Charts into a PNG.
// It needs no display: without a platform chosen (QT_QPA_PLATFORM) it draws
// offscreen.
#pragma once

#include <string>
#include <vector>

#include "output/plot_file.h"
#include "sweep/sweep.h"

namespace tarnel::cli {

// Writes the PNG (kPlotWidth x kPlotHeight pixels); a file that cannot be
// written throws CommandFailure(Failed).
void DrawSweepPlot(const std::vector<SweepPoint>& points, const std::string& title, const std::string& path);

}  // namespace tarnel::cli
