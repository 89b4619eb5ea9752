// The rows of a characterisation as CSV. Columns:
//   code          data word written, decimal
//   input_word    24-bit input word sent, hex (0x080000)
//   ideal_volts   code × the ideal LSB, V
//   meter_volts   mean of the meter's readings, V
//   meter_std_uv  their standard deviation, µV (empty with one reading)
//   readings      meter readings taken
//   inl_ep_lsb    INL against the end-point line, LSB (empty without both ends)
//   inl_bf_lsb    INL against the best-fit line, LSB
//   dnl_lsb       DNL, LSB (empty unless code - 1 was measured)
//   read_code     the board's read-back code
//   seconds       since the run started
//   settle_ms     from the write to the reading used: the fixed --settle, or as --settle auto found it
//   settled       --settle auto: 1 when two readings agreed within the longest wait, 0 when not (empty otherwise)
//   drift_uv      the --drift correction added to meter_volts, µV (empty without --drift)
//   inl_ep_u      the standard uncertainty of inl_ep_lsb, LSB (empty without a spread to take it from)
//   dnl_u         that of dnl_lsb, LSB
//   repeat        the pass over the code set, from 1 (--repeat)
#pragma once

#include <optional>
#include <string>

#include "characterize/characterize_point.h"

namespace tarnel::cli {

inline constexpr const char* kCharacterizeCsvHeader =
    "code,input_word,ideal_volts,meter_volts,meter_std_uv,readings,inl_ep_lsb,inl_bf_lsb,dnl_lsb,read_code,seconds,"
    "settle_ms,settled,drift_uv,inl_ep_u,dnl_u,repeat";

// The figures of one code, where they exist.
struct PointFigures {
    std::optional<double> inlEndPointLsb;
    std::optional<double> inlBestFitLsb;
    std::optional<double> dnlLsb;
    std::optional<double> driftUv = std::nullopt;
    std::optional<double> inlEndPointLsbU = std::nullopt;
    std::optional<double> dnlLsbU = std::nullopt;
    std::optional<double> inlBestFitLsbU = std::nullopt;
};

// One row, without the line end.
std::string CharacterizeCsvRow(const CharacterizePoint& point, const PointFigures& figures);

}  // namespace tarnel::cli
