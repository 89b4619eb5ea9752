// The tarnelctl command line:
//   tarnelctl [--library newer|older] [--board N|PATH] [--vmax VOLTS] [--json] [--reload] COMMAND ...
// Global options may also follow the command. Both "--option VALUE" and
// "--option=VALUE" are accepted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <tarnel/board_protocol.h>

#include "characterize/characterize_command.h"
#include "meter/meter_target.h"
#include "output/output_choice.h"
#include "scpi/access/allow_list.h"
#include "scpi/listen_address.h"

namespace tarnel::cli {

enum class LibraryChoice { Newer, Older };

struct GlobalOptions {
    LibraryChoice library = LibraryChoice::Newer;
    std::uint8_t board = 0;
    // --board given as a USB port path ("1-1.2"): the commands that open a
    // board open the one there, whatever its number.
    std::optional<std::string> boardPath;
    bool boardChosen = false;     // --board was given (serve then serves that board only)
    std::optional<double> vmax;   // volts; no output above it is written
    bool json = false;
    bool reload = false;          // load the firmware even when it runs
};

// Data words as typed, before their range is checked (values beyond 32 bits
// are kept as 2^32).
struct ScanCommand {};
struct CodeCommand {
    std::uint64_t word = 0;
    protocol::PowerDown mode = protocol::PowerDown::Normal;
};
struct VoltsCommand {
    double volts = 0;
    protocol::PowerDown mode = protocol::PowerDown::Normal;
};
struct ReadCommand {
    unsigned averaged = 1;
    std::optional<unsigned> count;   // readings to log over time; none: one reading
    double intervalMs = 1000;        // between logged readings
};
struct SweepCommand {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::optional<std::uint64_t> step;     // exactly one of step and points
    std::optional<std::uint64_t> points;
    double settleMs = 0;
    unsigned averaged = 1;
    OutputChoice output;
    protocol::PowerDown mode = protocol::PowerDown::Normal;
    std::optional<std::uint64_t> park;     // data word to leave the DAC at
};
struct ServeCommand {
    scpi::ListenAddress listen = *scpi::ParseListenAddress(scpi::kDefaultListenAddress);
    unsigned maxClients = scpi::kDefaultMaxClients;
    std::optional<scpi::access::AllowList> allow;   // --allow; none: the default for the listening address
    std::optional<std::string> config;              // --config; none: /etc/tarnel/scpi.conf
};
struct MetersCommand {
    bool identify = false;   // also ask each USB instrument *IDN?
};
struct MeterCommand {
    MeterTarget meter;
    std::vector<std::string> messages;   // never empty: *IDN? when none was given
};
using Command = std::variant<ScanCommand, CodeCommand, VoltsCommand, ReadCommand, SweepCommand, ServeCommand,
                             CharacterizeCommand, MetersCommand, MeterCommand>;

struct Invocation {
    GlobalOptions options;
    Command command;
};
struct HelpRequest {};
struct VersionRequest {};
using ParsedCommandLine = std::variant<Invocation, HelpRequest, VersionRequest>;

// `arguments` excludes the program name. A malformed command line throws
// CommandFailure(Usage) with one line saying what is wrong and how to ask for help.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tarnel::cli
