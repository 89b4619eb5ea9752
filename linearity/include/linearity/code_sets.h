// The codes a linearity measurement visits, in ascending order without
// repeats; a downward run takes the same codes in reverse. K = 2^bits − 1.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnel::linearity {

// Code 0, K, every single-bit code 2^i and its complement K − 2^i, and the
// check codes: enough to weigh each bit by least squares and to test that
// the weights add up.
std::vector<std::uint32_t> BitsCodes(int bits);

// The check codes: for j = 1 … 7 the code j·K/8 (rounded down), or the
// nearest below it with at least two bits set and two clear, so that no check
// code is 0, K, a 2^i or a K − 2^i: the weights are fitted without them and
// they judge the prediction.
std::vector<std::uint32_t> CheckCodes(int bits);

// Whether a code is one of the codes the bit weights are fitted on (0, K,
// 2^i, K − 2^i).
bool IsBitCode(std::uint32_t code, int bits);

// Both sides of every major carry: 2^j − 1, 2^j, K − 2^j and K − 2^j + 1 for j = 1 … bits − 1.
std::vector<std::uint32_t> CarryCodes(int bits);

// `count` codes evenly spaced from `first` to `last`, both included, in that
// order (up or down). Code i of the ascending grid is
// low + floor(i·(high − low)/(count − 1) + 1/2) in exact integer arithmetic
// (a half rounds up), so an upward and a downward run visit the same codes.
// Empty when count is 0, exceeds the codes in the span, or is 1 for a span of
// more than one code.
std::vector<std::uint32_t> GridCodes(std::uint32_t first, std::uint32_t last, std::uint64_t count);

}  // namespace tarnel::linearity
