// tarnelctl built without Qt Charts: RequirePlotSupport refuses --report
// before anything is measured, so this is never reached.
#include "characterize/characterize_pdf_report.h"

#include "output/plot_file.h"

namespace tarnel::cli {

void WriteCharacterizeReport(const ReportHeading&, const CharacterizeRunFacts&, const CharacterizeFigures&,
                             const std::vector<CharacterizePoint>&, const std::string&) {
    RequirePlotSupport();
}

}  // namespace tarnel::cli
