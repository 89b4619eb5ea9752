// One measured code of a characterisation: what was written, what the bench
// meter read, and what the board's read-back converter read.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnel::cli {

struct CharacterizePoint {
    std::uint32_t code = 0;        // data word written
    std::uint32_t inputWord = 0;   // 24-bit input word sent
    double idealVolts = 0;         // code × the ideal LSB (full scale / 2^18)
    double meterVolts = 0;         // mean of the meter's readings
    std::optional<double> meterStdUv;   // their standard deviation, with 2 readings or more
    unsigned readings = 0;
    double readCode = 0;           // the board's 12-bit read-back code
    double seconds = 0;            // since the run started, when the point was done
    double readingSeconds = 0;     // since the run started, halfway through the reading used (drift is interpolated there)
    double settleMs = 0;           // from the write to the reading used
    std::optional<bool> settled = std::nullopt;   // --settle auto: whether two readings agreed within the longest wait
    unsigned repeat = 0;           // the pass over the code set, from 0
};

// One measurement of the two --drift reference codes.
struct ReferencePoint {
    double seconds = 0;            // since the run started, halfway between the two readings
    double lowVolts = 0;
    double highVolts = 0;
    std::optional<double> lowU = std::nullopt;    // standard deviations of the means, with --avg 2 or more
    std::optional<double> highU = std::nullopt;
};

}  // namespace tarnel::cli
