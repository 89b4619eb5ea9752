#include "characterize/characterize_run.h"

#include <chrono>
#include <cmath>

#include <tarnel/board_protocol.h>

#include "characterize/settled_reading.h"
#include "meter/meter_failure.h"
#include "stepping/stepping_loop.h"

namespace tarnel::cli {

namespace {

enum class Role { Point, LowReference, HighReference };

struct ScheduledStep {
    std::uint32_t code = 0;
    Role role = Role::Point;
    unsigned repeat = 0;
};

// The codes in measuring order, with the reference pairs between them.
std::vector<ScheduledStep> Schedule(const CharacterizePlan& plan) {
    std::vector<ScheduledStep> steps;
    const auto references = [&] {
        steps.push_back({static_cast<std::uint32_t>(plan.drift.lowCode), Role::LowReference, 0});
        steps.push_back({static_cast<std::uint32_t>(plan.drift.highCode), Role::HighReference, 0});
    };
    std::uint64_t measured = 0;
    for (unsigned repeat = 0; repeat < plan.repeats; ++repeat) {
        for (const std::uint32_t code : plan.codes) {
            if (plan.drift.Any() && measured % plan.drift.every == 0) references();
            steps.push_back({code, Role::Point, repeat});
            ++measured;
        }
    }
    if (plan.drift.Any()) references();
    return steps;
}

std::optional<double> MeanU(const MeterReading& reading) {
    if (!reading.stdVolts || reading.count < 2) return std::nullopt;
    return *reading.stdVolts / std::sqrt(static_cast<double>(reading.count));
}

}  // namespace

std::size_t CharacterizePlan::Steps() const { return Schedule(*this).size(); }

CharacterizeOutcome RunCharacterization(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan,
                                        const std::function<void(const CharacterizePoint&)>& onPoint,
                                        const std::function<bool()>& stopRequested,
                                        const std::function<void()>& onStep) {
    const std::vector<ScheduledStep> schedule = Schedule(plan);
    std::vector<std::uint32_t> codes;
    for (const ScheduledStep& step : schedule) codes.push_back(step.code);
    CharacterizeOutcome outcome;
    outcome.points.reserve(plan.codes.size() * plan.repeats);
    bool meterFailed = false;
    std::size_t index = 0;
    ReferencePoint pending;
    const double fixedMs = plan.settle.automatic ? 0.0 : plan.settleMs;
    const SteppingEnd end = StepThroughCodes(
        board, codes, protocol::PowerDown::Normal, fixedMs,
        [&](const Step& step) {
            const ScheduledStep& scheduled = schedule.at(index++);
            // The loop has slept the fixed wait since the write.
            const auto written = std::chrono::steady_clock::now() -
                                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double, std::milli>(fixedMs));
            SettledReading taken;
            try {
                taken = TakeSettledReading(board, meter, plan.settle, written);
            } catch (const MeterFailure&) {
                meterFailed = true;
                throw;
            }
            const double middle = std::chrono::duration<double>(taken.middle - step.started).count();
            // A pair is kept once its high code is read: a run stopped between the two keeps none of it.
            if (scheduled.role == Role::LowReference) {
                pending = ReferencePoint{middle, taken.reading.meanVolts, 0, MeanU(taken.reading), std::nullopt};
            } else if (scheduled.role == Role::HighReference) {
                pending.seconds = (pending.seconds + middle) / 2;
                pending.highVolts = taken.reading.meanVolts;
                pending.highU = MeanU(taken.reading);
                outcome.references.push_back(pending);
            } else {
                CharacterizePoint point;
                point.code = step.code;
                point.inputWord = step.inputWord;
                point.idealVolts = protocol::DacOutputVolts(step.code);
                point.readCode = taken.readCode;
                point.meterVolts = taken.reading.meanVolts;
                if (taken.reading.stdVolts) point.meterStdUv = *taken.reading.stdVolts * 1e6;
                point.readings = taken.reading.count;
                point.settleMs = plan.settle.automatic ? taken.settleMs : plan.settleMs;
                point.settled = taken.settled;
                point.repeat = scheduled.repeat;
                point.readingSeconds = middle;
                point.seconds = step.Seconds();
                outcome.points.push_back(point);
                onPoint(point);
            }
            onStep();
        },
        stopRequested);
    if (end.how == SteppingEnd::How::Stopped) outcome.end = CharacterizeEnd::Stopped;
    if (end.how == SteppingEnd::How::TransferFailed) {
        outcome.end = meterFailed ? CharacterizeEnd::MeterFailed : CharacterizeEnd::BoardFailed;
        outcome.failure = end.failure;
    }
    return outcome;
}

}  // namespace tarnel::cli
