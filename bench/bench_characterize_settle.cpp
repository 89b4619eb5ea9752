// characterize --settle auto against a fixed --settle equal to the longest
// wait the automatic one used, on an emulated DAC that settles slowly: the
// time per code of each, measured in the same run. Goal: the automatic
// settle costs no more than that fixed one (ratio auto / fixed <= 1): it
// waits as long only where the output needs it.
// Runs as the command of `board-emulator --meter 0 --meter-speed X
// --dac-errors bench/slow-dac.txt`; optional arguments: codes per run, NPLC,
// readings a code (--avg, 2 or more).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

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
    std::fprintf(stderr, "bench_characterize_settle: %s\n", what.c_str());
    std::exit(1);
}

struct Timed {
    double msPerCode = 0;
    double longestSettleMs = 0;
    std::size_t unsettled = 0;
};

Timed Run(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan) {
    const Clock::time_point start = Clock::now();
    const CharacterizeOutcome outcome = RunCharacterization(board, meter, plan, [](const CharacterizePoint&) {},
                                                            [] { return false; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (outcome.end != CharacterizeEnd::Completed) Fail("characterize failed: " + outcome.failure);
    Timed timed;
    timed.msPerCode = seconds * 1000 / static_cast<double>(plan.codes.size());
    for (const CharacterizePoint& point : outcome.points) {
        timed.longestSettleMs = std::max(timed.longestSettleMs, point.settleMs);
        timed.unsettled += point.settled == false ? 1 : 0;
    }
    return timed;
}

}  // namespace

int main(int argc, char** argv) {
    const long codes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100;
    const double nplc = argc > 2 ? std::strtod(argv[2], nullptr) : 10.0;
    const long averaged = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 16;
    if (codes < 2 || codes > static_cast<long>(protocol::kDataMask) + 1) Fail("give 2 to 262144 codes");
    if (averaged < 2 || averaged > 1024) Fail("give 2 to 1024 readings a code: the automatic settle needs a spread");
    const char* address = std::getenv("TARNEL_METER_ADDRESS");
    if (!address) Fail("no meter: run it as the command of board-emulator --meter 0 --meter-speed X --dac-errors FILE");
    try {
        const MeterTarget target = ParseMeterTarget(address, {}, "the meter");
        CharacterizePlan automatic;
        automatic.codes = tarnel::linearity::GridCodes(0, protocol::kDataMask, static_cast<std::uint64_t>(codes));
        // Every other code from the far end: full-scale steps, the slowest to settle, beside small ones.
        std::vector<std::uint32_t> mixed;
        for (std::size_t i = 0; i < automatic.codes.size(); ++i) {
            mixed.push_back(i % 2 == 0 ? automatic.codes[i] : automatic.codes[automatic.codes.size() - i]);
        }
        automatic.codes = mixed;
        automatic.settle.automatic = true;
        automatic.settle.maxMs = kDefaultAutoSettleMaxMs;
        const MeterSettings settings{nplc, static_cast<unsigned>(averaged)};
        BoardConnection board(LibraryChoice::Newer, 0, false);
        LabDmm meter(target.resource, target.connection, settings);
        // The fixed wait is the longest automatic one of a first run.
        const Timed first = Run(board, meter, automatic);
        CharacterizePlan fixed = automatic;
        fixed.settle = SettleChoice{};
        fixed.settleMs = first.longestSettleMs;
        // Rounds alternate between the two, so that load from other programs falls on both alike.
        std::vector<double> autoMs, fixedMs;
        std::size_t unsettled = first.unsettled;
        for (int round = 0; round < kRounds; ++round) {
            const Timed a = Run(board, meter, automatic);
            autoMs.push_back(a.msPerCode);
            unsettled += a.unsettled;
            fixedMs.push_back(Run(board, meter, fixed).msPerCode);
        }
        const double autoMedian = Median(autoMs), fixedMedian = Median(fixedMs);
        std::printf("characterize of %ld codes, NPLC %g, --avg %ld, median of %d rounds: --settle auto %.2f ms a code "
                    "(longest wait %.1f ms, %zu code(s) unsettled), --settle %.1f %.2f ms a code, ratio auto/fixed "
                    "%.3f (goal <= 1)\n",
                    codes, nplc, averaged, kRounds, autoMedian, first.longestSettleMs, unsettled, fixed.settleMs,
                    fixedMedian, autoMedian / fixedMedian);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    return 0;
}
