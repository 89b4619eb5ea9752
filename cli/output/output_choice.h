// Where a run's results go (sweep, characterize), decided once from the
// command line: its rows (CSV on stdout, a CSV file, or inside the JSON
// summary), its summary (text or JSON, on stdout unless the CSV rows are
// there, then on stderr) and its plot. stdout carries one format only.
#pragma once

#include <optional>
#include <string>

namespace tarnel::cli {

struct OutputChoice {
    enum class Rows { CsvOnStdout, CsvFile, InJsonSummary };
    Rows rows = Rows::CsvOnStdout;
    std::string csvFile;                  // for CsvFile
    bool jsonSummary = false;             // the summary as one JSON object, else as text
    std::optional<std::string> plotFile;  // the PNG to draw, if any

    bool SummaryOnStdout() const { return rows != Rows::CsvOnStdout; }
};

// The output of --json, --csv FILE|- and --plot FILE. --json with --csv -
// would put CSV and JSON on one stdout: that throws CommandFailure(Usage).
OutputChoice ChooseOutput(bool json, const std::optional<std::string>& csv, const std::optional<std::string>& plot);

}  // namespace tarnel::cli
