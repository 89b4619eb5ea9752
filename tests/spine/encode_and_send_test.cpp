// The DAC input word: joining data word and power-down code, overflow, and
// the one write it makes.
#include <cstdint>
#include <limits>

#include "core/encode_and_send.h"
#include "spine_fixture.h"
#include "state/run_time_error.h"

namespace tarnel::testing {
namespace {

class EncodeAndSendTest : public SpineTest {
protected:
    void SetUp() override {
        SpineTest::SetUp();
        Declare::WordLength = 24;
        Declare::Resolution = 18;
    }
};

TEST_P(EncodeAndSendTest, JoinsDataAndPowerDownIntoTheWordSent) {
    // data word, power-down code, input word, and the value and index fields it travels in
    const struct { std::int32_t data; std::int16_t mode; std::int32_t word; std::int64_t value, index; } cases[] = {
        {0x3FFFF, 0, 0x0FFFFC, 0xFFFC, 0x180F}, {0x3FFFF, 1, 0x1FFFFC, 0xFFFC, 0x181F},
        {0x3FFFF, 2, 0x2FFFFC, 0xFFFC, 0x182F}, {0x3FFFF, 3, 0x3FFFFC, 0xFFFC, 0x183F},
        {0x20000, 0, 0x080000, 0x0000, 0x1808}, {0x12345, 2, 0x248D14, 0x8D14, 0x1824},
        {0x00001, 0, 0x000004, 0x0004, 0x1800}, {0x00000, 1, 0x100000, 0x0000, 0x1810},
        {0x00000, 3, 0x300000, 0x0000, 0x1830}, {0x00000, 0, 0x000000, 0x0000, 0x1800},
    };
    for (const auto& c : cases) {
        Double().Reset();
        Double().SetRequestStatus(DoneStatus(GetParam()));
        Declare::DacWord = c.data;
        Declare::PowerDownMode = c.mode;
        EXPECT_EQ(EncodeAndSend(), WriteOutcome::Written);
        EXPECT_EQ(Declare::DacWord, c.word);
        const std::vector<Request> expected{{0xDD, c.value, c.index, 0, 0}};
        EXPECT_EQ(Requests(), expected) << std::hex << c.data << " mode " << c.mode;
    }
}

TEST_P(EncodeAndSendTest, OverflowSendsNothingAndKeepsTheDataWord) {
    const struct { std::int32_t data; std::int16_t mode; } cases[] = {
        {536870911, 1},
        {536870912, 0},
        {-536870913, 0},
        {std::numeric_limits<std::int32_t>::max(), 0},
        {std::numeric_limits<std::int32_t>::min(), 3},
    };
    for (const auto& c : cases) {
        Declare::DacWord = c.data;
        Declare::PowerDownMode = c.mode;
        EXPECT_THROW(EncodeAndSend(), RunTimeError) << c.data;
        EXPECT_EQ(Declare::DacWord, c.data);
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_P(EncodeAndSendTest, WordsBeyond24BitsAreStoredButNeverSent) {
    // Data words the window never produces: the sum still fits 32 bits, so the
    // word is formed and stored, but the write refuses it instead of sending a
    // truncated or wrapped word.
    const struct { std::int32_t data; std::int32_t word; } cases[] = {
        {536870911, 2147483644}, {0x400000, 0x1000000}, {-1, -4},
    };
    for (const auto& c : cases) {
        Declare::DacWord = c.data;
        EXPECT_THROW(EncodeAndSend(), RunTimeError) << c.data;
        EXPECT_EQ(Declare::DacWord, c.word);
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_P(EncodeAndSendTest, OtherWordFormatsDoNothing) {
    const struct { std::int16_t wordLength, resolution; } cases[] = {{16, 18}, {0, 18}, {24, 16}, {24, 0}};
    for (const auto& c : cases) {
        Declare::WordLength = c.wordLength;
        Declare::Resolution = c.resolution;
        Declare::DacWord = 0x123;
        EXPECT_EQ(EncodeAndSend(), WriteOutcome::NotSent);
        EXPECT_EQ(Declare::DacWord, 0x123);
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_P(EncodeAndSendTest, FailedWriteIsTold) {
    Double().SetRequestStatus(FailedStatus(GetParam()));
    Declare::DacWord = 7;
    EXPECT_EQ(EncodeAndSend(), WriteOutcome::Failed);
    EXPECT_EQ(Declare::DacWord, 28);
    EXPECT_EQ(Declare::LinkStatus, FailedStatus(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, EncodeAndSendTest, ::testing::Values(Variant::Newer, Variant::Older),
                         VariantName);

}  // namespace
}  // namespace tarnel::testing
