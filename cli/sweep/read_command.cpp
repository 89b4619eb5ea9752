#include "sweep/read_command.h"

#include <QJsonObject>

#include "board/board_connection.h"
#include "command_line/command_failure.h"
#include "command_line/value_parsing.h"
#include "output/report_json.h"
#include "output/report_text.h"
#include "output/stdout_lines.h"
#include "stepping/stop_request.h"
#include "sweep/reading_log.h"

namespace tarnel::cli {

namespace {

constexpr std::uint64_t kMostLoggedReadings = 1000000;
constexpr double kLongestIntervalMs = 86400e3;   // a day

// Readings over time: CSV rows on stdout, or one JSON object per reading.
void LogReadingsOf(BoardConnection& board, const GlobalOptions& options, const ReadCommand& command) {
    if (!options.json) PrintStdoutLine(kReadingCsvHeader);
    CatchStopSignals();
    const ReadingLogOutcome outcome = LogReadings(
        board, ReadingLogPlan{*command.count, command.intervalMs, command.averaged},
        [&](const LoggedReading& logged) {
            if (!options.json) return PrintStdoutLine(ReadingCsvRow(logged));
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

}  // namespace

ReadCommand ParseReadCommand(const OptionReader& args, const GlobalOptions&) {
    args.ExpectWords(0, "");
    ReadCommand read{args.Averaged(), std::nullopt};
    if (const std::string* count = args.Find("--count")) {
        read.count = static_cast<unsigned>(CountIn("--count", *count, 1, kMostLoggedReadings));
    }
    if (const std::string* interval = args.Find("--interval")) {
        if (!read.count) Usage("read --interval needs --count N, the number of readings to log");
        read.intervalMs = DecimalIn("--interval", *interval, 0, kLongestIntervalMs, "milliseconds from 0 to 86400000");
    }
    return read;
}

void RunReadCommand(const GlobalOptions& options, const ReadCommand& command) {
    BoardConnection board(options.library, options.board, options.reload);
    if (command.count) return LogReadingsOf(board, options, command);
    const Reading reading = board.Read(command.averaged);
    if (!options.json) return PrintStdoutLine(ReadingLine(reading));
    QJsonObject json = ReadingJson(reading);
    json["firmware_loaded"] = board.LoadedFirmware();
    PrintJson(json);
}

}  // namespace tarnel::cli
