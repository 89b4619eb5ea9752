// The commands of tarnelctl, one row each: its name, the options it takes,
// its lines in --help's command list, how its words and options are read,
// and how it runs. A new command is one row here and one file of its own.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "command_line/command_failure.h"
#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

struct CommandRow {
    std::string name;
    std::set<std::string> options;   // the options it takes besides the global ones
    std::string help;                // its lines in --help's command list
    std::function<Command(const OptionReader& args, const GlobalOptions& options)> parse;
    // Whether the parsed command is this row's.
    std::function<bool(const Command& command)> owns;
    // Runs the command when it is this row's; false when it is another's.
    std::function<bool(const GlobalOptions& options, const Command& command)> run;
    // Whether it opens the board --board picks (a port path is looked up first).
    bool opensBoard = true;
};

const std::vector<CommandRow>& CommandTable();
// The row of that name, or none.
const CommandRow* FindCommand(const std::string& name);
// "scan, code, ... and serve", for messages.
std::string CommandNames();

// Runs one parsed command: checks its values, finds the board at --board's
// port path when one was given, opens the board, does the
// work, prints the results (text or JSON) on stdout. Returns
// ExitStatus::Done; every failure throws CommandFailure.
ExitStatus RunCommand(const Invocation& invocation);

}  // namespace tarnel::cli
