// The sweep plot in a tarnelctl built without Qt Charts: there is none (the
// sweep refuses --plot before it touches the board).
#include "sweep/sweep_plot.h"

#include "command_line/command_failure.h"

namespace tarnel::cli {

void DrawSweepPlot(const std::vector<SweepPoint>&, const PlotCaption&, const std::string&) { RequirePlotSupport(); }

}  // namespace tarnel::cli
