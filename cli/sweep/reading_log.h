// Readings logged over time: `count` averaged readings, one every interval
// (counted from the first, so the log does not drift; a reading that takes
// longer than the interval is followed by the next at once). Each reading is
// handed on as soon as it is made. It stops before the next reading when
// asked to, and at the first failed transfer, keeping every reading made.
#pragma once

#include <functional>
#include <string>

#include "board/board_connection.h"

namespace tarnel::cli {

struct ReadingLogPlan {
    unsigned count = 1;
    double intervalMs = 0;
    unsigned averaged = 1;   // reads per reading
};

struct LoggedReading {
    std::string timestamp;   // UTC, ISO 8601 with milliseconds: 2026-12-07T12:03:11.123Z
    double seconds = 0;      // since the first reading started
    Reading reading;
};

enum class LogEnd { Completed, Stopped, TransferFailed };

struct ReadingLogOutcome {
    unsigned made = 0;
    LogEnd end = LogEnd::Completed;
    std::string failure;   // for TransferFailed: the one-line reason
};

ReadingLogOutcome LogReadings(BoardConnection& board, const ReadingLogPlan& plan,
                              const std::function<void(const LoggedReading&)>& onReading,
                              const std::function<bool()>& stopRequested);

// The CSV of a log: the header, and one row per reading (without the line end).
inline constexpr const char* kReadingCsvHeader = "timestamp,seconds,code,volts,reads,code_std,code_min,code_max";
std::string ReadingCsvRow(const LoggedReading& logged);

}  // namespace tarnel::cli
