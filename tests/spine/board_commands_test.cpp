// The two board commands through the real dlopen/dlsym path into a test
// double of each library variant.
#include <cstdint>
#include <vector>

#include "link/comms_functions.h"
#include "spine_fixture.h"

namespace tarnel::testing {
namespace {

TEST(ReverseBits, MirrorsEachBitPosition) {
    const struct { std::uint8_t in, out; } cases[] = {
        {0x01, 0x80}, {0x12, 0x48}, {0xA3, 0xC5}, {0x00, 0x00}, {0xFF, 0xFF}, {0x80, 0x01}, {0xF0, 0x0F},
    };
    for (const auto& c : cases) EXPECT_EQ(CommsFunctions::ReverseBits(c.in), c.out) << int(c.in);
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        EXPECT_EQ(CommsFunctions::ReverseBits(CommsFunctions::ReverseBits(byte)), byte);
    }
}

using BoardCommands = SpineTest;

TEST_P(BoardCommands, FailedWriteIsReportedAndStored) {
    Double().SetRequestStatus(FailedStatus(GetParam()));
    EXPECT_FALSE(CommsFunctions::WriteDacWord(24, 0x080000));
    EXPECT_EQ(Declare::LinkStatus, FailedStatus(GetParam()));
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_P(BoardCommands, ReadMirrorsBothBytesFirstByteHigh) {
    const struct { std::uint8_t b0, b1; std::int32_t value; } cases[] = {
        {0x01, 0x80, 0x8001}, {0xF0, 0x0F, 0x0FF0}, {0x90, 0xC5, 0x09A3}, {0x00, 0x00, 0}, {0xFF, 0xFF, 0xFFFF},
    };
    for (const auto& c : cases) {
        Double().SetReadBytes(c.b0, c.b1);
        EXPECT_EQ(CommsFunctions::ReadConverter(), c.value);
    }
    const Request read{0xDA, 0, 0, 1, 2};
    EXPECT_EQ(Requests(), std::vector<Request>(std::size(cases), read));
}

TEST_P(BoardCommands, ReadThatWritesNothingRepeatsTheLastValue) {
    Double().SetReadBytes(0x90, 0xC5);
    ASSERT_EQ(CommsFunctions::ReadConverter(), 0x09A3);
    Double().SetReadBytes(0x00, 0x00, /*fills=*/false);
    EXPECT_EQ(CommsFunctions::ReadConverter(), 0x09A3);
}

TEST_P(BoardCommands, FailedReadGivesNoValueAndKeepsTheStatus) {
    Double().SetReadBytes(0x90, 0xC5);
    Double().SetRequestStatus(FailedStatus(GetParam()));
    EXPECT_EQ(CommsFunctions::ReadConverter(), std::nullopt);
    EXPECT_EQ(Declare::LinkStatus, FailedStatus(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, BoardCommands, ::testing::Values(Variant::Newer, Variant::Older),
                         VariantName);

}  // namespace
}  // namespace tarnel::testing
