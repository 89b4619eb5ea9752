#include "sweep/reading_log.h"

#include <array>
#include <chrono>
#include <ctime>

#include "command_line/command_failure.h"
#include "core/read_voltage.h"
#include "output/number_format.h"
#include "stepping/stop_request.h"

namespace tarnel::cli {

namespace {

std::string UtcTimestamp(std::chrono::system_clock::time_point at) {
    const auto sinceEpoch = at.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    std::array<char, 40> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text.data() + length, text.size() - length, ".%03dZ", static_cast<int>(millis));
    return text.data();
}

}  // namespace

ReadingLogOutcome LogReadings(BoardConnection& board, const ReadingLogPlan& plan,
                              const std::function<void(const LoggedReading&)>& onReading,
                              const std::function<bool()>& stopRequested) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(plan.intervalMs));
    ReadingLogOutcome outcome;
    for (unsigned i = 0; i < plan.count; ++i) {
        if (i > 0) {
            WaitForStop(start + interval * i, stopRequested);
            if (stopRequested()) {
                outcome.end = LogEnd::Stopped;
                return outcome;
            }
        }
        LoggedReading logged;
        logged.timestamp = UtcTimestamp(std::chrono::system_clock::now());
        logged.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        try {
            logged.reading = board.Read(plan.averaged);
        } catch (const CommandFailure& failure) {
            if (failure.Status() != ExitStatus::TransferFailed) throw;
            outcome.end = LogEnd::TransferFailed;
            outcome.failure = failure.what();
            return outcome;
        }
        ++outcome.made;
        onReading(logged);
    }
    return outcome;
}

std::string ReadingCsvRow(const LoggedReading& logged) {
    const Reading& reading = logged.reading;
    return logged.timestamp + "," + FixedText(logged.seconds, 6) + "," + CodeText(reading.mean) + "," +
           VoltsText(DisplayedVolts(reading.mean)) + "," + std::to_string(reading.count) + "," +
           FixedText(reading.standardDeviation, 3) + "," + CodeText(reading.min) + "," + CodeText(reading.max);
}

}  // namespace tarnel::cli
