// The two board commands through the real dlopen/dlsym path into a test
// double of each library variant.
#include <cstdint>
#include <vector>

#include "link/comms_functions.h"
#include "spine_fixture.h"
#include "state/run_time_error.h"

namespace tarnel::testing {
namespace {

using BoardCommands = SpineTest;

TEST_P(BoardCommands, FailedWriteIsReportedAndStored) {
    Double().SetRequestStatus(FailedStatus(GetParam()));
    EXPECT_FALSE(CommsFunctions::WriteDacWord(24, 0x080000));
    EXPECT_EQ(Declare::LinkStatus, FailedStatus(GetParam()));
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_P(BoardCommands, WriteRefusesWhatTheIndexFieldCannotCarry) {
    // register length, input word; none of them may reach the board
    const struct { std::int16_t length; std::int32_t word; } cases[] = {
        {24, 0x01000000}, {24, -1}, {24, INT32_MAX}, {24, INT32_MIN}, {128, 0}, {-129, 0},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(CommsFunctions::WriteDacWord(c.length, c.word), RunTimeError) << c.length << " " << c.word;
    }
    EXPECT_TRUE(Requests().empty());
    ASSERT_TRUE(CommsFunctions::WriteDacWord(24, 0xFFFFFF));
    EXPECT_EQ(Requests(), (std::vector<Request>{{0xDD, 0xFFFF, 0x18FF, 0, 0}}));
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
