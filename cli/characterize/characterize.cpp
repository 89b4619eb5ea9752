#include "characterize/characterize.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

#include "board/board_connection.h"
#include "board/dac_levels.h"
#include "board/dac_park.h"
#include "characterize/characterize_analysis.h"
#include "characterize/characterize_csv.h"
#include "characterize/characterize_pdf_report.h"
#include "characterize/characterize_plot.h"
#include "characterize/characterize_report.h"
#include "characterize/characterize_run.h"
#include "meter/lab_dmm.h"
#include "output/csv_file.h"
#include "output/number_format.h"
#include "output/plot_file.h"
#include "output/progress_bar.h"
#include "output/report_json.h"
#include "stepping/stop_request.h"
#include "sweep/sweep.h"
#include "sweep/sweep_plot.h"
#include "sweep/sweep_recorder.h"

namespace tarnel::cli {

namespace {

LimitedFigures Limited(const CharacterizeFigures& figures) {
    LimitedFigures limited;
    if (figures.inlEndPointLsb) {
        limited.inlLsb = figures.inlEndPointLsb->value;
        limited.inlLsbU = figures.inlEndPointLsb->u;
    }
    if (figures.dnlLsb) {
        limited.dnlLsb = figures.dnlLsb->value;
        limited.dnlLsbU = figures.dnlLsb->u;
    }
    if (figures.offsetUv) limited.offsetMv = *figures.offsetUv / 1000;
    if (figures.offsetUvU) limited.offsetMvU = *figures.offsetUvU / 1000;
    limited.gainPercent = figures.gainPercentFsr;
    if (figures.gainPpmU) limited.gainPercentU = *figures.gainPpmU / 1e4;
    return limited;
}

// The rows (the file written again with their figures, or stdout), the
// summary, the plot, then the report; the first of them that could not be
// written. endReason: why the run stopped early, empty when it completed.
std::string WriteResults(const GlobalOptions& options, const CharacterizeCommand& command, const CharacterizeRunFacts& facts,
                         const CharacterizeFigures& figures, const std::vector<CharacterizePoint>& points,
                         CsvFile* csv, const std::string& endReason) {
    const OutputChoice& output = command.output;
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < points.size(); ++i) {
        rows.push_back(CharacterizeCsvRow(points[i], figures.perPoint.at(i)));
    }
    std::string outputFailure;
    try {
        if (csv) {
            csv->Rewrite(rows);
        } else if (output.rows == OutputChoice::Rows::CsvOnStdout) {
            CsvFile out("-", kCharacterizeCsvHeader);
            for (const std::string& row : rows) out.WriteLine(row);
        }
    } catch (const CommandFailure& failure) {
        outputFailure = failure.what();
    }
    if (output.jsonSummary) {
        QJsonObject summary = CharacterizeJson(facts, figures);
        if (output.rows == OutputChoice::Rows::InJsonSummary) {
            QJsonArray json;
            for (std::size_t i = 0; i < points.size(); ++i) {
                json.append(CharacterizeRowJson(points[i], figures.perPoint.at(i)));
            }
            summary["rows"] = json;
        }
        PrintJson(summary);
    } else {
        // The summary goes beside the rows: on stderr when they are on stdout.
        std::FILE* stream = output.SummaryOnStdout() ? stdout : stderr;
        std::fputs(CharacterizeText(facts, figures).c_str(), stream);
        std::fflush(stream);
    }
    if (output.plotFile && !points.empty()) {
        try {
            const std::optional<std::string> model = MeterModel(facts.meterIdentity);
            const PlotCaption caption{
                "DAC linearity, codes " + command.codes.text + ", " + std::to_string(points.size()) + " measured",
                FactsLine({BoardFacts(options.library, options.board), model ? "meter " + *model : "", PlotDate()})};
            DrawCharacterizePlot(points, figures, command.limits, caption, *output.plotFile);
        } catch (const CommandFailure& failure) {
            if (outputFailure.empty()) outputFailure = failure.what();
        }
    }
    if (command.reportFile) {
        // Written with no code measured as well: the record of how the run ended.
        try {
            WriteCharacterizeReport({BoardFacts(options.library, options.board), PlotDate(), endReason}, facts, figures,
                                    points, *command.reportFile);
        } catch (const CommandFailure& failure) {
            if (outputFailure.empty()) outputFailure = failure.what();
        }
    }
    return outputFailure;
}

}  // namespace

ExitStatus Characterize(const GlobalOptions& options, const CharacterizeCommand& command) {
    // Every value first: the codes, the park word, the output paths, the meter.
    const OutputChoice& output = command.output;
    CharacterizePlan plan;
    plan.codes = CharacterizeCodes(command.codes);
    plan.settleMs = command.settleMs;
    plan.settle = command.settle;
    plan.drift = command.drift;
    plan.repeats = command.repeats;
    const std::uint32_t highest = *std::max_element(plan.codes.begin(), plan.codes.end());
    AllowedDataWord(highest, protocol::PowerDown::Normal, options.vmax);
    if (plan.drift.Any()) {
        AllowedDataWord(plan.drift.lowCode, protocol::PowerDown::Normal, options.vmax);
        AllowedDataWord(plan.drift.highCode, protocol::PowerDown::Normal, options.vmax);
    }
    const std::uint32_t park = AllowedDataWord(command.park, protocol::PowerDown::Normal, options.vmax);
    if (output.plotFile) {
        RequirePlotSupport();
        CheckPlotPath(*output.plotFile);
    }
    if (command.reportFile) {
        RequirePlotSupport();
        CheckPdfPath("--report", *command.reportFile);
    }
    // The file gets each row as it is measured; stdout, which cannot take
    // rows back, gets them once their figures are known.
    std::unique_ptr<CsvFile> csv;
    if (output.rows == OutputChoice::Rows::CsvFile) csv = std::make_unique<CsvFile>(output.csvFile, kCharacterizeCsvHeader);
    LabDmm meter(command.meter.resource, command.meter.connection, MeterSettings{command.nplc, command.averaged});
    BoardConnection board(options.library, options.board, options.reload);

    CharacterizeOutcome outcome;
    std::string parkFailure;
    try {
        ProgressBar progress(plan.Steps());
        std::size_t finished = 0;
        CatchStopSignals();
        outcome = RunCharacterization(
            board, meter, plan,
            [&](const CharacterizePoint& point) {
                if (csv) csv->WriteLine(CharacterizeCsvRow(point, PointFigures{}));
            },
            [] { return StopSignal() != 0; }, [&] { progress.Update(++finished); });
    } catch (const CommandFailure&) {
        // A row that cannot be written ends the run; the DAC is parked all the same.
        ParkDac(board, park, protocol::PowerDown::Normal, false, parkFailure);
        throw;
    }
    CharacterizeRunFacts facts;
    if (ParkDac(board, park, protocol::PowerDown::Normal, outcome.end == CharacterizeEnd::BoardFailed, parkFailure)) {
        facts.parkedAt = park;
    }

    // The results of what was measured, however the run ended.
    const CharacterizeFigures figures =
        AnalyseCharacterization(outcome.points, command.codes.kind, outcome.references, plan.repeats);
    facts.meterResource = meter.Resource();
    facts.meterConnection = meter.ConnectionDetails();
    facts.meterIdentity = meter.Identity();
    facts.command = &command;
    facts.planned = plan.codes.size() * plan.repeats;
    facts.end = outcome.end;
    facts.firmwareLoaded = board.LoadedFirmware();
    facts.limitJudgements = JudgeLimits(command.limits, Limited(figures));
    facts.failedLimits = FailedLimits(command.limits, Limited(figures));

    const std::string outputFailure = WriteResults(options, command, facts, figures, outcome.points, csv.get(),
                                                   outcome.end == CharacterizeEnd::Completed ? "" : outcome.failure);

    const std::string kept = std::to_string(outcome.points.size()) + " of " + std::to_string(facts.planned) +
                             " codes measured" + (csv ? ", their rows are in " + output.csvFile : "");
    if (outcome.end == CharacterizeEnd::Stopped) {
        throw CommandFailure(static_cast<ExitStatus>(128 + StopSignal()), "characterize interrupted: " + kept);
    }
    if (outcome.end != CharacterizeEnd::Completed) {
        throw CommandFailure(ExitStatus::TransferFailed, outcome.failure + " (characterize stopped: " + kept + ")");
    }
    if (!parkFailure.empty()) throw CommandFailure(ExitStatus::TransferFailed, parkFailure);
    if (!outputFailure.empty()) throw CommandFailure(ExitStatus::Failed, outputFailure);
    if (!facts.failedLimits.empty()) {
        std::string failed;
        for (const std::string& one : facts.failedLimits) failed += (failed.empty() ? "" : "; ") + one;
        bool tooClose = false;
        for (const LimitJudgement& one : facts.limitJudgements) tooClose |= one.verdict == LimitVerdict::TooClose;
        throw CommandFailure(ExitStatus::LimitFailed,
                             "limits failed: " + failed +
                                 (tooClose ? " — a figure within twice its uncertainty of its limit cannot be called; "
                                             "more readings (--avg, --repeat) narrow it (see the summary)"
                                           : " — the DAC is outside its --limits (see the summary)"));
    }
    return ExitStatus::Done;
}

void RunCharacterizeCommand(const GlobalOptions& options, const CharacterizeCommand& command) {
    Characterize(options, command);
}

}  // namespace tarnel::cli
