#include "cli/characterize.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/bench_meter.h"
#include "cli/board_session.h"
#include "cli/characterize_analysis.h"
#include "cli/characterize_csv.h"
#include "cli/characterize_plot.h"
#include "cli/characterize_report.h"
#include "cli/characterize_run.h"
#include "cli/csv_file.h"
#include "cli/number_text.h"
#include "cli/output_limits.h"
#include "cli/progress_bar.h"
#include "cli/report_json.h"
#include "cli/stop_request.h"
#include "cli/sweep_plot.h"

namespace tarnel::cli {

namespace {

// A plot file that could not be written after the run would cost nothing
// measured, but the user learns it first: the path is tried now.
void CheckPlotWritable(const std::string& path) {
    std::error_code ignored;
    const bool existed = std::filesystem::exists(path, ignored);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        throw CommandFailure(ExitStatus::Failed,
                             "cannot write the plot " + path + " — give a --plot path ending in .png in a folder you can write to");
    }
    std::fclose(file);
    if (!existed) std::remove(path.c_str());
}

LimitedFigures Limited(const CharacterizeFigures& figures) {
    LimitedFigures limited;
    if (figures.inlEndPointLsb) limited.inlLsb = figures.inlEndPointLsb->value;
    if (figures.dnlLsb) limited.dnlLsb = figures.dnlLsb->value;
    if (figures.offsetUv) limited.offsetMv = *figures.offsetUv / 1000;
    limited.gainPercent = figures.gainPercentFsr;
    return limited;
}

// Writes the park word unless the board has gone; the word it is at, or none.
std::optional<std::uint32_t> Park(BoardSession& session, std::uint32_t park, std::string& failure) {
    if (session.BoardGone()) return std::nullopt;
    try {
        session.Write(park, protocol::PowerDown::Normal);
        return park;
    } catch (const CommandFailure& error) {
        if (failure.empty()) failure = error.what();
        return std::nullopt;
    }
}

}  // namespace

ExitStatus Characterize(const GlobalOptions& options, const CharacterizeCommand& command) {
    // Every value first: the codes, the park word, the output paths, the meter.
    const bool rowsInJson = options.json && !command.csvPath;
    if (options.json && command.csvPath && *command.csvPath == "-") {
        throw CommandFailure(ExitStatus::Usage, "--json with --csv - would put CSV and JSON on one stdout — give --csv "
                                                "a file, or leave out --csv to get the rows in the JSON");
    }
    CharacterizePlan plan;
    plan.codes = CharacterizeCodes(command.codes);
    plan.settleMs = command.settleMs;
    const std::uint32_t highest = *std::max_element(plan.codes.begin(), plan.codes.end());
    AllowedDataWord(highest, protocol::PowerDown::Normal, options.vmax);
    const std::uint32_t park = AllowedDataWord(command.park, protocol::PowerDown::Normal, options.vmax);
    if (command.plotPath) {
        RequireSweepPlot();
        CheckPlotWritable(*command.plotPath);
    }
    const bool rowsInFile = command.csvPath && *command.csvPath != "-";
    std::unique_ptr<CsvFile> csv;
    if (rowsInFile) csv = std::make_unique<CsvFile>(*command.csvPath, kCharacterizeCsvHeader);
    BenchMeter meter(command.meter, MeterSettings{command.nplc, command.averaged});
    BoardSession session(options.library, options.board, options.reload);

    CharacterizeOutcome outcome;
    {
        ProgressBar progress(plan.codes.size());
        std::size_t finished = 0;
        CatchStopSignals();
        outcome = RunCharacterization(
            session, meter, plan,
            [&](const CharacterizePoint& point) {
                if (csv) csv->WriteLine(CharacterizeCsvRow(point, PointFigures{}));
                progress.Update(++finished);
            },
            [] { return StopSignal() != 0; });
    }
    std::string parkFailure;
    CharacterizeRunFacts facts;
    facts.parkedAt = Park(session, park, parkFailure);

    // The results of what was measured, however the run ended.
    const CharacterizeFigures figures = AnalyseCharacterization(outcome.points, command.codes.kind);
    facts.meterResource = command.meter.Text();
    facts.meterIdentity = meter.Identity();
    facts.command = &command;
    facts.planned = plan.codes.size();
    facts.end = outcome.end;
    facts.firmwareLoaded = session.LoadedFirmware();
    facts.failedLimits = FailedLimits(command.limits, Limited(figures));

    std::vector<std::string> rows;
    for (std::size_t i = 0; i < outcome.points.size(); ++i) {
        rows.push_back(CharacterizeCsvRow(outcome.points[i], figures.perPoint.at(i)));
    }
    std::string outputFailure;
    try {
        if (csv) {
            csv->Rewrite(rows);
        } else if (!rowsInJson) {
            CsvFile out("-", kCharacterizeCsvHeader);
            for (const std::string& row : rows) out.WriteLine(row);
        }
    } catch (const CommandFailure& failure) {
        outputFailure = failure.what();
    }
    if (options.json) {
        QJsonObject summary = CharacterizeJson(facts, figures);
        if (rowsInJson) {
            QJsonArray json;
            for (std::size_t i = 0; i < outcome.points.size(); ++i) {
                json.append(CharacterizeRowJson(outcome.points[i], figures.perPoint.at(i)));
            }
            summary["rows"] = json;
        }
        PrintJson(summary);
    } else {
        // The summary goes beside the rows: on stderr when they are on stdout.
        std::FILE* stream = rowsInFile ? stdout : stderr;
        std::fputs(CharacterizeText(facts, figures).c_str(), stream);
        std::fflush(stream);
    }
    if (command.plotPath && !outcome.points.empty() && outputFailure.empty()) {
        try {
            DrawCharacterizePlot(outcome.points, figures, *command.plotPath,
                                 "DAC linearity, " + command.codes.text + ", " +
                                     std::to_string(outcome.points.size()) + " codes");
        } catch (const CommandFailure& failure) {
            outputFailure = failure.what();
        }
    }

    const std::string kept = std::to_string(outcome.points.size()) + " of " + std::to_string(plan.codes.size()) +
                             " codes measured" + (rowsInFile ? ", their rows are in " + *command.csvPath : "");
    if (outcome.end == CharacterizeEnd::Stopped) {
        throw CommandFailure(static_cast<ExitStatus>(128 + StopSignal()), "characterize interrupted: " + kept);
    }
    if (outcome.end != CharacterizeEnd::Completed) {
        throw CommandFailure(ExitStatus::TransferFailed, outcome.failure + " (characterize stopped: " + kept + ")");
    }
    if (!parkFailure.empty()) {
        throw CommandFailure(ExitStatus::TransferFailed, "parking the DAC at " + WordText(park) + " failed: " + parkFailure);
    }
    if (!outputFailure.empty()) throw CommandFailure(ExitStatus::Failed, outputFailure);
    if (!facts.failedLimits.empty()) {
        std::string failed;
        for (const std::string& one : facts.failedLimits) failed += (failed.empty() ? "" : "; ") + one;
        throw CommandFailure(ExitStatus::LimitFailed,
                             "limits failed: " + failed + " — the DAC is outside its --limits (see the summary)");
    }
    return ExitStatus::Done;
}

}  // namespace tarnel::cli
