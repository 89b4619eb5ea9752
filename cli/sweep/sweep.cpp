#include "sweep/sweep.h"

#include <algorithm>
#include <cmath>

#include "board/dac_levels.h"
#include "board/dac_park.h"
#include "command_line/command_failure.h"
#include "core/read_voltage.h"
#include "linearity/code_sets.h"
#include "stepping/stepping_loop.h"

namespace tarnel::cli {

std::vector<std::uint32_t> SweepCodes(std::uint32_t from, std::uint32_t to, std::optional<std::uint64_t> step,
                                      std::optional<std::uint64_t> points) {
    const std::int64_t span = std::int64_t{to} - from;
    const std::uint64_t distinct = static_cast<std::uint64_t>(std::llabs(span)) + 1;
    std::vector<std::uint32_t> codes;
    if (points) {
        if (*points > distinct || (*points < 2 && distinct > 1)) {
            throw CommandFailure(ExitStatus::Usage, "--points " + std::to_string(*points) + " does not fit " +
                                                        std::to_string(distinct) +
                                                        " code(s) from --from to --to — give 2 to " +
                                                        std::to_string(distinct) + " points");
        }
        return linearity::GridCodes(from, to, *points);   // the same codes up or down
    }
    const std::int64_t stride = span < 0 ? -static_cast<std::int64_t>(*step) : static_cast<std::int64_t>(*step);
    for (std::int64_t code = from; span < 0 ? code > to : code < to; code += stride) {
        codes.push_back(static_cast<std::uint32_t>(code));
    }
    codes.push_back(to);
    return codes;
}

SweepPlan PlanSweep(const SweepCommand& command, std::optional<double> vmax) {
    SweepPlan plan;
    plan.mode = command.mode;
    plan.settleMs = command.settleMs;
    plan.averaged = command.averaged;
    const std::uint32_t from = AllowedDataWord(command.from, command.mode, vmax);
    const std::uint32_t to = AllowedDataWord(command.to, command.mode, vmax);
    plan.codes = SweepCodes(from, to, command.step, command.points);
    if (command.park) plan.park = AllowedDataWord(*command.park, command.mode, vmax);
    return plan;
}

namespace {

// Leaves the DAC at the plan's park word, unless the board has gone.
void Park(BoardConnection& board, const SweepPlan& plan, SweepOutcome& outcome) {
    if (!plan.park) return;
    outcome.parked = ParkDac(board, *plan.park, plan.mode, outcome.end == SweepEnd::TransferFailed, outcome.parkFailure);
}

SweepOutcome RunPoints(BoardConnection& board, const SweepPlan& plan,
                       const std::function<void(const SweepPoint&)>& onPoint,
                       const std::function<bool()>& stopRequested) {
    SweepOutcome outcome;
    outcome.points.reserve(plan.codes.size());
    const SteppingEnd end = StepThroughCodes(
        board, plan.codes, plan.mode, plan.settleMs,
        [&](const Step& step) {
            SweepPoint point;
            point.code = step.code;
            point.inputWord = step.inputWord;
            point.setVolts = SetVolts(step.code, plan.mode);
            const Reading reading = board.Read(plan.averaged);
            point.readCode = reading.mean;
            point.readStd = reading.standardDeviation;
            point.readMin = reading.min;
            point.readMax = reading.max;
            point.readVolts = DisplayedVolts(point.readCode);
            point.errorMv = (protocol::ConverterVolts(point.readCode) - point.setVolts) * 1000.0;
            point.seconds = step.Seconds();
            outcome.points.push_back(point);
            onPoint(point);
        },
        stopRequested);
    if (end.how == SteppingEnd::How::Stopped) outcome.end = SweepEnd::Stopped;
    if (end.how == SteppingEnd::How::TransferFailed) {
        outcome.end = SweepEnd::TransferFailed;
        outcome.failure = end.failure;
    }
    return outcome;
}

}  // namespace

SweepOutcome RunSweep(BoardConnection& board, const SweepPlan& plan,
                      const std::function<void(const SweepPoint&)>& onPoint,
                      const std::function<bool()>& stopRequested) {
    SweepOutcome outcome;
    try {
        outcome = RunPoints(board, plan, onPoint, stopRequested);
    } catch (...) {
        SweepOutcome failed;
        failed.end = SweepEnd::TransferFailed;   // a write only when the board is still there
        try {
            Park(board, plan, failed);
        } catch (...) {
            // The failure that ended the sweep is the one to report.
        }
        throw;
    }
    Park(board, plan, outcome);
    return outcome;
}

}  // namespace tarnel::cli
