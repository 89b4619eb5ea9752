#include "characterize/characterize_run.h"

#include <chrono>
#include <thread>

#include <tarnel/board_protocol.h>

#include "command_line/command_failure.h"
#include "meter/meter_failure.h"

namespace tarnel::cli {

CharacterizeOutcome RunCharacterization(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan,
                                        const std::function<void(const CharacterizePoint&)>& onPoint,
                                        const std::function<bool()>& stopRequested) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto settle = std::chrono::duration<double, std::milli>(plan.settleMs);
    CharacterizeOutcome outcome;
    outcome.points.reserve(plan.codes.size());
    for (const std::uint32_t code : plan.codes) {
        CharacterizePoint point;
        point.code = code;
        point.idealVolts = protocol::DacOutputVolts(code);
        try {
            point.inputWord = board.Write(code, protocol::PowerDown::Normal);
            if (plan.settleMs > 0) std::this_thread::sleep_for(settle);
            meter.Trigger();
            point.readCode = board.Read(1).mean;
            const MeterReading reading = meter.Fetch();
            point.meterVolts = reading.meanVolts;
            if (reading.stdVolts) point.meterStdUv = *reading.stdVolts * 1e6;
            point.readings = reading.count;
        } catch (const MeterFailure& failure) {
            outcome.end = CharacterizeEnd::MeterFailed;
            outcome.failure = failure.what();
            return outcome;
        } catch (const CommandFailure& failure) {
            if (failure.Status() != ExitStatus::TransferFailed) throw;
            outcome.end = CharacterizeEnd::BoardFailed;
            outcome.failure = failure.what();
            return outcome;
        }
        point.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        outcome.points.push_back(point);
        onPoint(point);
        if (stopRequested() && outcome.points.size() < plan.codes.size()) {
            outcome.end = CharacterizeEnd::Stopped;
            return outcome;
        }
    }
    return outcome;
}

}  // namespace tarnel::cli
