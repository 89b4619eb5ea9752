#include "stepping/stepping_loop.h"

#include <thread>

#include "command_line/command_failure.h"

namespace tarnel::cli {

double Step::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

SteppingEnd StepThroughCodes(BoardConnection& board, const std::vector<std::uint32_t>& codes,
                             protocol::PowerDown mode, double settleMs, const std::function<void(const Step&)>& measure,
                             const std::function<bool()>& stopRequested) {
    const auto settle = std::chrono::duration<double, std::milli>(settleMs);
    Step step;
    step.started = std::chrono::steady_clock::now();
    SteppingEnd end;
    for (const std::uint32_t code : codes) {
        step.code = code;
        try {
            step.inputWord = board.Write(code, mode);
            if (settleMs > 0) std::this_thread::sleep_for(settle);
            measure(step);
        } catch (const CommandFailure& failure) {
            if (failure.Status() != ExitStatus::TransferFailed) throw;
            end.how = SteppingEnd::How::TransferFailed;
            end.failure = failure.what();
            return end;
        }
        ++end.steps;
        if (stopRequested() && end.steps < codes.size()) {
            end.how = SteppingEnd::How::Stopped;
            return end;
        }
    }
    return end;
}

}  // namespace tarnel::cli
