#include "characterize/characterize_run.h"

#include <tarnel/board_protocol.h>

#include "meter/meter_failure.h"
#include "stepping/stepping_loop.h"

namespace tarnel::cli {

CharacterizeOutcome RunCharacterization(BoardConnection& board, LabDmm& meter, const CharacterizePlan& plan,
                                        const std::function<void(const CharacterizePoint&)>& onPoint,
                                        const std::function<bool()>& stopRequested) {
    CharacterizeOutcome outcome;
    outcome.points.reserve(plan.codes.size());
    bool meterFailed = false;
    const SteppingEnd end = StepThroughCodes(
        board, plan.codes, protocol::PowerDown::Normal, plan.settleMs,
        [&](const Step& step) {
            CharacterizePoint point;
            point.code = step.code;
            point.inputWord = step.inputWord;
            point.idealVolts = protocol::DacOutputVolts(step.code);
            try {
                // The board's read-back runs while the meter integrates.
                meter.Trigger();
                point.readCode = board.Read(1).mean;
                const MeterReading reading = meter.Fetch();
                point.meterVolts = reading.meanVolts;
                if (reading.stdVolts) point.meterStdUv = *reading.stdVolts * 1e6;
                point.readings = reading.count;
            } catch (const MeterFailure&) {
                meterFailed = true;
                throw;
            }
            point.seconds = step.Seconds();
            outcome.points.push_back(point);
            onPoint(point);
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
