#include "command_line/command_line.h"

#include <map>
#include <set>

#include "command_line/command_failure.h"
#include "command_line/usage_failure.h"
#include "command_line/value_parsing.h"
#include "core/read_counts.h"

namespace tarnel::cli {

namespace {

constexpr double kLongestSettleMs = 3600e3;   // an hour
constexpr std::uint64_t kMostLoggedReadings = 1000000;
constexpr double kLongestIntervalMs = 86400e3;   // a day
constexpr std::uint64_t kLargestBoardNumber = 255;
constexpr std::uint64_t kMostClients = 256;
constexpr const char* kCommandNames = "scan, code, volts, read, sweep, characterize, serve, meters and meter";

[[noreturn]] void Usage(const std::string& what) { UsageFailure(what); }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

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

std::uint64_t CountIn(const std::string& option, const std::string& text, std::uint64_t least, std::uint64_t most) {
    const auto value = ParseCount(text);
    if (!value || *value < least || *value > most) {
        Usage(option + " needs a whole number from " + std::to_string(least) + " to " + std::to_string(most) +
              ", not " + Quoted(text));
    }
    return *value;
}

std::uint64_t WordIn(const std::string& what, const std::string& text) {
    const auto word = ParseHexWord(text);
    if (!word) Usage(what + " needs a data word in hex such as 20000 or 0x3FFFF, not " + Quoted(text));
    return *word;
}

protocol::PowerDown ModeIn(const std::string& text) {
    const auto mode = ParseMode(text);
    if (!mode) Usage("--mode needs normal, 1k, 100k or hiz, not " + Quoted(text));
    return *mode;
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
        options.board = static_cast<std::uint8_t>(CountIn(name, value, 0, kLargestBoardNumber));
    } else {   // --vmax
        const auto volts = ParseVolts(value);
        if (!volts || *volts < 0) Usage("--vmax needs a voltage of 0 or more such as 3.3 or 3300mV, not " + Quoted(value));
        options.vmax = *volts;
    }
}

// The options and words that follow a command's name.
struct CommandArguments {
    std::string name;
    std::vector<std::string> words;
    std::map<std::string, std::string> options;

    void Allow(const std::set<std::string>& known, std::size_t wordCount, const std::string& wordName) const {
        for (const auto& [option, value] : options) {
            if (!known.contains(option)) Usage(name + " has no option " + option);
        }
        if (words.size() < wordCount) Usage(name + " needs " + wordName);
        if (words.size() > wordCount) Usage(name + " does not take " + Quoted(words[wordCount]));
    }
    const std::string* Find(const std::string& option) const {
        const auto found = options.find(option);
        return found == options.end() ? nullptr : &found->second;
    }
    unsigned Averaged() const {
        const std::string* text = Find("--avg");
        return text ? static_cast<unsigned>(CountIn("--avg", *text, 1, kMostReadsPerReading)) : 1;
    }
    protocol::PowerDown Mode() const {
        const std::string* text = Find("--mode");
        return text ? ModeIn(*text) : protocol::PowerDown::Normal;
    }
};

Command BuildCommand(const CommandArguments& args, const GlobalOptions& options) {
    if (args.name == "scan") {
        args.Allow({}, 0, "");
        return ScanCommand{};
    }
    if (args.name == "code") {
        args.Allow({"--mode"}, 1, "a data word in hex, such as 20000");
        return CodeCommand{WordIn("code", args.words[0]), args.Mode()};
    }
    if (args.name == "volts") {
        args.Allow({"--mode"}, 1, "a voltage, such as 2.5 or 2500mV");
        const auto volts = ParseVolts(args.words[0]);
        if (!volts) Usage("volts needs a voltage such as 2.5, 2.5V or 2500mV, not " + Quoted(args.words[0]));
        return VoltsCommand{*volts, args.Mode()};
    }
    if (args.name == "read") {
        args.Allow({"--avg", "--count", "--interval"}, 0, "");
        ReadCommand read{args.Averaged(), std::nullopt};
        if (const std::string* count = args.Find("--count")) {
            read.count = static_cast<unsigned>(CountIn("--count", *count, 1, kMostLoggedReadings));
        }
        if (const std::string* interval = args.Find("--interval")) {
            if (!read.count) Usage("read --interval needs --count N, the number of readings to log");
            const auto ms = ParseDecimal(*interval);
            if (!ms || *ms > kLongestIntervalMs) {
                Usage("--interval needs milliseconds from 0 to 86400000, not " + Quoted(*interval));
            }
            read.intervalMs = *ms;
        }
        return read;
    }
    if (args.name == "sweep") {
        args.Allow({"--from", "--to", "--step", "--points", "--settle", "--avg", "--csv", "--plot", "--mode", "--park"}, 0, "");
        SweepCommand sweep;
        for (const char* required : {"--from", "--to"}) {
            if (!args.Find(required)) Usage(std::string("sweep needs ") + required + " WORD");
        }
        sweep.from = WordIn("--from", *args.Find("--from"));
        sweep.to = WordIn("--to", *args.Find("--to"));
        const std::string* step = args.Find("--step");
        const std::string* points = args.Find("--points");
        if ((step != nullptr) == (points != nullptr)) Usage("sweep needs either --step N or --points N");
        if (step) sweep.step = CountIn("--step", *step, 1, protocol::kDataMask);
        if (points) sweep.points = CountIn("--points", *points, 1, protocol::kDataMask + 1);
        if (const std::string* settle = args.Find("--settle")) {
            const auto ms = ParseDecimal(*settle);
            if (!ms || *ms > kLongestSettleMs) Usage("--settle needs milliseconds from 0 to 3600000, not " + Quoted(*settle));
            sweep.settleMs = *ms;
        }
        sweep.averaged = args.Averaged();
        const std::string* csv = args.Find("--csv");
        const std::string* plot = args.Find("--plot");
        sweep.output = ChooseOutput(options.json, csv ? std::optional<std::string>(*csv) : std::nullopt,
                                         plot ? std::optional<std::string>(*plot) : std::nullopt);
        sweep.mode = args.Mode();
        if (const std::string* park = args.Find("--park")) sweep.park = WordIn("--park", *park);
        return sweep;
    }
    if (args.name == "serve") {
        args.Allow({"--listen", "--max-clients"}, 0, "");
        ServeCommand serve;
        if (const std::string* listen = args.Find("--listen")) {
            const auto address = scpi::ParseListenAddress(*listen);
            if (!address) {
                Usage("--listen needs an address and a port such as 127.0.0.1:5025, 0.0.0.0:5025 or [::1]:5025, not " +
                      Quoted(*listen));
            }
            serve.listen = *address;
        }
        if (const std::string* clients = args.Find("--max-clients")) {
            serve.maxClients = static_cast<unsigned>(CountIn("--max-clients", *clients, 1, kMostClients));
        }
        return serve;
    }
    if (args.name == "characterize") {
        std::set<std::string> known{"--meter", "--codes", "--from", "--to", "--nplc", "--settle", "--avg", "--csv",
                                    "--plot", "--limits", "--park"};
        known.insert(std::begin(kMeterConnectionOptions), std::end(kMeterConnectionOptions));
        args.Allow(known, 0, "");
        return ParseCharacterizeOptions(args.options, options.json);
    }
    if (args.name == "meters") {
        args.Allow({"--identify"}, 0, "");
        return MetersCommand{args.Find("--identify") != nullptr};
    }
    if (args.name == "meter") {
        if (args.words.empty()) Usage("meter needs a RESOURCE, such as USB0::0x2A8D::0x0318::SERIAL::INSTR");
        const std::set<std::string> known(std::begin(kMeterConnectionOptions), std::end(kMeterConnectionOptions));
        args.Allow(known, args.words.size(), "");
        MeterCommand meter{ParseMeterTarget(args.words[0], args.options, "meter"), {args.words.begin() + 1, args.words.end()}};
        if (meter.messages.empty()) meter.messages.push_back("*IDN?");
        for (const std::string& message : meter.messages) {
            if (message.empty() || message.find_first_of("\r\n") != std::string::npos) {
                Usage("meter needs each MESSAGE on one line and not empty, not " + Quoted(message));
            }
        }
        return meter;
    }
    Usage("unknown command " + Quoted(args.name) + "; the commands are " + kCommandNames);
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    Invocation invocation;
    std::optional<CommandArguments> command;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") return HelpRequest{};
        if (argument == "--version") return VersionRequest{};
        if (!LooksLikeOption(argument)) {
            if (!command) command = CommandArguments{argument, {}, {}};
            else command->words.push_back(argument);
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
        else if (command) command->options[name] = value;
        else Usage("unknown option " + name + " before the command");
    }
    if (!command) Usage(std::string("no command given; the commands are ") + kCommandNames);
    invocation.command = BuildCommand(*command, invocation.options);
    if (std::holds_alternative<ServeCommand>(invocation.command) && invocation.options.json) {
        Usage("serve answers its clients and prints nothing on stdout; leave out --json");
    }
    return invocation;
}

}  // namespace tarnel::cli
