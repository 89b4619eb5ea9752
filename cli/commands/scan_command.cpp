#include "commands/scan_command.h"

#include "board/board_connection.h"
#include "command_line/command_failure.h"
#include "output/report_json.h"
#include "output/report_text.h"
#include "output/stdout_lines.h"

namespace tarnel::cli {

ScanCommand ParseScanCommand(const OptionReader& args, const GlobalOptions&) {
    args.ExpectWords(0, "");
    return ScanCommand{};
}

void RunScanCommand(const GlobalOptions& options, const ScanCommand&) {
    const ScanResult scan = BoardConnection::Scan(options.library);
    if (options.json) {
        PrintJson(ScanJson(scan));
    } else {
        for (const ScannedBoard& board : scan.boards) PrintStdoutLine(ScanLine(board));
    }
    if (scan.boards.empty()) throw CommandFailure(ExitStatus::Unreachable, scan.noBoardReason);
}

}  // namespace tarnel::cli
