#include "command_line/command_table.h"

#include "board/board_connection.h"
#include "characterize/characterize.h"
#include "commands/code_command.h"
#include "commands/scan_command.h"
#include "commands/volts_command.h"
#include "meter/meter_command.h"
#include "meter/meter_target.h"
#include "meter/meters_command.h"
#include "serve/serve.h"
#include "sweep/read_command.h"
#include "sweep/sweep_command.h"

namespace tarnel::cli {

namespace {

template <typename T>
CommandRow Row(std::string name, std::set<std::string> options, std::string help,
               T (*parse)(const OptionReader&, const GlobalOptions&), void (*run)(const GlobalOptions&, const T&)) {
    return CommandRow{std::move(name), std::move(options), std::move(help),
                      [parse](const OptionReader& args, const GlobalOptions& global) -> Command {
                          return parse(args, global);
                      },
                      [](const Command& command) { return std::holds_alternative<T>(command); },
                      [run](const GlobalOptions& global, const Command& command) {
                          const T* mine = std::get_if<T>(&command);
                          if (mine) run(global, *mine);
                          return mine != nullptr;
                      }};
}

std::set<std::string> WithMeterConnection(std::set<std::string> options) {
    options.insert(std::begin(kMeterConnectionOptions), std::end(kMeterConnectionOptions));
    return options;
}

std::vector<CommandRow> MakeTable() {
    std::vector<CommandRow> rows;
    rows.push_back(Row<ScanCommand>("scan", {}, R"(  scan                     list the boards: "board 0  port 1-2  firmware running"
)", ParseScanCommand, RunScanCommand));
    rows.back().opensBoard = false;
    rows.push_back(Row<CodeCommand>("code", {"--mode"}, R"(  code WORD [--mode MODE]  write the data word WORD (hex, 0 to {largest}; 0x allowed)
)", ParseCodeCommand, RunCodeCommand));
    rows.push_back(Row<VoltsCommand>("volts", {"--mode"}, R"(  volts V [--mode MODE]    write the word nearest to V (2.5, 2.5V or 2500mV; 0 to {full})
)", ParseVoltsCommand, RunVoltsCommand));
    rows.push_back(Row<ReadCommand>("read", {"--avg", "--count", "--interval"}, R"(  read [--avg N] [--count N [--interval MS]]
                           read the output back: "code 2048  volts 2.465", with
                           "std 0.471  min 2047  max 2049" of the codes when averaged;
                           with --count, N readings one every MS ms (default 1000)
                           as CSV rows on stdout (JSON: one object per reading)
)", ParseReadCommand, RunReadCommand));
    rows.push_back(Row<SweepCommand>(
        "sweep", {"--from", "--to", "--step", "--points", "--settle", "--avg", "--csv", "--plot", "--mode", "--park"},
        R"(  sweep --from WORD --to WORD (--step N | --points N) [--settle MS] [--avg N]
        [--csv FILE] [--plot FILE] [--mode MODE] [--park WORD]
                           write each code, wait, read back, one CSV row per point;
                           the DAC stays at the last code written unless --park
)", ParseSweepCommand, RunSweepCommand));
    rows.push_back(Row<CharacterizeCommand>(
        "characterize",
        WithMeterConnection({"--meter", "--codes", "--from", "--to", "--nplc", "--settle", "--avg", "--drift",
                             "--drift-codes", "--repeat", "--csv", "--plot", "--report", "--limits", "--park"}),
        R"(  characterize --meter RESOURCE [--serial SETTINGS] [--eol lf|crlf]
        [--gpib-adapter WHERE] [--codes SET] [--nplc N] [--settle MS|auto[:MAX_MS]]
        [--avg N] [--drift N [--drift-codes W1,W2]] [--repeat N]
        [--csv FILE] [--plot FILE] [--report FILE.pdf] [--limits LIST]
        [--park WORD]      measure the DAC with a bench DMM: offset, gain, INL, DNL,
                           each with its uncertainty; --report writes a one-page
                           A4 PDF record of the run
)", ParseCharacterizeCommand, RunCharacterizeCommand));
    rows.push_back(Row<MetersCommand>("meters", {"--identify"}, R"(  meters [--identify]      list the meters connected here: every USBTMC instrument
                           and every serial port, as resources; --identify also asks
                           each USB instrument *IDN? (exit 0 when none is found)
)", ParseMetersCommand, ListMeters));
    rows.back().opensBoard = false;
    rows.push_back(Row<MeterCommand>("meter", WithMeterConnection({}), R"(  meter RESOURCE [MESSAGE ...] [--serial SETTINGS] [--eol lf|crlf] [--gpib-adapter WHERE]
                           send each MESSAGE to the meter (no board needed), print
                           each reply (a MESSAGE ending in ? is a query; none: *IDN?),
                           then read its error queue: what it held is the one line
                           on stderr (exit 1)
)", ParseMeterCommand, TalkToMeter));
    rows.back().opensBoard = false;
    rows.push_back(Row<ServeCommand>("serve", {"--listen", "--max-clients", "--allow", "--config"}, R"(  serve [--listen ADDR:PORT] [--max-clients N] [--allow NETWORKS] [--config FILE]
                           every board as a SCPI instrument on TCP and VXI-11 until
                           SIGTERM or Ctrl-C (exit 0): the boards, ports and device
                           names of FILE (default /etc/tarnel/scpi.conf), or without
                           it ADDR:PORT {listen} by default ([::1]:5025 for IPv6)
                           for the first board and the next ports for the others,
                           inst0, inst1 ...; --board serves that board only; up to
                           N clients at once on each (1 to 256, default {clients});
                           --allow: the clients' networks, CIDR[,CIDR...] such as
                           192.168.1.0/24,fd00::/8, or any (loopback always)
)", ParseServeCommand, RunServeCommand));
    rows.back().opensBoard = false;
    return rows;
}

}  // namespace

const std::vector<CommandRow>& CommandTable() {
    static const std::vector<CommandRow> table = MakeTable();
    return table;
}

const CommandRow* FindCommand(const std::string& name) {
    for (const CommandRow& row : CommandTable()) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

std::string CommandNames() {
    const auto& table = CommandTable();
    std::string names;
    for (std::size_t i = 0; i < table.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == table.size() ? " and " : ", ") + table[i].name;
    }
    return names;
}

ExitStatus RunCommand(const Invocation& invocation) {
    for (const CommandRow& row : CommandTable()) {
        if (!row.owns(invocation.command)) continue;
        GlobalOptions options = invocation.options;
        if (options.boardPath && row.opensBoard) {
            options.board = BoardConnection::NumberOfBoardAt(options.library, *options.boardPath);
        }
        row.run(options, invocation.command);
        break;
    }
    return ExitStatus::Done;
}

}  // namespace tarnel::cli
