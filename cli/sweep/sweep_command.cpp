#include "sweep/sweep_command.h"

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "board/board_connection.h"
#include "command_line/command_failure.h"
#include "output/axis_ticks.h"
#include "output/number_format.h"
#include "output/progress_bar.h"
#include "output/stderr_lines.h"
#include "stepping/stop_request.h"
#include "sweep/readback_linearity.h"
#include "sweep/sweep.h"
#include "sweep/sweep_recorder.h"
#include "sweep/sweep_report.h"

namespace tarnel::cli {

namespace {

// After the results are out: a line for every failure of the sweep, the one
// that decides the exit status last (an interrupt, then a failed transfer or
// park, then the plot).
void EndSweep(const SweepOutcome& outcome, std::size_t planned, const OutputChoice& output,
              const std::optional<std::string>& plotFailure) {
    std::vector<CommandFailure> failures;
    if (plotFailure) failures.emplace_back(ExitStatus::Failed, *plotFailure);
    if (!outcome.parkFailure.empty()) failures.emplace_back(ExitStatus::TransferFailed, outcome.parkFailure);
    const bool rowsInFile = output.rows == OutputChoice::Rows::CsvFile;
    const std::string kept = std::to_string(outcome.points.size()) + " of " + std::to_string(planned) + " points done" +
                             (rowsInFile ? ", their rows are in " + output.csvFile : "");
    if (outcome.end == SweepEnd::TransferFailed) {
        failures.emplace_back(ExitStatus::TransferFailed, outcome.failure + " (sweep stopped: " + kept + ")");
    }
    if (outcome.end == SweepEnd::Stopped) {
        static_assert(static_cast<int>(ExitStatus::Interrupted) == 128 + SIGINT);
        failures.emplace_back(static_cast<ExitStatus>(128 + StopSignal()), "sweep interrupted: " + kept);
    }
    if (failures.empty()) return;
    for (std::size_t i = 0; i + 1 < failures.size(); ++i) PrintStderrLine(std::string("tarnelctl: ") + failures[i].what());
    throw failures.back();
}

}  // namespace

SweepCommand ParseSweepCommand(const OptionReader& args, const GlobalOptions& options) {
    args.ExpectWords(0, "");
    SweepCommand sweep;
    for (const char* required : {"--from", "--to"}) {
        if (!args.Has(required)) Usage(std::string("sweep needs ") + required + " WORD");
    }
    sweep.from = WordIn("--from", *args.Find("--from"));
    sweep.to = WordIn("--to", *args.Find("--to"));
    const std::string* step = args.Find("--step");
    const std::string* points = args.Find("--points");
    if ((step != nullptr) == (points != nullptr)) Usage("sweep needs either --step N or --points N");
    if (step) sweep.step = CountIn("--step", *step, 1, protocol::kDataMask);
    if (points) sweep.points = CountIn("--points", *points, 1, protocol::kDataMask + 1);
    sweep.settleMs = args.SettleMs(0);
    sweep.averaged = args.Averaged();
    sweep.output = args.Output(options.json);
    sweep.mode = args.Mode();
    if (const std::string* park = args.Find("--park")) sweep.park = WordIn("--park", *park);
    return sweep;
}

void RunSweepCommand(const GlobalOptions& options, const SweepCommand& command) {
    const SweepPlan plan = PlanSweep(command, options.vmax);
    BoardConnection board(options.library, options.board, options.reload);
    SweepRecorder recorder(command.output);

    SweepOutcome outcome;
    {
        ProgressBar progress(plan.codes.size());
        std::size_t finished = 0;
        CatchStopSignals();
        outcome = RunSweep(
            board, plan,
            [&](const SweepPoint& point) {
                recorder.Append(point);
                progress.Update(++finished);
            },
            [] { return StopSignal() != 0; });
    }
    const std::size_t done = outcome.points.size();
    const LinearityReport linearity = AnalyseLinearity(outcome.points);
    QJsonObject json = SweepJson(plan.codes.size(), outcome, command.output, plan.park, linearity);
    json["firmware_loaded"] = board.LoadedFirmware();
    std::string text = LinearityText(linearity);
    if (outcome.parked) text += "parked          " + WordText(*plan.park) + "\n";
    const PlotCaption caption{"DAC sweep " + HexCodeLabel(plan.codes.front(), protocol::kDataMask) + " to " +
                                  HexCodeLabel(plan.codes.back(), protocol::kDataMask) +
                                  ", " + std::to_string(done) + " points, read back by the board's converter",
                              FactsLine({BoardFacts(options.library, options.board), PlotDate()})};
    const std::optional<std::string> plotFailure = recorder.Finish(json, text, outcome.points, caption);

    EndSweep(outcome, plan.codes.size(), command.output, plotFailure);
}

}  // namespace tarnel::cli
