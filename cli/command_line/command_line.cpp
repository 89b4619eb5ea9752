#include "command_line/command_line.h"

#include <map>
#include <optional>

#include "board/usb_port_path.h"
#include "command_line/command_table.h"
#include "command_line/option_reader.h"
#include "command_line/value_parsing.h"

namespace tarnel::cli {

namespace {

constexpr std::uint64_t kLargestBoardNumber = 255;

// Options that take no value; every other option takes one.
bool IsFlag(const std::string& name) { return name == "--json" || name == "--reload" || name == "--identify"; }
bool IsGlobal(const std::string& name) {
    return name == "--json" || name == "--reload" || name == "--library" || name == "--board" || name == "--vmax";
}
// "--name" options and the "-h" shorthand; "-1.5" is a value, not an option.
bool LooksLikeOption(const std::string& text) {
    return text.starts_with("--") || (text.size() >= 2 && text[0] == '-' && !(text[1] >= '0' && text[1] <= '9') &&
                                      text[1] != '.');
}

void ApplyGlobal(GlobalOptions& options, const std::string& name, const std::string& value) {
    if (name == "--json") {
        options.json = true;
    } else if (name == "--reload") {
        options.reload = true;
    } else if (name == "--library") {
        if (value != "newer" && value != "older") Usage("--library needs newer or older, not " + Quoted(value));
        options.library = value == "newer" ? LibraryChoice::Newer : LibraryChoice::Older;
    } else if (name == "--board") {
        options.boardChosen = true;
        if (IsUsbPortPath(value)) {
            options.boardPath = value;
            return;
        }
        const auto number = ParseCount(value);
        if (!number || *number > kLargestBoardNumber) {
            Usage("--board needs a board number from 0 to 255 or a USB port path such as 1-1.2 (as 'tarnelctl scan'"
                  " lists them), not " + Quoted(value));
        }
        options.board = static_cast<std::uint8_t>(*number);
        options.boardPath.reset();
    } else {   // --vmax
        const auto volts = ParseVolts(value);
        if (!volts || *volts < 0) Usage("--vmax needs a voltage of 0 or more such as 3.3 or 3300mV, not " + Quoted(value));
        options.vmax = *volts;
    }
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    Invocation invocation;
    std::optional<std::string> command;
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") return HelpRequest{};
        if (argument == "--version") return VersionRequest{};
        if (!LooksLikeOption(argument)) {
            if (!command) command = argument;
            else words.push_back(argument);
            continue;
        }
        if (!argument.starts_with("--")) Usage("unknown option " + Quoted(argument));
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        std::string value;
        if (IsFlag(name)) {
            if (equals != std::string::npos) Usage(name + " takes no value");
        } else if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            Usage(name + " needs a value");
        }
        if (IsGlobal(name)) ApplyGlobal(invocation.options, name, value);
        else if (command) options[name] = value;
        else Usage("unknown option " + name + " before the command");
    }
    if (!command) Usage("no command given; the commands are " + CommandNames());
    const CommandRow* row = FindCommand(*command);
    if (!row) Usage("unknown command " + Quoted(*command) + "; the commands are " + CommandNames());
    const OptionReader args(*command, std::move(words), std::move(options));
    args.AllowOptions(row->options);
    invocation.command = row->parse(args, invocation.options);
    return invocation;
}

}  // namespace tarnel::cli
