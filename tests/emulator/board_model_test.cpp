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

ControlReply Send(BoardModel& board, std::uint8_t type, std::uint8_t request, std::uint16_t value,
                  std::uint16_t index, std::vector<std::uint8_t> data = {}, std::uint16_t inLength = 0) {
    const bool in = (type & 0x80) != 0;
    const SetupPacket setup{type, request, value, index, in ? inLength : static_cast<std::uint16_t>(data.size())};
    return board.handleControl(setup, data);
}
Outcome WriteCpucs(BoardModel& board, std::uint8_t value) {
    return Send(board, kOut, p::kRequestRamAccess, p::kCpucsAddress, 0, {value}).outcome;
}
void LoadImage(BoardModel& board) {
    ASSERT_EQ(WriteCpucs(board, p::kCpucsReset), Outcome::Answered);
    ASSERT_EQ(Send(board, kOut, p::kRequestRamAccess, 0x0100, 0, {0x12, 0x34}).outcome, Outcome::Answered);
    ASSERT_EQ(WriteCpucs(board, p::kCpucsRun), Outcome::Answered);
}
Outcome WriteDac(BoardModel& board, std::uint32_t word) {
    return Send(board, kOut, p::kRequestDacWrite, p::DacValueFor(word), p::DacIndexFor(word)).outcome;
}
ControlReply ReadConverter(BoardModel& board) {
    return Send(board, kIn, p::kRequestConverterRead, 0, 0, {}, p::kConverterReadLength);
}
std::uint16_t CodeFromReply(const std::vector<std::uint8_t>& reply) {
    return static_cast<std::uint16_t>(((MirrorBits(reply.at(0)) << 8) | MirrorBits(reply.at(1))) & 0xFFF);
}

TEST(SetupPacketTest, DecodesLittleEndianFields) {
    const std::array<std::uint8_t, 8> bytes{0xC0, 0xDA, 0x34, 0x12, 0x08, 0x18, 0x02, 0x00};
    const SetupPacket setup = SetupPacket::decode(bytes);
    EXPECT_EQ(std::tie(setup.requestType, setup.request, setup.value, setup.index, setup.length),
              std::make_tuple(0xC0, 0xDA, 0x1234, 0x1808, 2));
    EXPECT_TRUE(setup.toHost());
    EXPECT_TRUE(setup.isVendor());
}

struct DacCase {
    std::uint32_t inputWord;
    std::uint32_t data;
    p::PowerDown powerDown;
    double volts;
};
TEST(DacDecodeTest, DataPowerDownAndVolts) {
    const double step = p::kFullScaleVolts / (1u << 18);
    const DacCase cases[] = {
        {0x000000, 0, p::PowerDown::Normal, 0.0},
        {0x080000, 0x20000, p::PowerDown::Normal, 2.465},
        {0x0FFFFC, 0x3FFFF, p::PowerDown::Normal, 0x3FFFF * step},
        {0x000004, 1, p::PowerDown::Normal, step},
        {0xC80003, 0x20000, p::PowerDown::Normal, 2.465},   // bits outside 21..2 are ignored
        {0x180000, 0x20000, p::PowerDown::OneKToGround, 0.0},
        {0x280000, 0x20000, p::PowerDown::HundredKToGround, 0.0},
        {0x380000, 0x20000, p::PowerDown::ThreeState, 0.0},
    };
    for (const DacCase& c : cases) {
        SCOPED_TRACE(c.inputWord);
        const DacInput input = DecodeDacInputWord(c.inputWord);
        EXPECT_EQ(input.data, c.data);
        EXPECT_EQ(input.powerDown, c.powerDown);
        EXPECT_DOUBLE_EQ(OutputVoltsFor(c.inputWord), c.volts);
    }
}

TEST(ConverterCodeTest, ScalesFloorsAndClips) {
    const std::pair<double, std::uint16_t> cases[] = {
        {0.0, 0}, {-0.5, 0}, {2.465, 2048}, {4.93 * 4095 / 4096, 4095}, {4.93 * 4094.999 / 4096, 4094},
        {4.93, 4095}, {6.0, 4095},
    };
    for (const auto& [volts, code] : cases) EXPECT_EQ(ConverterCodeFor(volts), code) << volts << " V";
}

TEST(ConverterCodeTest, EveryDataWordGivesItsTopTwelveBits) {
    for (std::uint32_t data = 0; data <= p::kDataMask; ++data) {
        ASSERT_EQ(ConverterCodeFor(OutputVoltsFor(data << p::kDataShift)), data >> 6) << "data " << data;
    }
}

TEST(ConverterReplyTest, HighByteFirstEachByteMirrored) {
    const std::pair<std::uint16_t, std::array<std::uint8_t, 2>> cases[] = {
        {0x800, {0x10, 0x00}}, {0x001, {0x00, 0x80}}, {0xFFF, {0xF0, 0xFF}}, {0xA5C, {0x50, 0x3A}},
    };
    for (const auto& [code, bytes] : cases) EXPECT_EQ(ConverterReplyFor(code), bytes) << code;
    for (std::uint16_t code = 0; code < p::kConverterCodes; ++code) {
        const auto reply = ConverterReplyFor(code);
        ASSERT_EQ(CodeFromReply({reply.begin(), reply.end()}), code);
    }
}

TEST(BoardModelTest, DacAndConverterStallBeforeFirmwareRuns) {
    BoardModel board;
    EXPECT_EQ(WriteDac(board, 0x080000), Outcome::Stalled);
    EXPECT_EQ(ReadConverter(board).outcome, Outcome::Stalled);
    EXPECT_EQ(board.dacInputWord(), 0u);
}

TEST(BoardModelTest, WrittenWordIsReadBackThroughTheConverter) {
    BoardModel board;
    LoadImage(board);
    ASSERT_EQ(WriteDac(board, 0x080000), Outcome::Answered);
    const ControlReply reply = ReadConverter(board);
    ASSERT_EQ(reply.outcome, Outcome::Answered);
    EXPECT_EQ(reply.data, (std::vector<std::uint8_t>{0x10, 0x00}));
    EXPECT_EQ(board.converterCode(), 2048);
    ASSERT_EQ(WriteDac(board, 0x380000), Outcome::Answered);   // three-state: 0 V
    EXPECT_EQ(CodeFromReply(ReadConverter(board).data), 0);
}

TEST(BoardModelTest, MalformedDacAndConverterRequestsStall) {
    BoardModel board;
    LoadImage(board);
    EXPECT_EQ(Send(board, kOut, p::kRequestDacWrite, 0, 0x1708).outcome, Outcome::Stalled);   // length 23
    EXPECT_EQ(Send(board, kOut, p::kRequestDacWrite, 0, 0x1808, {0x00}).outcome, Outcome::Stalled);
    EXPECT_EQ(Send(board, kIn, p::kRequestDacWrite, 0, 0x1808).outcome, Outcome::Stalled);
    EXPECT_EQ(Send(board, kOut, p::kRequestConverterRead, 0, 0).outcome, Outcome::Stalled);
    EXPECT_EQ(Send(board, kIn, p::kRequestConverterRead, 0, 0, {}, 1).outcome, Outcome::Stalled);
    EXPECT_EQ(Send(board, kOut, 0x42, 0, 0).outcome, Outcome::Stalled);
    EXPECT_EQ(board.dacInputWord(), 0u);
}

TEST(BoardModelTest, CpucsSequenceDecidesWhetherFirmwareRuns) {
    struct Step {
        enum { Reset, Release, WriteImage, WriteNothing } action;
        bool runningAfter;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{Step::Release, false}},
        {{Step::WriteImage, false}, {Step::Release, false}},   // written while the CPU ran
        {{Step::Reset, false}, {Step::WriteNothing, false}, {Step::Release, false}},
        {{Step::Reset, false}, {Step::WriteImage, false}, {Step::Release, true}, {Step::Reset, false},
         {Step::Release, true}},
    };
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        SCOPED_TRACE("sequence " + std::to_string(i));
        BoardModel board;
        for (const Step& step : sequences[i]) {
            switch (step.action) {
            case Step::Reset: ASSERT_EQ(WriteCpucs(board, p::kCpucsReset), Outcome::Answered); break;
            case Step::Release: ASSERT_EQ(WriteCpucs(board, p::kCpucsRun), Outcome::Answered); break;
            case Step::WriteImage: Send(board, kOut, p::kRequestRamAccess, 0, 0, {0x02, 0x00, 0x06}); break;
            case Step::WriteNothing: Send(board, kOut, p::kRequestRamAccess, 0, 0, {}); break;
            }
            EXPECT_EQ(board.firmwareRunning(), step.runningAfter);
        }
    }
}

TEST(BoardModelTest, CpucsReadsBackTheResetBit) {
    BoardModel board;
    WriteCpucs(board, p::kCpucsReset);
    EXPECT_EQ(Send(board, kIn, p::kRequestRamAccess, p::kCpucsAddress, 0, {}, 1).data, std::vector<std::uint8_t>{1});
    EXPECT_TRUE(board.cpuHeldInReset());
}

TEST(BoardModelTest, RamAccessOutsideOnChipRamStalls) {
    struct Case {
        std::uint16_t address;
        std::uint16_t length;
        bool answered;
    };
    const Case cases[] = {
        {0x0000, 16, true},   {0x3FF0, 16, true},   {0x3FF0, 17, false}, {0x4000, 1, false},
        {0xE000, 0x200, true}, {0xE1FF, 1, true},   {0xE1FF, 2, false},  {0xDFFF, 1, false},
        {0xE600, 1, true},    {0xE600, 2, false},   {0xE5FF, 2, false},  {0xFFFF, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.address) + "+" + std::to_string(c.length));
        BoardModel board;
        const auto expected = c.answered ? Outcome::Answered : Outcome::Stalled;
        EXPECT_EQ(Send(board, kOut, p::kRequestRamAccess, c.address, 0, std::vector<std::uint8_t>(c.length, 0)).outcome,
                  expected);
        const ControlReply read = Send(board, kIn, p::kRequestRamAccess, c.address, 0, {}, c.length);
        EXPECT_EQ(read.outcome, expected);
        if (c.answered) {
            EXPECT_EQ(read.data.size(), c.length);
        }
    }
}

TEST(BoardModelTest, RamKeepsWhatWasWritten) {
    BoardModel board;
    Send(board, kOut, p::kRequestRamAccess, 0xE100, 0, {0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(Send(board, kIn, p::kRequestRamAccess, 0xE101, 0, {}, 2).data, (std::vector<std::uint8_t>{0xAD, 0xBE}));
    EXPECT_EQ(board.ram(0xE100, 4), (std::vector<std::uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
    board.powerCycle();
    EXPECT_EQ(board.ram(0xE100, 4), (std::vector<std::uint8_t>(4, 0)));
}

TEST(BoardModelTest, FaultOptionsStallOrSwallowTheirRequestsAndAreLogged) {
    Options options;
    options.stallRequests = {p::kRequestRamAccess};
    options.timeoutRequests = {p::kRequestConverterRead};
    BoardModel board(options);
    EXPECT_EQ(WriteCpucs(board, p::kCpucsReset), Outcome::Stalled);
    EXPECT_EQ(ReadConverter(board).outcome, Outcome::Unanswered);
    Send(board, 0x00, 0x06, 0x0100, 0, {}, 18);   // a standard request is not logged
    const auto log = board.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].outcome, Outcome::Stalled);
    EXPECT_EQ(log[0].value, p::kCpucsAddress);
    EXPECT_EQ(log[1].outcome, Outcome::Unanswered);
    EXPECT_TRUE(log[1].toHost);
    board.clearRequests();
    EXPECT_TRUE(board.requests().empty());
}

TEST(BoardModelTest, UnplugIsDueAfterTheGivenNumberOfDacAndConverterRequests) {
    Options options;
    options.unplugAfter = 3;
    BoardModel board(options);
    WriteDac(board, 0);          // stalled (no firmware) but counted
    LoadImage(board);            // 0xA0 requests do not count
    ReadConverter(board);
    EXPECT_FALSE(board.unplugDue());
    WriteDac(board, 0);
    EXPECT_TRUE(board.unplugDue());
    board.powerCycle();
    EXPECT_FALSE(board.unplugDue());
    EXPECT_FALSE(BoardModel().unplugDue());
}

TEST(BoardModelTest, NoiseStaysWithinOneCodeAndIsReproducible) {
    Options noisy;
    noisy.noise = true;
    for (const std::uint32_t word : {0x000000u, 0x080000u, 0x0FFFFCu}) {
        SCOPED_TRACE(word);
        BoardModel first(noisy);
        BoardModel second(noisy);
        LoadImage(first);
        LoadImage(second);
        WriteDac(first, word);
        WriteDac(second, word);
        const int exact = first.converterCode();
        std::set<int> seen;
        for (int i = 0; i < 300; ++i) {
            const std::uint16_t code = CodeFromReply(ReadConverter(first).data);
            ASSERT_EQ(code, CodeFromReply(ReadConverter(second).data));
            ASSERT_LE(std::abs(code - exact), 1);
            seen.insert(code);
        }
        const bool atAnEnd = exact == 0 || exact == static_cast<int>(p::kConverterCodes - 1);
        EXPECT_EQ(seen.size(), atAnEnd ? 2u : 3u);
    }
    BoardModel quiet;
    LoadImage(quiet);
    WriteDac(quiet, 0x080000);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(CodeFromReply(ReadConverter(quiet).data), 2048);
}

}  // namespace
