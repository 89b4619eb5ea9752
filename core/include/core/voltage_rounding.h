// How the program rounds a voltage for display and for OutputVoltage: the
// number pattern "0.###" read back as a 32-bit float.
#pragma once

namespace tarnel {

// volts written with 15 significant digits, rounded half away from zero to
// thousandths, then taken to the nearest 32-bit float (1.2325 -> 1.233f).
float RoundedToThousandths(double volts);

}  // namespace tarnel
