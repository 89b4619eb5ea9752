// Numbers in replies, as IEEE 488.2 writes them: NR1 for whole numbers
// ("1024"), NR3 for the rest ("2.465E+00").
#pragma once

#include <string>

namespace tarnel::scpi {

std::string Nr1(long long value);

// value with at most significantDigits digits, trailing zeros of the mantissa
// dropped: the digits the value has ("3.30001E+00", "2.5E-01", "0E+00").
// Not-a-number and infinities answer 9.91E+37, SCPI's not-a-number.
std::string Nr3(double value, int significantDigits);

inline constexpr const char* kNotANumber = "9.91E+37";

}  // namespace tarnel::scpi
