// A characterisation as one A4 page for the record (--report FILE.pdf),
// painted as vectors: the title and date, the board and this program's
// version, the meter and its settings, the codes and how the run ended, the
// figures with each --limits limit and its PASS or FAIL, the bit weights
// with the bits set, and the INL and DNL charts of --plot.
#pragma once

#include <string>
#include <vector>

#include "characterize/characterize_figures.h"
#include "characterize/characterize_point.h"
#include "characterize/characterize_report.h"

namespace tarnel::cli {

// What the page says beside the run's facts and figures.
struct ReportHeading {
    std::string board;       // "board 0, newer library"
    std::string date;        // "2026-12-07"
    std::string endReason;   // why the run stopped early: the failure's message; empty when it completed
};

// Throws CommandFailure(Failed) when this tarnelctl cannot draw (built
// without Qt Charts) or the file cannot be written.
void WriteCharacterizeReport(const ReportHeading& heading, const CharacterizeRunFacts& facts,
                             const CharacterizeFigures& figures, const std::vector<CharacterizePoint>& points,
                             const std::string& path);

}  // namespace tarnel::cli
