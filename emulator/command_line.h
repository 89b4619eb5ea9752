// The board-emulator command line:
//   board-emulator [--no-board] [--boards N] [--unplug-after N] [--stall CODE] [--timeout CODE] [--noise]
//                  [--renumerate] [--dac-errors FILE] -- COMMAND [ARGS...]
#pragma once

#include <string>
#include <variant>
#include <vector>

#include <tarnel/emulated_board.h>

namespace tarnel::emulator {

inline constexpr const char* kUsage =
    "usage: board-emulator [--no-board] [--boards N] [--unplug-after N] [--stall CODE] [--timeout CODE] [--noise] "
    "[--renumerate] [--dac-errors FILE] -- COMMAND [ARGS...]";

struct EmulatorRun {
    Options options;
    std::vector<std::string> command;   // never empty
};
struct HelpRequested {};
struct UsageError {
    std::string message;   // one line: what is wrong, then the usage
};

using ParsedCommandLine = std::variant<EmulatorRun, HelpRequested, UsageError>;

// `arguments` excludes the program name. The file of --dac-errors is read here.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tarnel::emulator
