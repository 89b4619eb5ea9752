#include "cli/sweep_output.h"

#include "cli/command_failure.h"

namespace tarnel::cli {

SweepOutput ChooseSweepOutput(bool json, const std::optional<std::string>& csv, const std::optional<std::string>& plot) {
    SweepOutput output;
    output.jsonSummary = json;
    output.plotFile = plot;
    if (csv && *csv != "-") {
        output.rows = SweepOutput::Rows::CsvFile;
        output.csvFile = *csv;
    } else if (json) {
        if (csv) {
            throw CommandFailure(ExitStatus::Usage,
                                 "--json with --csv - would put CSV and JSON on one stdout; give --csv a file, "
                                 "or leave out --csv to get the rows in the JSON — run 'tarnelctl --help' for the usage");
        }
        output.rows = SweepOutput::Rows::InJsonSummary;
    }
    return output;
}

}  // namespace tarnel::cli
