// characterize's pace on the emulated bench against its floor: per code one
// bare DAC write (libusb), the settling wait and one bare meter reading
// (READ? and its reply, one bare exchange on the same connection), measured
// in the same run. Goal: characterize takes at most 1/0.9 of the floor's time
// per code (ratio >= 0.9); its read-back runs while the meter integrates.
// Runs as the command of `board-emulator --meter 0 --meter-speed X` (or
// --meter-usb, --meter-tty LINK,BAUD); optional arguments: codes per run,
// NPLC, settle in ms, the meter's resource (default: TARNEL_METER_ADDRESS)
// and the serial line's settings.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <tarnel/board_protocol.h>

#include "bare_board.h"
#include "board/board_connection.h"
#include "characterize/characterize_run.h"
#include "linearity/code_sets.h"
#include "median.h"
#include "meter/lab_dmm.h"
#include "meter/meter_target.h"

namespace {

using namespace tarnel::cli;
namespace protocol = tarnel::protocol;
using tarnel::bench::Median;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_characterize: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Codes per second of one bare write, the settling wait and one bare reading each.
double FloorCodesPerSecond(tarnel::bench::BareBoard& bare, tarnel::scpi::client::Instrument& meter,
                           const CharacterizePlan& plan,
                           std::chrono::milliseconds readingTimeout) {
    const auto settle = std::chrono::duration<double, std::milli>(plan.settleMs);
    const Clock::time_point start = Clock::now();
    for (const std::uint32_t code : plan.codes) {
        bare.WriteDac(code);
        std::this_thread::sleep_for(settle);
        meter.Query("READ?", readingTimeout);
    }
    return static_cast<double>(plan.codes.size()) / Seconds(start);
}

double CharacterizeCodesPerSecond(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan) {
    const Clock::time_point start = Clock::now();
    const CharacterizeOutcome outcome = RunCharacterization(board, meter, plan, [](const CharacterizePoint&) {},
                                                            [] { return false; });
    if (outcome.end != CharacterizeEnd::Completed) Fail("characterize failed: " + outcome.failure);
    return static_cast<double>(plan.codes.size()) / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const long codes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
    const double nplc = argc > 2 ? std::strtod(argv[2], nullptr) : 1.0;
    const double settleMs = argc > 3 ? std::strtod(argv[3], nullptr) : 1.0;
    if (codes < 2 || codes > static_cast<long>(protocol::kDataMask) + 1) Fail("give 2 to 262144 codes");
    const char* address = argc > 4 ? argv[4] : std::getenv("TARNEL_METER_ADDRESS");
    if (!address) Fail("no meter: run it as the command of board-emulator --meter 0 --meter-speed X");
    try {
        std::map<std::string, std::string> connection;
        if (argc > 5) connection["--serial"] = argv[5];
        const MeterTarget target = ParseMeterTarget(address, connection, "the meter");
        CharacterizePlan plan;
        plan.codes = tarnel::linearity::GridCodes(0, protocol::kDataMask, static_cast<std::uint64_t>(codes));
        plan.settleMs = settleMs;
        const MeterSettings settings{nplc, 1};
        BoardConnection board(LibraryChoice::Newer, 0, false);
        LabDmm meter(target.resource, target.connection, settings);   // sets the meter for both paths
        tarnel::bench::BareBoard bare;
        // Rounds alternate between the two paths, so that load from other
        // programs on the machine falls on both alike.
        std::vector<double> floors;
        std::vector<double> runs;
        for (int round = 0; round < kRounds; ++round) {
            floors.push_back(FloorCodesPerSecond(bare, meter.Connection(), plan, ReadingTimeout(settings)));
            runs.push_back(CharacterizeCodesPerSecond(board, meter, plan));
        }
        const double floor = Median(floors);
        const double run = Median(runs);
        std::printf("%s: characterize of %ld codes, NPLC %g, --settle %g ms, --avg 1, median of %d rounds: "
                    "%.1f codes/s, floor (bare write + settle + bare reading) %.1f codes/s, ratio %.3f (goal >= 0.9)\n",
                    meter.Resource().c_str(), codes, nplc, settleMs, kRounds, run, floor, run / floor);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    return 0;
}
