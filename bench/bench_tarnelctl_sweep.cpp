// Sweep throughput of tarnelctl's board connection on the emulated board, for
// each library, against the floor of two control transfers per point: a DAC
// write and a read-back made with bare libusb on the same board. Goal: at
// least 0.9 of the floor with no settling time. Runs under umockdev-wrapper
// (see the run-bench target); an optional argument sets the points per sweep.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include "bare_board.h"
#include "board/board_connection.h"
#include "median.h"
#include "sweep/sweep.h"

namespace {

namespace protocol = tarnel::protocol;
using namespace tarnel::cli;
using tarnel::bench::Median;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 9;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_tarnelctl_sweep: %s\n", what.c_str());
    std::exit(1);
}

// Points per second of one bare DAC write and one bare read-back each.
double FloorPointsPerSecond(tarnel::bench::BareBoard& bare, const std::vector<std::uint32_t>& codes) {
    const Clock::time_point start = Clock::now();
    for (const std::uint32_t code : codes) {
        bare.WriteDac(code);
        bare.ReadConverter();
    }
    return codes.size() / std::chrono::duration<double>(Clock::now() - start).count();
}

double SweepPointsPerSecond(BoardConnection& board, const SweepPlan& plan) {
    const Clock::time_point start = Clock::now();
    const SweepOutcome outcome = RunSweep(board, plan, [](const SweepPoint&) {}, [] { return false; });
    if (outcome.end != SweepEnd::Completed) Fail("the sweep failed: " + outcome.failure);
    return plan.codes.size() / std::chrono::duration<double>(Clock::now() - start).count();
}

void Measure(LibraryChoice library, const char* name, const SweepPlan& plan) {
    // Rounds alternate between the two paths, so that load from other
    // programs on the machine falls on both alike.
    BoardConnection board(library, 0, false);
    tarnel::bench::BareBoard bare;
    std::vector<double> sweeps;
    std::vector<double> floors;
    for (int round = 0; round < kRounds; ++round) {
        floors.push_back(FloorPointsPerSecond(bare, plan.codes));
        sweeps.push_back(SweepPointsPerSecond(board, plan));
    }
    const double sweep = Median(sweeps);
    const double floor = Median(floors);
    std::printf("%s library: sweep %.0f points/s, floor (2 bare control transfers per point) %.0f points/s, "
                "ratio %.3f (goal >= 0.9)\n",
                name, sweep, floor, sweep / floor);
}

}  // namespace

int main(int argc, char** argv) {
    const long points = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    if (points < 2 || points > static_cast<long>(protocol::kDataMask) + 1) Fail("give 2 to 262144 points");
    try {
        tarnel::emulator::EmulatedBoard board;
        SweepPlan plan;
        plan.codes = SweepCodes(0, protocol::kDataMask, std::nullopt, static_cast<std::uint64_t>(points));
        std::printf("sweep of %ld points, --settle 0, --avg 1, median of %d rounds\n", points, kRounds);
        Measure(LibraryChoice::Newer, "newer", plan);
        Measure(LibraryChoice::Older, "older", plan);
    } catch (const std::exception& error) {
        Fail(std::string(error.what()) + " — run it under umockdev-wrapper (cmake --build <dir> --target run-bench)");
    }
    return 0;
}
