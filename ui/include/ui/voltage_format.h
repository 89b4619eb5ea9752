// The read-back converter's code in volts, as the main window shows it.
#pragma once

#include <cstdint>

namespace tarnel::ui {

// The converter's 12 bits of a read-back value (bits 15..12 dropped).
std::int32_t ConverterCode(std::int32_t readBack);

// code / 4096 * 4.93 in double precision, the division first.
double ConverterVolts(std::int32_t code);

// volts written with 15 significant digits, rounded half away from zero to
// thousandths, then taken to the nearest 32-bit float (1.2325 -> 1.233f).
float RoundedToThousandths(double volts);

}  // namespace tarnel::ui
