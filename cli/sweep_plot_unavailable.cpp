// The sweep plot in a tarnelctl built without Qt Charts: there is none, and
// the sweep command refuses --plot before it touches the board.
#include "cli/sweep_plot.h"

#include "cli/command_failure.h"

namespace tarnel::cli {

void RequireSweepPlot() {
    throw CommandFailure(ExitStatus::Failed,
                         "this tarnelctl was built without Qt Charts and cannot draw --plot — "
                         "rebuild it with the package qt6-charts-dev installed, or leave out --plot");
}

void DrawSweepPlot(const std::vector<SweepPoint>&, const std::string&, const std::string&) { RequireSweepPlot(); }

}  // namespace tarnel::cli
