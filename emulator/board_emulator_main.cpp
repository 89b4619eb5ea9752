// board-emulator: runs a command with the emulated evaluation board attached
// below libusb, and exits with the command's status.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "child_process.h"
#include "command_line.h"
#include "emulated_meter.h"
#include "usbtmc_meter_device.h"
#include <tarnel/emulated_board.h>

namespace {

using namespace tarnel::emulator;

// Exit status when the emulator itself cannot set up the board.
constexpr int kEmulatorFailed = 125;
constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// The emulated board needs the umockdev preload in this process and in the
// command; it is put in place by running this program again with it. Whether
// it really loaded is checked once the test bed exists.
void RestartUnderPreload(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    if (current != nullptr && std::strstr(current, "libumockdev-preload") != nullptr) return;
    std::string preload = kPreloadLibrary;
    if (current != nullptr && *current != '\0') preload += std::string(":") + current;
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr,
                 "board-emulator: cannot restart itself under the umockdev preload: %s — check that /proc is mounted\n",
                 std::strerror(errno));
    std::exit(kEmulatorFailed);
}

// An installed board-emulator has its test firmware in a folder of its own
// (TARNEL_EMULATOR_FIRMWARE_FROM_BIN, relative to its own folder), not beside
// the programs, whose firmware folder is the user's: the command is pointed at
// it through TARNEL_FIRMWARE_FOLDER, unless that is set already. In a build
// tree there is no such folder and the programs find the test firmware beside
// themselves.
void PointCommandAtTestFirmware() {
    const char* chosen = std::getenv("TARNEL_FIRMWARE_FOLDER");
    if (chosen != nullptr && *chosen != '\0') return;
    std::error_code error;
    const std::filesystem::path own = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return;
    const std::filesystem::path folder =
        (own.parent_path() / TARNEL_EMULATOR_FIRMWARE_FROM_BIN).lexically_normal();
    if (std::filesystem::exists(folder / "Brisan.hex", error)) ::setenv("TARNEL_FIRMWARE_FOLDER", folder.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedCommandLine parsed = ParseCommandLine({argv + 1, argv + argc});
    if (const auto* problem = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "%s\n", problem->message.c_str());
        return 2;
    }
    if (std::holds_alternative<HelpRequested>(parsed)) {
        std::printf("%s\n%s\n", kUsage, kOptionsHelp);
        return 0;
    }
    const EmulatorRun& run = std::get<EmulatorRun>(parsed);

    PointCommandAtTestFirmware();
    AllowPreloadBeforeAsan();
    RestartUnderPreload(argv);
    HoldForwardedSignals();   // from here on, a signal cannot end us with the test bed left behind
    try {
        // One bench time for the DAC's settling and drift and the meter's
        // apertures, as fast as --meter-speed makes the meter.
        Options options = run.options;
        options.benchClock = std::make_shared<const BenchClock>(run.meter ? run.meter->speed : 1.0);
        EmulatedBoard board(options);   // sets UMOCKDEV_DIR for the command
        std::optional<EmulatedMeter> meter;
        std::optional<UsbtmcMeterDevice> usbMeter;
        if (run.meter) {
            // The probes on board 0's output, as its DAC word and the DAC's
            // errors set it, averaged over each reading's aperture, with the
            // DAC's noise drawn afresh for each reading.
            meter.emplace([&board](const MeterModel::Aperture& aperture) {
                return board.MeasureOutputVolts(aperture.begin, aperture.end);
            }, *run.meter);
            if (const auto problem = meter->Start()) {
                std::fprintf(stderr, "board-emulator: meter: %s\n", problem->c_str());
                return kEmulatorFailed;
            }
            if (run.meterUsb) {
                usbMeter.emplace(*meter, *run.meterUsb);
                ::setenv(kMeterUsbVariable, usbMeter->Resource().c_str(), 1);
            }
        }
        return RunToCompletion(run.command);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "board-emulator: %s\n", error.what());
        return kEmulatorFailed;
    }
}
