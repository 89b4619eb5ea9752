// tarnelctl built without Qt Charts: RequirePlotSupport refuses --plot before
// anything is measured, so this is never reached.
#include "characterize/characterize_plot.h"

#include "sweep/sweep_plot.h"

namespace tarnel::cli {

void DrawCharacterizePlot(const std::vector<CharacterizePoint>&, const CharacterizeFigures&, const LinearityLimits&,
                          const PlotCaption&, const std::string&) {
    RequirePlotSupport();
}

}  // namespace tarnel::cli
