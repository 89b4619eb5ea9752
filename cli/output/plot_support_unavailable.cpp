// A tarnelctl built without Qt Charts draws no plot: --plot is refused before
// anything touches the board.
#include "output/plot_file.h"

#include "command_line/command_failure.h"

namespace tarnel::cli {

void RequirePlotSupport() {
    throw CommandFailure(ExitStatus::Failed,
                         "this tarnelctl was built without Qt Charts and cannot draw --plot — "
                         "rebuild it with the package qt6-charts-dev installed, or leave out --plot");
}

}  // namespace tarnel::cli
