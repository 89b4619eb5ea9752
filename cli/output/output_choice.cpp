#include "output/output_choice.h"

#include "command_line/command_failure.h"

namespace tarnel::cli {

OutputChoice ChooseOutput(bool json, const std::optional<std::string>& csv, const std::optional<std::string>& plot) {
    OutputChoice output;
    output.jsonSummary = json;
    output.plotFile = plot;
    if (csv && *csv != "-") {
        output.rows = OutputChoice::Rows::CsvFile;
        output.csvFile = *csv;
    } else if (json) {
        if (csv) {
            throw CommandFailure(ExitStatus::Usage,
                                 "--json with --csv - would put CSV and JSON on one stdout; give --csv a file, "
                                 "or leave out --csv to get the rows in the JSON — run 'tarnelctl --help' for the usage");
        }
        output.rows = OutputChoice::Rows::InJsonSummary;
    }
    return output;
}

}  // namespace tarnel::cli
