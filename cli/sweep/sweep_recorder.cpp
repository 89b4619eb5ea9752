#include "sweep/sweep_recorder.h"

#include <cstdio>

#include "command_line/command_failure.h"
#include "output/report_json.h"
#include "sweep/sweep_plot.h"
#include "sweep/sweep_report.h"

namespace tarnel::cli {

SweepRecorder::SweepRecorder(OutputChoice output) : output_(std::move(output)) {
    if (output_.plotFile) {
        RequirePlotSupport();
        CheckPlotPath(*output_.plotFile);
    }
    switch (output_.rows) {
        case OutputChoice::Rows::CsvOnStdout: csv_ = std::make_unique<SweepCsv>("-"); break;
        case OutputChoice::Rows::CsvFile: csv_ = std::make_unique<SweepCsv>(output_.csvFile); break;
        case OutputChoice::Rows::InJsonSummary: break;
    }
}

void SweepRecorder::Append(const SweepPoint& point) {
    if (csv_) csv_->Append(point);
    else rows_.append(PointJson(point));
}

std::optional<std::string> SweepRecorder::Finish(QJsonObject jsonSummary, const std::string& textSummary,
                                                 const std::vector<SweepPoint>& points, const PlotCaption& plotCaption) {
    if (output_.jsonSummary) {
        if (output_.rows == OutputChoice::Rows::InJsonSummary) jsonSummary["rows"] = rows_;
        PrintJson(jsonSummary);
    } else {
        std::FILE* stream = output_.SummaryOnStdout() ? stdout : stderr;
        std::fputs(textSummary.c_str(), stream);
        std::fflush(stream);
    }
    if (!output_.plotFile || points.empty()) return std::nullopt;
    try {
        DrawSweepPlot(points, plotCaption, *output_.plotFile);
    } catch (const CommandFailure& failure) {
        return failure.what();
    }
    return std::nullopt;
}

}  // namespace tarnel::cli
