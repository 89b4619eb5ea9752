// tarnelctl built without Qt Charts: RequireSweepPlot refuses --plot before
// anything is measured, so this is never reached.
#include "cli/characterize_plot.h"

#include "cli/sweep_plot.h"

namespace tarnel::cli {

void DrawCharacterizePlot(const std::vector<CharacterizePoint>&, const CharacterizeFigures&, const std::string&,
                          const std::string&) {
    RequireSweepPlot();
}

}  // namespace tarnel::cli
