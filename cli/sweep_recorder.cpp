#include "cli/sweep_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/command_failure.h"
#include "cli/report_json.h"
#include "cli/sweep_plot.h"

namespace tarnel::cli {

void CheckPlotPath(const std::string& path) {
    const auto refuse = [&](int error) {
        throw CommandFailure(ExitStatus::Failed, "cannot write the plot " + path + ": " + std::strerror(error) +
                                                     " — give a --plot path ending in .png in a folder you can write to");
    };
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) refuse(EISDIR);
        if (::access(path.c_str(), W_OK) != 0) refuse(errno);
        return;
    }
    // Made and removed again: the folder takes a new file of that name.
    const int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (probe < 0) refuse(errno);
    ::close(probe);
    ::unlink(path.c_str());
}

SweepRecorder::SweepRecorder(SweepOutput output) : output_(std::move(output)) {
    if (output_.plotFile) {
        RequireSweepPlot();
        CheckPlotPath(*output_.plotFile);
    }
    switch (output_.rows) {
        case SweepOutput::Rows::CsvOnStdout: csv_ = std::make_unique<SweepCsv>("-"); break;
        case SweepOutput::Rows::CsvFile: csv_ = std::make_unique<SweepCsv>(output_.csvFile); break;
        case SweepOutput::Rows::InJsonSummary: break;
    }
}

void SweepRecorder::Append(const SweepPoint& point) {
    if (csv_) csv_->Append(point);
    else rows_.append(PointJson(point));
}

std::optional<std::string> SweepRecorder::Finish(QJsonObject jsonSummary, const std::string& textSummary,
                                                 const std::vector<SweepPoint>& points, const std::string& plotTitle) {
    if (output_.jsonSummary) {
        if (output_.rows == SweepOutput::Rows::InJsonSummary) jsonSummary["rows"] = rows_;
        PrintJson(jsonSummary);
    } else {
        std::FILE* stream = output_.SummaryOnStdout() ? stdout : stderr;
        std::fputs(textSummary.c_str(), stream);
        std::fflush(stream);
    }
    if (!output_.plotFile || points.empty()) return std::nullopt;
    try {
        DrawSweepPlot(points, plotTitle, *output_.plotFile);
    } catch (const CommandFailure& failure) {
        return failure.what();
    }
    return std::nullopt;
}

}  // namespace tarnel::cli
