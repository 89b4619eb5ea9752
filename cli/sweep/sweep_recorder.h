// A sweep's results on their way out, where its OutputChoice says: every path
// is checked before the first row, each row goes out as its point is done,
// the summary follows the last row, and the plot is drawn last of all, so
// that a plot that cannot be drawn costs nothing that was measured.
#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/output_choice.h"
#include "output/plot_file.h"
#include "output/plot_title.h"
#include "sweep/sweep.h"
#include "sweep/sweep_csv.h"

namespace tarnel::cli {

class SweepRecorder {
public:
    // Checks the plot path and creates the CSV file (with its header). A path
    // that cannot be written throws CommandFailure(Failed) before anything is
    // written.
    explicit SweepRecorder(OutputChoice output);

    void Append(const SweepPoint& point);

    // Prints the summary: jsonSummary (with the rows when they go in it) or
    // textSummary. Then draws the plot of points; returns the one-line reason
    // when it cannot be drawn.
    std::optional<std::string> Finish(QJsonObject jsonSummary, const std::string& textSummary,
                                      const std::vector<SweepPoint>& points, const PlotCaption& plotCaption);

private:
    OutputChoice output_;
    std::unique_ptr<SweepCsv> csv_;   // none when the rows go in the JSON
    QJsonArray rows_;
};

}  // namespace tarnel::cli
