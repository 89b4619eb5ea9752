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
#pragma once

#include <optional>
#include <string>

#include "characterize/characterize_point.h"

namespace tarnel::cli {

inline constexpr const char* kCharacterizeCsvHeader =
    "code,input_word,ideal_volts,meter_volts,meter_std_uv,readings,inl_ep_lsb,inl_bf_lsb,dnl_lsb,read_code,seconds";

// The figures of one code, where they exist.
struct PointFigures {
    std::optional<double> inlEndPointLsb;
    std::optional<double> inlBestFitLsb;
    std::optional<double> dnlLsb;
};

// One row, without the line end.
std::string CharacterizeCsvRow(const CharacterizePoint& point, const PointFigures& figures);

}  // namespace tarnel::cli
