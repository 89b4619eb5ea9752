// The board-emulator command line:
//   board-emulator [--no-board] [--boards N] [--unplug-after N] [--stall CODE] [--timeout CODE] [--noise]
//                  [--renumerate] [--dac-errors FILE] [--meter [ADDR:]PORT [--meter-speed X]] -- COMMAND [ARGS...]
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <tarnel/emulated_board.h>

#include "emulated_meter.h"

namespace tarnel::emulator {

inline constexpr const char* kUsage =
    "usage: board-emulator [--no-board] [--boards N] [--unplug-after N] [--stall CODE] [--timeout CODE] [--noise] "
    "[--renumerate] [--dac-errors FILE] [--meter [ADDR:]PORT [--meter-speed X]] -- COMMAND [ARGS...]";

// What --help prints after the usage line.
inline constexpr const char* kOptionsHelp =
    "Runs COMMAND with the emulated evaluation board attached below libusb and exits with its status.\n"
    "  --no-board            attach no board\n"
    "  --boards N            N identical boards (1 to 16)\n"
    "  --unplug-after N      the board leaves the bus after N DAC writes and read-backs\n"
    "  --stall CODE          every request with that code (hex) stalls; may repeat\n"
    "  --timeout CODE        every request with that code is never answered; may repeat\n"
    "  --noise               +-1 LSB on the read-back code\n"
    "  --renumerate          the firmware re-enumerates as it starts\n"
    "  --dac-errors FILE     the DAC's offset, gain, bow, bit errors and noise from FILE (see emulator/README.md)\n"
    "  --meter [ADDR:]PORT   a SCPI bench DMM on TCP (address 127.0.0.1 unless given; port 0: any free one)\n"
    "                        with its probes on board 0's output; COMMAND finds it in TARNEL_METER_ADDRESS\n"
    "  --meter-speed X       every meter time (integration, autozero, trigger delay) divided by X (default 1)";

struct EmulatorRun {
    Options options;
    std::optional<MeterOptions> meter;   // --meter
    std::vector<std::string> command;    // never empty
};
struct HelpRequested {};
struct UsageError {
    std::string message;   // one line: what is wrong, then the usage
};

using ParsedCommandLine = std::variant<EmulatorRun, HelpRequested, UsageError>;

// `arguments` excludes the program name. The file of --dac-errors is read here.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tarnel::emulator
