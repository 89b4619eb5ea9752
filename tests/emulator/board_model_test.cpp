#include "board_model.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace {

namespace p = tarnel::protocol;
using namespace tarnel::emulator;
using Outcome = RequestRecord::Outcome;

constexpr std::uint8_t kOut = 0x40;   // vendor, device, host to board
constexpr std::uint8_t kIn = 0xC0;    // vendor, device, board to host

// OUT requests send `length` zero bytes unless data is given; IN requests ask for `length` bytes.
ControlReply Send(BoardModel& board, std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                  std::uint16_t length = 0, std::vector<std::uint8_t> data = {}) {
    if ((type & 0x80) == 0) data.resize(length);
    return board.HandleControl({type, request, value, index, length}, data);
}
Outcome WriteCpucs(BoardModel& board, std::uint8_t value) {
    return Send(board, kOut, p::kRequestRamAccess, p::kCpucsAddress, 0, 1, {value}).outcome;
}
void LoadImage(BoardModel& board) {
    WriteCpucs(board, p::kCpucsReset);
    Send(board, kOut, p::kRequestRamAccess, 0x0100, 0, 2, {0x12, 0x34});
    WriteCpucs(board, p::kCpucsRun);
    ASSERT_TRUE(board.FirmwareRunning());
}
Outcome WriteDac(BoardModel& board, std::uint32_t word) {
    const p::DacWriteFields fields = p::PackDacWrite(p::kDacRegisterLength, word);
    return Send(board, kOut, p::kRequestDacWrite, fields.value, fields.index).outcome;
}
ControlReply ReadConverter(BoardModel& board) {
    return Send(board, kIn, p::kRequestConverterRead, 0, 0, p::kConverterReadLength);
}

TEST(DacAndConverterArithmeticTest, DecodesTheWordAndScalesTheVoltage) {
    const double step = p::kFullScaleVolts / (1u << 18);
    // input word, data, power-down, volts
    const std::tuple<std::uint32_t, std::uint32_t, p::PowerDown, double> words[] = {
        {0x000000, 0, p::PowerDown::Normal, 0.0},
        {0x000004, 1, p::PowerDown::Normal, step},
        {0x080000, 0x20000, p::PowerDown::Normal, 2.465},
        {0x0FFFFC, 0x3FFFF, p::PowerDown::Normal, 0x3FFFF * step},
        {0xC80003, 0x20000, p::PowerDown::Normal, 2.465},   // bits outside 21..2 are ignored
        {0x180000, 0x20000, p::PowerDown::OneKToGround, 0.0},
        {0x280000, 0x20000, p::PowerDown::HundredKToGround, 0.0},
        {0x380000, 0x20000, p::PowerDown::ThreeState, 0.0},
    };
    for (const auto& [word, data, powerDown, volts] : words) {
        EXPECT_EQ(p::DecodeInputWord(word), (p::DacInput{data, powerDown})) << word;
        EXPECT_DOUBLE_EQ(OutputVoltsFor(word), volts) << word;
    }
    const std::pair<double, std::uint16_t> codes[] = {
        {0.0, 0}, {-0.5, 0}, {2.465, 2048}, {4.93 * 4094.999 / 4096, 4094}, {4.93 * 4095 / 4096, 4095},
        {4.93, 4095}, {6.0, 4095},
    };
    for (const auto& [volts, code] : codes) EXPECT_EQ(ConverterCodeFor(volts), code) << volts << " V";
    // No data word may lose its top twelve bits to rounding.
    for (std::uint32_t data = 0; data <= p::kDataMask; ++data) {
        ASSERT_EQ(ConverterCodeFor(OutputVoltsFor(data << p::kDataShift)), data >> 6) << "data " << data;
    }
}

TEST(BoardModelTest, FirmwareRunsOnlyAfterAnImageWrittenUnderReset) {
    enum Action { Reset, Release, WriteImage, WriteNothing };
    const std::vector<std::vector<std::pair<Action, bool>>> sequences = {   // action, running after it
        {{Release, false}},
        {{WriteImage, false}, {Release, false}},   // written while the CPU ran
        {{Reset, false}, {WriteNothing, false}, {Release, false}},
        {{Reset, false}, {WriteImage, false}, {Release, true}, {Reset, false}, {Release, true}},
    };
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        SCOPED_TRACE("sequence " + std::to_string(i));
        BoardModel board;
        for (const auto& [action, runningAfter] : sequences[i]) {
            if (action == Reset) WriteCpucs(board, p::kCpucsReset);
            if (action == Release) WriteCpucs(board, p::kCpucsRun);
            if (action == WriteImage) Send(board, kOut, p::kRequestRamAccess, 0, 0, 3, {0x02, 0x00, 0x06});
            if (action == WriteNothing) Send(board, kOut, p::kRequestRamAccess, 0, 0);
            EXPECT_EQ(board.FirmwareRunning(), runningAfter);
            // 0xDD and 0xDA stall until the firmware runs.
            const Outcome expected = runningAfter ? Outcome::Answered : Outcome::Stalled;
            EXPECT_EQ(WriteDac(board, 0x080000), expected);
            EXPECT_EQ(ReadConverter(board).outcome, expected);
        }
    }
}

TEST(BoardModelTest, AnswersOnlyWellFormedRequestsInsideItsMemory) {
    const std::tuple<std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t, std::uint16_t, bool> cases[] = {
        // type, request, value, index, length, answered
        {kOut, p::kRequestRamAccess, 0x3FF0, 0, 16, true},   {kIn, p::kRequestRamAccess, 0x3FF0, 0, 17, false},
        {kOut, p::kRequestRamAccess, 0x4000, 0, 1, false},   {kIn, p::kRequestRamAccess, 0xDFFF, 0, 1, false},
        {kIn, p::kRequestRamAccess, 0xE000, 0, 0x200, true}, {kOut, p::kRequestRamAccess, 0xE1FF, 0, 2, false},
        {kIn, p::kRequestRamAccess, 0xE600, 0, 1, true},     {kOut, p::kRequestRamAccess, 0xE600, 0, 2, false},
        {kOut, p::kRequestRamAccess, 0xE5FF, 0, 2, false},   {kIn, p::kRequestRamAccess, 0xFFFF, 0, 2, false},
        {kOut, p::kRequestDacWrite, 0, 0x1708, 0, false},    // register length 23
        {kOut, p::kRequestDacWrite, 0, 0x1808, 1, false},    // with data
        {kIn, p::kRequestDacWrite, 0, 0x1808, 0, false},
        {kOut, p::kRequestConverterRead, 0, 0, 0, false},    {kIn, p::kRequestConverterRead, 0, 0, 1, false},
        {kOut, 0x42, 0, 0, 0, false},
    };
    for (const auto& [type, request, value, index, length, answered] : cases) {
        BoardModel board;
        LoadImage(board);
        const ControlReply reply = Send(board, type, request, value, index, length);
        EXPECT_EQ(reply.outcome, answered ? Outcome::Answered : Outcome::Stalled)
            << std::hex << "request 0x" << +request << " at 0x" << value << " length " << std::dec << length;
        if (type == kIn && answered) {
            EXPECT_EQ(reply.data.size(), length);
        }
        EXPECT_EQ(board.DacInputWord(), 0u);
    }
}

TEST(BoardModelTest, UnplugAndReplugCountEveryDacAndConverterRequestEvenUnansweredOnes) {
    Options options;
    options.unplugAfter = 2;
    options.replugEvery = 2;
    options.timeoutRequests = {p::kRequestConverterRead};
    BoardModel board(options);
    WriteDac(board, 0);                        // stalled: no firmware runs yet
    LoadImage(board);                          // 0xA0 requests do not count
    Send(board, 0x00, 0x06, 0x0100, 0, 18);    // nor do standard requests, which are not logged either
    EXPECT_FALSE(board.UnplugDue() || board.ReplugDue());
    EXPECT_EQ(ReadConverter(board).outcome, Outcome::Unanswered);
    EXPECT_TRUE(board.UnplugDue() && board.ReplugDue());
    board.PowerCycle();
    EXPECT_FALSE(board.UnplugDue() || board.ReplugDue()) << "each plug-in counts from power-up";
    EXPECT_EQ(board.Requests().size(), 5u) << "every vendor request is logged, and the log outlives a power cycle";
}

TEST(BoardModelTest, NoiseStaysWithinOneCodeAndIsReproducible) {
    const std::pair<std::uint32_t, std::set<int>> cases[] = {   // input word, offsets from the exact code
        {0x000000, {0, 1}}, {0x080000, {-1, 0, 1}}, {0x0FFFFC, {-1, 0}},
    };
    Options noisy;
    noisy.noise = true;
    for (const auto& [word, offsets] : cases) {
        BoardModel first(noisy);
        BoardModel second(noisy);
        for (BoardModel* board : {&first, &second}) {
            LoadImage(*board);
            WriteDac(*board, word);
        }
        std::set<int> seen;
        for (int i = 0; i < 300; ++i) {
            const std::vector<std::uint8_t> reply = ReadConverter(first).data;
            ASSERT_EQ(reply, ReadConverter(second).data);
            seen.insert(p::ConverterReplyValue(reply.at(0), reply.at(1)) - first.ConverterCode());
        }
        EXPECT_EQ(seen, offsets) << word;
    }
}

}  // namespace
