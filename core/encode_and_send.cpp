#include "core/encode_and_send.h"

#include <cstdint>
#include <limits>
#include <string>

#include <tarnel/board_protocol.h>

#include "link/comms_functions.h"
#include "state/declare.h"
#include "state/run_time_error.h"

namespace tarnel {

namespace {

constexpr std::int64_t kPowerDownWeight = std::int64_t{1} << protocol::kPowerDownShift;   // 1048576
constexpr std::int64_t kDataWeight = std::int64_t{1} << protocol::kDataShift;             // 4

bool FitsInt32(std::int64_t x) {
    return x >= std::numeric_limits<std::int32_t>::min() && x <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

WriteOutcome EncodeAndSend() {
    if (Declare::WordLength != protocol::kDacRegisterLength) return WriteOutcome::NotSent;
    if (Declare::Resolution != protocol::kDacResolutionBits) return WriteOutcome::NotSent;

    // The data word times 4 must itself fit in 32 bits, then the sum with the
    // power-down code must too; either failing leaves DacWord as it was.
    const std::int64_t shiftedData = std::int64_t{Declare::DacWord} * kDataWeight;
    if (!FitsInt32(shiftedData)) {
        throw RunTimeError("Overflow: data word " + std::to_string(Declare::DacWord) +
                           " does not fit the DAC input word");
    }
    const std::int64_t inputWord = std::int64_t{Declare::PowerDownMode} * kPowerDownWeight + shiftedData;
    if (!FitsInt32(inputWord)) {
        throw RunTimeError("Overflow: power-down code " + std::to_string(Declare::PowerDownMode) +
                           " with data word " + std::to_string(Declare::DacWord) +
                           " does not fit the DAC input word");
    }

    Declare::DacWord = static_cast<std::int32_t>(inputWord);
    const bool done = CommsFunctions::WriteDacWord(Declare::WordLength, Declare::DacWord);
    return done ? WriteOutcome::Written : WriteOutcome::Failed;
}

}  // namespace tarnel
