// The characterize command as typed:
//   characterize --meter RESOURCE [--serial SETTINGS] [--eol lf|crlf] [--gpib-adapter WHERE]
//                [--codes SET] [--from WORD --to WORD] [--nplc N] [--settle MS|auto[:MAX_MS]] [--avg N]
//                [--drift N [--drift-codes W1,W2]] [--repeat N]
//                [--csv FILE] [--plot FILE] [--report FILE.pdf] [--limits LIST] [--park WORD]
// Values are checked for their form here; whether the words fit the DAC and
// --vmax, and whether the files can be read and written, is checked before
// the first write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "characterize/linearity_limits.h"
#include "command_line/option_reader.h"
#include "meter/meter_target.h"
#include "output/output_choice.h"

namespace tarnel::cli {

// Which codes are measured (--codes).
enum class CodeSetKind {
    Bits,      // 0, full scale, each 2^i and K - 2^i, seven check codes j·K/8
    Carries,   // each major carry: 2^j - 1, 2^j, K - 2^j, K - 2^j + 1
    Grid,      // gridPoints codes evenly spaced, both ends included
    All,       // every code from `from` to `to`
    File,      // the hex codes listed in `file`
};

struct CodeSetChoice {
    CodeSetKind kind = CodeSetKind::Bits;
    std::uint64_t gridPoints = 0;
    std::uint64_t from = 0;   // All
    std::uint64_t to = 0;
    std::string file;
    std::string text;         // as typed: "bits", "grid:1025", "codes.txt"
};

inline constexpr double kLeastNplc = 0.02;
inline constexpr double kMostNplc = 100;
inline constexpr unsigned kMostMeterSamples = 1024;
inline constexpr double kDefaultCharacterizeSettleMs = 10;
inline constexpr double kDefaultNplc = 10;
inline constexpr double kDefaultAutoSettleMaxMs = 2000;
inline constexpr std::uint64_t kMostRepeats = 1000;
// The reference codes of --drift by default: 1/64 of full scale in from each end.
inline constexpr std::uint32_t kDefaultDriftLowCode = 0x01000;
inline constexpr std::uint32_t kDefaultDriftHighCode = 0x3EFFF;

// --settle MS waits a fixed time after each write; --settle auto[:MAX_MS]
// reads until two readings in a row agree (see linearity/settle_rule.h), for
// at most MAX_MS.
struct SettleChoice {
    bool automatic = false;
    double ms = kDefaultCharacterizeSettleMs;     // the fixed wait
    double maxMs = kDefaultAutoSettleMaxMs;       // automatic: the longest wait
};

// --drift N: the two reference codes measured at the start, after every N
// codes and at the end (see linearity/drift_correction.h).
struct DriftChoice {
    std::uint64_t every = 0;   // 0: no drift correction
    std::uint64_t lowCode = kDefaultDriftLowCode;
    std::uint64_t highCode = kDefaultDriftHighCode;
    bool Any() const { return every > 0; }
};

struct CharacterizeCommand {
    MeterTarget meter;
    CodeSetChoice codes;
    double nplc = kDefaultNplc;
    double settleMs = kDefaultCharacterizeSettleMs;   // the fixed wait (settle.ms)
    SettleChoice settle;
    DriftChoice drift;
    unsigned repeats = 1;    // passes over the code set
    unsigned averaged = 1;   // meter readings per code
    OutputChoice output;      // where the rows, the summary and the plot go
    std::optional<std::string> reportFile;   // the one-page PDF record, if any
    LinearityLimits limits;
    std::uint64_t park = 0;  // data word the DAC is left at
};

struct GlobalOptions;

// The options after "characterize", every name already known to the command,
// with --json. A malformed value throws CommandFailure(Usage).
CharacterizeCommand ParseCharacterizeCommand(const OptionReader& args, const GlobalOptions& options);

}  // namespace tarnel::cli
