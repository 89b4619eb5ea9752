#include "linearity/code_sets.h"

#include <algorithm>
#include <bit>

namespace tarnel::linearity {

namespace {

std::uint32_t FullScale(int bits) { return (std::uint32_t{1} << bits) - 1; }

std::vector<std::uint32_t> SortedUnique(std::vector<std::uint32_t> codes) {
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

}  // namespace

bool IsBitCode(std::uint32_t code, int bits) {
    const int set = std::popcount(code);
    return set <= 1 || bits - set <= 1;
}

std::vector<std::uint32_t> CheckCodes(int bits) {
    std::vector<std::uint32_t> codes;
    for (std::uint64_t j = 1; j <= 7; ++j) {
        std::uint32_t code = static_cast<std::uint32_t>(j * FullScale(bits) / 8);
        while (code > 0 && IsBitCode(code, bits)) --code;
        if (!IsBitCode(code, bits)) codes.push_back(code);
    }
    return SortedUnique(std::move(codes));
}

std::vector<std::uint32_t> BitsCodes(int bits) {
    const std::uint32_t full = FullScale(bits);
    std::vector<std::uint32_t> codes = CheckCodes(bits);
    codes.push_back(0);
    codes.push_back(full);
    for (int i = 0; i < bits; ++i) {
        codes.push_back(std::uint32_t{1} << i);
        codes.push_back(full - (std::uint32_t{1} << i));
    }
    return SortedUnique(std::move(codes));
}

std::vector<std::uint32_t> CarryCodes(int bits) {
    const std::uint32_t full = FullScale(bits);
    std::vector<std::uint32_t> codes;
    for (int j = 1; j < bits; ++j) {
        const std::uint32_t carry = std::uint32_t{1} << j;
        codes.insert(codes.end(), {carry - 1, carry, full - carry, full - carry + 1});
    }
    return SortedUnique(std::move(codes));
}

std::vector<std::uint32_t> GridCodes(std::uint32_t first, std::uint32_t last, std::uint64_t count) {
    const std::uint64_t low = std::min(first, last);
    const std::uint64_t span = std::max(first, last) - low;
    if (count == 0 || count > span + 1 || (count == 1 && span > 0)) return {};
    if (count == 1) return {static_cast<std::uint32_t>(low)};
    std::vector<std::uint32_t> codes;
    codes.reserve(count);
    const std::uint64_t intervals = count - 1;
    for (std::uint64_t i = 0; i < count; ++i) {
        // 2·i·span reaches 2^65 for the widest spans: 128 bits.
        const unsigned __int128 twice = static_cast<unsigned __int128>(2 * i) * span + intervals;
        codes.push_back(static_cast<std::uint32_t>(low + static_cast<std::uint64_t>(twice / (2 * intervals))));
    }
    if (first > last) std::reverse(codes.begin(), codes.end());
    return codes;
}

}  // namespace tarnel::linearity
