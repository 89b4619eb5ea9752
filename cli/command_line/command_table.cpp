#include "command_line/command_table.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "board/board_connection.h"
#include "board/dac_levels.h"
#include "characterize/characterize.h"
#include "meter/meter_command.h"
#include "meter/meters_command.h"
#include "output/number_format.h"
#include "output/progress_bar.h"
#include "output/report_json.h"
#include "output/report_text.h"
#include "output/stderr_lines.h"
#include "serve/serve.h"
#include "stepping/stop_request.h"
#include "sweep/readback_linearity.h"
#include "sweep/reading_log.h"
#include "sweep/sweep.h"
#include "sweep/sweep_recorder.h"
#include "sweep/sweep_report.h"

namespace tarnel::cli {

namespace {

void PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

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

class CommandRunner {
public:
    explicit CommandRunner(const GlobalOptions& options) : options_(options) {}

    void operator()(const ScanCommand&) const {
        const ScanResult scan = BoardConnection::Scan(options_.library);
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
        BoardConnection board = Open();
        if (command.count) return LogReadings(board, command);
        const Reading reading = board.Read(command.averaged);
        if (!options_.json) return PrintLine(ReadingLine(reading));
        QJsonObject json = ReadingJson(reading);
        json["firmware_loaded"] = board.LoadedFirmware();
        PrintJson(json);
    }

    void operator()(const SweepCommand& command) const;

    void operator()(const ServeCommand& command) const { Serve(options_, command); }

    void operator()(const CharacterizeCommand& command) const { Characterize(options_, command); }

    void operator()(const MetersCommand& command) const { ListMeters(options_, command); }

    void operator()(const MeterCommand& command) const { TalkToMeter(options_, command); }

private:
    BoardConnection Open() const { return BoardConnection(options_.library, options_.board, options_.reload); }

    void LogReadings(BoardConnection& board, const ReadCommand& command) const;

    void Write(std::uint32_t data, protocol::PowerDown mode, QJsonObject extra) const {
        BoardConnection board = Open();
        const std::uint32_t inputWord = board.Write(data, mode);
        if (!options_.json) return PrintLine(WrittenLine(data, mode));
        QJsonObject written = WrittenJson(data, inputWord, mode);
        for (auto key = extra.begin(); key != extra.end(); ++key) written[key.key()] = key.value();
        written["firmware_loaded"] = board.LoadedFirmware();
        PrintJson(written);
    }

    const GlobalOptions& options_;
};

// Readings over time: CSV rows on stdout, or one JSON object per reading.
void CommandRunner::LogReadings(BoardConnection& board, const ReadCommand& command) const {
    if (!options_.json) PrintLine(kReadingCsvHeader);
    CatchStopSignals();
    const ReadingLogOutcome outcome = cli::LogReadings(
        board, ReadingLogPlan{*command.count, command.intervalMs, command.averaged},
        [&](const LoggedReading& logged) {
            if (!options_.json) return PrintLine(ReadingCsvRow(logged));
            QJsonObject json = ReadingJson(logged.reading);
            json["timestamp"] = QString::fromStdString(logged.timestamp);
            json["seconds"] = logged.seconds;
            PrintJson(json);
        },
        [] { return StopSignal() != 0; });
    const std::string kept = std::to_string(outcome.made) + " of " + std::to_string(*command.count) + " readings done";
    if (outcome.end == LogEnd::Stopped) {
        throw CommandFailure(static_cast<ExitStatus>(128 + StopSignal()), "reading log interrupted: " + kept);
    }
    if (outcome.end == LogEnd::TransferFailed) {
        throw CommandFailure(ExitStatus::TransferFailed, outcome.failure + " (log stopped: " + kept + ")");
    }
}

void CommandRunner::operator()(const SweepCommand& command) const {
    const SweepPlan plan = PlanSweep(command, options_.vmax);
    BoardConnection board = Open();
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
    const std::string title = "Sweep " + WordText(plan.codes.front()) + " to " + WordText(plan.codes.back()) + ", " +
                              std::to_string(done) + " points";
    const std::optional<std::string> plotFailure = recorder.Finish(json, text, outcome.points, title);

    EndSweep(outcome, plan.codes.size(), command.output, plotFailure);
}

}  // namespace

ExitStatus RunCommand(const Invocation& invocation) {
    std::visit(CommandRunner(invocation.options), invocation.command);
    return ExitStatus::Done;
}

}  // namespace tarnel::cli
