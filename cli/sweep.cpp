#include "cli/sweep.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "cli/command_failure.h"
#include "cli/output_limits.h"
#include "core/read_voltage.h"

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
        const std::uint64_t count = *points;
        for (std::uint64_t i = 0; i < count; ++i) {
            const double offset = count == 1 ? 0.0 : static_cast<double>(span) * static_cast<double>(i) / (count - 1);
            codes.push_back(static_cast<std::uint32_t>(from + std::llround(offset)));
        }
        return codes;
    }
    const std::int64_t stride = span < 0 ? -static_cast<std::int64_t>(*step) : static_cast<std::int64_t>(*step);
    for (std::int64_t code = from; span < 0 ? code > to : code < to; code += stride) {
        codes.push_back(static_cast<std::uint32_t>(code));
    }
    codes.push_back(to);
    return codes;
}

SweepOutcome RunSweep(BoardSession& session, const SweepPlan& plan,
                      const std::function<void(const SweepPoint&)>& onPoint,
                      const std::function<bool()>& stopRequested) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto settle = std::chrono::duration<double, std::milli>(plan.settleMs);
    SweepOutcome outcome;
    outcome.points.reserve(plan.codes.size());
    for (const std::uint32_t code : plan.codes) {
        SweepPoint point;
        point.code = code;
        point.setVolts = SetVolts(code, plan.mode);
        try {
            point.inputWord = session.Write(code, plan.mode);
            if (plan.settleMs > 0) std::this_thread::sleep_for(settle);
            point.readCode = session.Read(plan.averaged);
        } catch (const CommandFailure& failure) {
            if (failure.Status() != ExitStatus::TransferFailed) throw;
            outcome.end = SweepEnd::TransferFailed;
            outcome.failure = failure.what();
            return outcome;
        }
        point.readVolts = DisplayedVolts(point.readCode);
        point.errorMv = (protocol::ConverterVolts(point.readCode) - point.setVolts) * 1000.0;
        point.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        outcome.points.push_back(point);
        onPoint(point);
        if (stopRequested() && outcome.points.size() < plan.codes.size()) {
            outcome.end = SweepEnd::Stopped;
            return outcome;
        }
    }
    return outcome;
}

}  // namespace tarnel::cli
