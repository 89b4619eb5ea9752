#include "characterize/settled_reading.h"

#include "linearity/settle_rule.h"

namespace tarnel::cli {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

SettledReading TakeSettledReading(BoardConnection& board, LabDmm& meter, const SettleChoice& settle,
                                  Clock::time_point written) {
    SettledReading result;
    Clock::time_point start = Clock::now();
    meter.Trigger();
    result.readCode = board.Read(1).mean;
    result.reading = meter.Fetch();
    Clock::time_point end = Clock::now();
    if (settle.automatic) {
        result.settled = false;
        // Another reading while the last two disagree and the longest wait has not passed.
        while (MillisecondsBetween(written, end) < settle.maxMs) {
            const Clock::time_point nextStart = Clock::now();
            meter.Trigger();
            MeterReading next = meter.Fetch();
            const auto judged = linearity::JudgeSettled(result.reading.values, next.values);
            result.reading = std::move(next);
            start = nextStart;
            end = Clock::now();
            if (judged && judged->agree) {
                result.settled = true;
                break;
            }
        }
    }
    result.settleMs = MillisecondsBetween(written, start);
    result.middle = start + (end - start) / 2;
    return result;
}

}  // namespace tarnel::cli
