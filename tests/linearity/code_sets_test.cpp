#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "linearity/code_sets.h"
#include "linearity/least_squares.h"

namespace {

using namespace tarnel::linearity;
using Codes = std::vector<std::uint32_t>;

TEST(CodeSetsTest, BitsAndCarriesHoldTheDefinedCodes) {
    // 4 bits, K = 15: 0, K, 2^i, K − 2^i and j·15/8 rounded down (1, 3, 5, 7, 9, 11, 13), each
    // moved down to a code with two bits set and two clear: 1 has none below, 7, 11, 13 become 6, 10, 12.
    EXPECT_EQ(CheckCodes(4), (Codes{3, 5, 6, 9, 10, 12}));
    EXPECT_EQ(BitsCodes(4), (Codes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    // K/2, 3K/4 and 7K/8 are K − 2^17, K − 2^16 and K − 2^15: each moved one code down.
    EXPECT_EQ(CheckCodes(18), (Codes{32767, 65535, 98303, 131070, 163839, 196606, 229374}));
    for (const std::uint32_t check : CheckCodes(18)) EXPECT_FALSE(IsBitCode(check, 18)) << check;
    EXPECT_EQ(CarryCodes(4), (Codes{1, 2, 3, 4, 7, 8, 11, 12, 13, 14}));
    const Codes bits = BitsCodes(18);
    EXPECT_EQ(bits.size(), 45u) << "38 bit codes and 7 check codes apart from them";
    for (int i = 0; i < 18; ++i) {
        EXPECT_TRUE(std::binary_search(bits.begin(), bits.end(), 1u << i));
        EXPECT_TRUE(std::binary_search(bits.begin(), bits.end(), 262143u - (1u << i)));
    }
    EXPECT_EQ(CarryCodes(18).size(), 17u * 4 - 2) << "2^17 − 1 and 2^17 are both sides of the top carry twice";
}

TEST(CodeSetsTest, GridIsEvenHalvesRoundUpAndBothDirectionsVisitTheSameCodes) {
    const std::tuple<std::uint32_t, std::uint32_t, std::uint64_t, Codes> cases[] = {
        {0, 10, 3, {0, 5, 10}},
        {0, 3, 3, {0, 2, 3}},          // 1.5 rounds up
        {3, 0, 3, {3, 2, 0}},          // the same codes downward
        {10, 14, 5, {10, 11, 12, 13, 14}},
        {7, 7, 1, {7}},
        {0, 4294967295u, 3, {0, 2147483648u, 4294967295u}},
        {0, 3, 5, {}}, {0, 3, 1, {}}, {0, 3, 0, {}},
    };
    for (const auto& [first, last, count, expected] : cases) {
        EXPECT_EQ(GridCodes(first, last, count), expected) << first << " to " << last << ", " << count;
    }
    for (const std::uint64_t count : {2u, 7u, 1025u, 4096u, 262144u}) {
        Codes up = GridCodes(0, 262143, count);
        Codes down = GridCodes(262143, 0, count);
        ASSERT_EQ(up.size(), count);
        EXPECT_TRUE(std::adjacent_find(up.begin(), up.end(), std::greater_equal<>()) == up.end()) << "strictly rising";
        std::reverse(down.begin(), down.end());
        EXPECT_EQ(up, down) << count;
        EXPECT_EQ(up.front(), 0u);
        EXPECT_EQ(up.back(), 262143u);
    }
}

TEST(LeastSquaresTest, SolvesOverdeterminedSystemsAndRefusesUndeterminedOnes) {
    // y = 2 + 3x with residuals +e, −e, −e, +e that cancel for both unknowns at x = 0, 1, 2, 3.
    const auto line = SolveLeastSquares({{1, 0}, {1, 1}, {1, 2}, {1, 3}}, {2.1, 4.9, 7.9, 11.1});
    ASSERT_TRUE(line);
    EXPECT_NEAR((*line)[0], 2.0, 1e-12);
    EXPECT_NEAR((*line)[1], 3.0, 1e-12);
    const auto exact = SolveLeastSquares({{2, 1, 0}, {0, 1e-3, 0}, {0, 0, 4}, {1, 1, 1}}, {5, 3e-3, 8, 6});
    ASSERT_TRUE(exact);
    EXPECT_NEAR((*exact)[0], 1, 1e-9);
    EXPECT_NEAR((*exact)[1], 3, 1e-9);
    EXPECT_NEAR((*exact)[2], 2, 1e-9);

    EXPECT_FALSE(SolveLeastSquares({{1, 2}, {2, 4}, {3, 6}}, {1, 2, 3})) << "dependent columns";
    EXPECT_FALSE(SolveLeastSquares({{1, 2}}, {1})) << "fewer rows than unknowns";
    EXPECT_FALSE(SolveLeastSquares({{1, 2}, {1}}, {1, 2})) << "ragged";
    EXPECT_FALSE(SolveLeastSquares({{1}, {2}}, {1})) << "sizes differ";
    EXPECT_FALSE(SolveLeastSquares({}, {}));
}

}  // namespace
