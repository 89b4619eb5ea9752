#include "command_line.h"

#include "dac_errors_file.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace tarnel::emulator {

namespace {

// Each board takes a device number of the one emulated bus.
constexpr unsigned kMostBoards = 16;

UsageError Problem(const std::string& what) { return {"board-emulator: " + what + " — " + kUsage}; }

// A request code in hex, "0xDA" or "DA".
std::optional<std::uint8_t> ParseRequestCode(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    unsigned code = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || code > 0xFF) return std::nullopt;
    return static_cast<std::uint8_t>(code);
}

std::optional<unsigned> ParseCount(std::string_view text) {
    unsigned count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count, 10);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return count;
}

// A speed factor: a positive finite number, "1000" or "2.5".
std::optional<double> ParseSpeed(std::string_view text) {
    double speed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), speed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(speed) || speed <= 0) {
        return std::nullopt;
    }
    return speed;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    EmulatorRun run;
    std::optional<double> meterSpeed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--") {
            run.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            if (run.command.empty()) return Problem("no COMMAND after --");
            if (meterSpeed && !run.meter) return Problem("--meter-speed needs --meter");
            if (run.meter && meterSpeed) run.meter->speed = *meterSpeed;
            return run;
        }
        if (option == "--help" || option == "-h") return HelpRequested{};
        if (option == "--no-board") {
            run.options.noBoard = true;
            continue;
        }
        if (option == "--noise") {
            run.options.noise = true;
            continue;
        }
        if (option == "--renumerate") {
            run.options.renumeration = Renumeration::ComesBack;
            continue;
        }
        const bool takesValue = option == "--unplug-after" || option == "--stall" || option == "--timeout" ||
                                option == "--boards" || option == "--dac-errors" || option == "--meter" ||
                                option == "--meter-speed";
        if (!takesValue) return Problem("unknown option '" + option + "'");
        if (i + 1 >= arguments.size()) return Problem(option + " needs a value");
        const std::string& value = arguments[++i];
        if (option == "--unplug-after") {
            const auto count = ParseCount(value);
            if (!count) return Problem("--unplug-after needs a request count such as 3, not '" + value + "'");
            run.options.unplugAfter = *count;
            continue;
        }
        if (option == "--meter") {
            const auto address = ParseMeterAddress(value);
            if (!address) {
                return Problem("--meter needs a port such as 5025, or an address and port such as 127.0.0.1:5025, not '" +
                               value + "'");
            }
            run.meter = MeterOptions{*address, 1};
            continue;
        }
        if (option == "--meter-speed") {
            meterSpeed = ParseSpeed(value);
            if (!meterSpeed) return Problem("--meter-speed needs a positive factor such as 1000, not '" + value + "'");
            continue;
        }
        if (option == "--boards") {
            const auto count = ParseCount(value);
            if (!count || *count < 1 || *count > kMostBoards) {
                return Problem("--boards needs a number of boards from 1 to " + std::to_string(kMostBoards) + ", not '" +
                               value + "'");
            }
            run.options.boards = *count;
            continue;
        }
        if (option == "--dac-errors") {
            const ParsedDacErrors errors = ReadDacErrorsFile(value);
            if (const auto* problem = std::get_if<DacErrorsProblem>(&errors)) {
                const std::string where = problem->line == 0 ? "" : " line " + std::to_string(problem->line);
                return Problem("--dac-errors " + value + where + ": " + problem->message);
            }
            run.options.dacErrors = std::get<DacErrors>(errors);
            continue;
        }
        const auto code = ParseRequestCode(value);
        if (!code) return Problem(option + " needs a request code in hex such as 0xDA, not '" + value + "'");
        (option == "--stall" ? run.options.stallRequests : run.options.timeoutRequests).insert(*code);
    }
    return Problem("missing '-- COMMAND'");
}

}  // namespace tarnel::emulator
