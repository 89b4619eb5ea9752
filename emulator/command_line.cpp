#include "command_line.h"

#include "dac_errors_file.h"
#include "scpi/client/line_speeds.h"

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
// A number in hex up to `most`, "0xDA" or "DA".
std::optional<unsigned> ParseHex(std::string_view text, unsigned most) {
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > most) return std::nullopt;
    return value;
}

std::optional<std::uint8_t> ParseRequestCode(std::string_view text) {
    const auto code = ParseHex(text, 0xFF);
    if (!code) return std::nullopt;
    return static_cast<std::uint8_t>(*code);
}

std::optional<unsigned> ParseCount(std::string_view text) {
    unsigned count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count, 10);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return count;
}

// A USB id in hex, "B212" or "0xB212".
std::optional<std::uint16_t> ParseUsbId(std::string_view text) {
    const auto id = ParseHex(text, 0xFFFF);
    if (!id) return std::nullopt;
    return static_cast<std::uint16_t>(*id);
}

// VID:PID[:SERIAL]; the serial is printable, without spaces or colons.
std::optional<UsbMeterOptions> ParseUsbMeter(std::string_view text) {
    UsbMeterOptions usb;
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = text.find(':', first + 1);
    const auto vendor = ParseUsbId(text.substr(0, first));
    const auto product = ParseUsbId(text.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                                            : second - first - 1));
    if (!vendor || !product) return std::nullopt;
    usb.vendorId = *vendor;
    usb.productId = *product;
    if (second != std::string_view::npos) {
        const std::string_view serial = text.substr(second + 1);
        if (serial.empty() || serial.size() > 126) return std::nullopt;
        for (const char c : serial) {
            if (c <= ' ' || c > '~' || c == ':') return std::nullopt;
        }
        usb.serial = std::string(serial);
    }
    return usb;
}

// LINK[,NUMBER]: the link path and the number after the comma, if any.
std::optional<std::pair<std::string, std::optional<unsigned>>> ParseLinkAnd(std::string_view text) {
    const std::size_t comma = text.rfind(',');
    const std::string_view link = text.substr(0, comma);
    if (link.empty()) return std::nullopt;
    if (comma == std::string_view::npos) return std::make_pair(std::string(link), std::optional<unsigned>());
    const auto number = ParseCount(text.substr(comma + 1));
    if (!number) return std::nullopt;
    return std::make_pair(std::string(link), std::optional<unsigned>(*number));
}

// A rate the serial line has a setting for, from 300 to 230400.
bool IsStandardBaud(unsigned baud) { return baud >= 300 && baud <= 230400 && scpi::client::TermiosSpeed(baud); }

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
    std::optional<unsigned> meterUnplugAfter;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--") {
            run.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            if (run.command.empty()) return Problem("no COMMAND after --");
            if (meterUnplugAfter && !run.meterUsb) return Problem("--meter-unplug-after needs --meter-usb");
            if (run.meterUsb) run.meterUsb->unplugAfter = meterUnplugAfter;
            if (meterSpeed && !run.meter) {
                return Problem("--meter-speed needs a meter: --meter, --meter-usb, --meter-tty or --meter-gpib");
            }
            if (run.meter && meterSpeed) run.meter->speed = *meterSpeed;
            // The profile's seed seeds the meter's own noise as well (1, as ever, without one).
            if (run.meter) run.meter->noiseSeed = run.options.dacErrors.seed;
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
        if (option == "--meter-usb") {
            // The ids are optional: the next word is taken only when it is not an option.
            UsbMeterOptions usb;
            if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
                const auto parsed = ParseUsbMeter(arguments[++i]);
                if (!parsed) {
                    return Problem("--meter-usb needs VID:PID or VID:PID:SERIAL in hex such as 1209:B212:EMU0001, not '" +
                                   arguments[i] + "'");
                }
                usb = *parsed;
            }
            run.meterUsb = usb;
            if (!run.meter) run.meter = MeterOptions{};
            continue;
        }
        const bool takesValue = option == "--unplug-after" || option == "--replug-every" || option == "--stall" ||
                                option == "--timeout" || option == "--boards" || option == "--dac-errors" ||
                                option == "--meter" || option == "--meter-speed" ||
                                option == "--meter-tty" || option == "--meter-gpib" ||
                                option == "--meter-unplug-after";
        if (!takesValue) return Problem("unknown option '" + option + "'");
        if (i + 1 >= arguments.size()) return Problem(option + " needs a value");
        const std::string& value = arguments[++i];
        if (option == "--unplug-after") {
            const auto count = ParseCount(value);
            if (!count) return Problem("--unplug-after needs a request count such as 3, not '" + value + "'");
            run.options.unplugAfter = *count;
            continue;
        }
        if (option == "--meter-unplug-after") {
            meterUnplugAfter = ParseCount(value);
            if (!meterUnplugAfter) {
                return Problem("--meter-unplug-after needs a message count such as 20, not '" + value + "'");
            }
            continue;
        }
        if (option == "--replug-every") {
            const auto count = ParseCount(value);
            if (!count || *count < 1) {
                return Problem("--replug-every needs a request count of at least 1 such as 5000, not '" + value + "'");
            }
            run.options.replugEvery = *count;
            continue;
        }
        if (option == "--meter") {
            const auto address = ParseMeterAddress(value);
            if (!address) {
                return Problem("--meter needs a port such as 5025, or an address and port such as 127.0.0.1:5025, not '" +
                               value + "'");
            }
            if (!run.meter) run.meter = MeterOptions{};
            run.meter->address = *address;
            continue;
        }
        if (option == "--meter-tty") {
            const auto parsed = ParseLinkAnd(value);
            if (!parsed || (parsed->second && !IsStandardBaud(*parsed->second))) {
                return Problem("--meter-tty needs LINK or LINK,BAUD with a standard rate from 300 to 230400 such as "
                               "/tmp/meter-tty,115200, not '" + value + "'");
            }
            if (!run.meter) run.meter = MeterOptions{};
            run.meter->tty = SerialLineOptions{parsed->first, parsed->second.value_or(9600)};
            continue;
        }
        if (option == "--meter-gpib") {
            const auto parsed = ParseLinkAnd(value);
            if (!parsed || (parsed->second && *parsed->second > 30)) {
                return Problem("--meter-gpib needs LINK or LINK,ADDR with a GPIB address from 0 to 30 such as "
                               "/tmp/gpib-adapter,22, not '" + value + "'");
            }
            if (!run.meter) run.meter = MeterOptions{};
            run.meter->gpib = GpibAdapterOptions{parsed->first, parsed->second.value_or(22)};
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
