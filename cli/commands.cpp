#include "cli/commands.h"

#include <csignal>
#include <cstdio>
#include <memory>

#include "cli/board_session.h"
#include "cli/characterize.h"
#include "cli/linearity.h"
#include "cli/number_text.h"
#include "cli/output_limits.h"
#include "cli/progress_bar.h"
#include "cli/report_json.h"
#include "cli/report_text.h"
#include "cli/serve.h"
#include "cli/stop_request.h"
#include "cli/sweep.h"
#include "cli/sweep_csv.h"
#include "cli/sweep_plot.h"

namespace tarnel::cli {

namespace {

void PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class CommandRunner {
public:
    explicit CommandRunner(const GlobalOptions& options) : options_(options) {}

    void operator()(const ScanCommand&) const {
        const ScanResult scan = BoardSession::Scan(options_.library);
        if (options_.json) {
            PrintJson(ScanJson(scan));
        } else {
            for (const ScannedBoard& board : scan.boards) PrintLine(ScanLine(board));
        }
        if (scan.boards.empty()) throw CommandFailure(ExitStatus::Unreachable, scan.noBoardReason);
    }

    void operator()(const CodeCommand& command) const {
        Write(AllowedDataWord(command.word, command.mode, options_.vmax), command.mode, QJsonObject{});
    }

    void operator()(const VoltsCommand& command) const {
        const std::uint32_t data = DataWordForVolts(command.volts, options_.vmax);
        Write(data, command.mode, QJsonObject{{"requested_volts", command.volts}});
    }

    void operator()(const ReadCommand& command) const {
        BoardSession session = Open();
        const double code = session.Read(command.averaged);
        if (!options_.json) return PrintLine(ReadingLine(code));
        QJsonObject reading = ReadingJson(code, command.averaged);
        reading["firmware_loaded"] = session.LoadedFirmware();
        PrintJson(reading);
    }

    void operator()(const SweepCommand& command) const;

    void operator()(const ServeCommand& command) const { Serve(options_, command); }

    void operator()(const CharacterizeCommand& command) const { Characterize(options_, command); }

private:
    BoardSession Open() const { return BoardSession(options_.library, options_.board, options_.reload); }

    void Write(std::uint32_t data, protocol::PowerDown mode, QJsonObject extra) const {
        BoardSession session = Open();
        const std::uint32_t inputWord = session.Write(data, mode);
        if (!options_.json) return PrintLine(WrittenLine(data, mode));
        QJsonObject written = WrittenJson(data, inputWord, mode);
        for (auto key = extra.begin(); key != extra.end(); ++key) written[key.key()] = key.value();
        written["firmware_loaded"] = session.LoadedFirmware();
        PrintJson(written);
    }

    const GlobalOptions& options_;
};

void CommandRunner::operator()(const SweepCommand& command) const {
    // Every code lies between the two ends, so checking the ends checks them all.
    SweepPlan plan;
    plan.mode = command.mode;
    plan.settleMs = command.settleMs;
    plan.averaged = command.averaged;
    const std::uint32_t from = AllowedDataWord(command.from, command.mode, options_.vmax);
    const std::uint32_t to = AllowedDataWord(command.to, command.mode, options_.vmax);
    plan.codes = SweepCodes(from, to, command.step, command.points);
    if (command.plotPath) RequireSweepPlot();

    BoardSession session = Open();
    // Rows go to the CSV file, or to stdout when there is none (in the JSON
    // object with --json); the summary then goes to stderr.
    const bool rowsInJson = options_.json && !command.csvPath;
    const bool rowsInFile = command.csvPath && *command.csvPath != "-";
    std::unique_ptr<SweepCsv> csv;
    if (!rowsInJson) csv = std::make_unique<SweepCsv>(command.csvPath.value_or("-"));
    QJsonArray rows;

    SweepOutcome outcome;
    {
        ProgressBar progress(plan.codes.size());
        std::size_t finished = 0;
        CatchStopSignals();
        outcome = RunSweep(
            session, plan,
            [&](const SweepPoint& point) {
                if (csv) csv->Append(point);
                if (rowsInJson) rows.append(PointJson(point));
                progress.Update(++finished);
            },
            [] { return StopSignal() != 0; });
    }
    const std::size_t done = outcome.points.size();
    const LinearityReport linearity = AnalyseLinearity(outcome.points);
    if (command.plotPath && done > 0) {
        DrawSweepPlot(outcome.points,
                      "Sweep " + WordText(from) + " to " + WordText(to) + ", " + std::to_string(done) + " points",
                      *command.plotPath);
    }

    if (options_.json) {
        QJsonObject summary = SweepJson(plan.codes.size(), outcome, command.csvPath, command.plotPath, linearity);
        summary["firmware_loaded"] = session.LoadedFirmware();
        if (rowsInJson) summary["rows"] = rows;
        PrintJson(summary);
    } else {
        std::FILE* summaryStream = rowsInFile ? stdout : stderr;
        std::fputs(LinearityText(linearity).c_str(), summaryStream);
        std::fflush(summaryStream);
    }

    const std::string kept = std::to_string(done) + " of " + std::to_string(plan.codes.size()) + " points done" +
                             (rowsInFile ? ", their rows are in " + *command.csvPath : "");
    if (outcome.end == SweepEnd::Stopped) {
        static_assert(static_cast<int>(ExitStatus::Interrupted) == 128 + SIGINT);
        throw CommandFailure(static_cast<ExitStatus>(128 + StopSignal()), "sweep interrupted: " + kept);
    }
    if (outcome.end == SweepEnd::TransferFailed) {
        throw CommandFailure(ExitStatus::TransferFailed, outcome.failure + " (sweep stopped: " + kept + ")");
    }
}

}  // namespace

ExitStatus RunCommand(const Invocation& invocation) {
    std::visit(CommandRunner(invocation.options), invocation.command);
    return ExitStatus::Done;
}

}  // namespace tarnel::cli
