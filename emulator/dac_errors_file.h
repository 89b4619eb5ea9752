// The file of `board-emulator --dac-errors FILE`: one `name = value` per
// line, `#` starts a comment, blank lines are skipped. Names: offset_uv,
// gain_ppm, bow_lsb, noise_uv, seed, bit0_lsb … bit17_lsb, settle_tau_us,
// drift_uv_per_min, drift_ppm_per_min; any subset, each at most once; absent
// ones are 0 (seed 1).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include <tarnel/dac_error_model.h>

namespace tarnel::emulator {

struct DacErrorsProblem {
    std::size_t line = 0;   // 1-based; 0 when the file itself cannot be read
    std::string message;    // what is wrong with that line and how to write it
};

using ParsedDacErrors = std::variant<DacErrors, DacErrorsProblem>;

ParsedDacErrors ParseDacErrors(std::string_view text);
ParsedDacErrors ReadDacErrorsFile(const std::string& path);

}  // namespace tarnel::emulator
