// The board session against the emulated board, in process, so that the
// board's request log shows exactly what reaches it: the firmware only when
// it does not run, one DAC request per written code, one read-back request
// per read.
#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <vector>

#include "cli/board_session.h"
#include "cli/sweep.h"

namespace tarnel::cli {
namespace {

namespace protocol = tarnel::protocol;

std::vector<std::uint8_t> RequestCodes(const emulator::EmulatedBoard& board) {
    std::vector<std::uint8_t> codes;
    for (const auto& request : board.Requests()) codes.push_back(request.request);
    return codes;
}

TEST(BoardSessionTest, FirmwareOnceThenOneRequestPerWriteAndRead) {
    emulator::EmulatedBoard board;
    {
        const BoardSession first(LibraryChoice::Newer, 0, false);
        EXPECT_TRUE(first.LoadedFirmware());
        EXPECT_TRUE(board.FirmwareRunning());
    }
    board.ClearRequests();
    BoardSession session(LibraryChoice::Newer, 0, false);
    EXPECT_FALSE(session.LoadedFirmware()) << "the firmware already runs";
    EXPECT_EQ(RequestCodes(board), std::vector<std::uint8_t>{protocol::kRequestConverterRead}) << "only the probe";

    board.ClearRequests();
    SweepPlan plan;
    plan.codes = {0x3FFFF, 0x20000};
    plan.mode = protocol::PowerDown::HundredKToGround;
    plan.averaged = 2;
    const SweepOutcome outcome = RunSweep(session, plan, [](const SweepPoint&) {}, [] { return false; });
    ASSERT_EQ(outcome.end, SweepEnd::Completed);
    const auto dd = protocol::kRequestDacWrite;
    const auto da = protocol::kRequestConverterRead;
    EXPECT_EQ(RequestCodes(board), (std::vector<std::uint8_t>{dd, da, da, dd, da, da}));
    EXPECT_EQ(outcome.points[1].inputWord, 0x280000u) << "the power-down code in bits 21..20";
    EXPECT_EQ(board.DacInputWord(), 0x280000u);

    board.ClearRequests();
    session.Write(0x20000, protocol::PowerDown::Normal);
    EXPECT_EQ(session.Read(1), 2048.0);
    EXPECT_EQ(RequestCodes(board), (std::vector<std::uint8_t>{dd, da}));
}

TEST(BoardSessionTest, ReloadLoadsRunningFirmwareAgain) {
    emulator::EmulatedBoard board;
    { const BoardSession first(LibraryChoice::Newer, 0, false); }
    board.ClearRequests();
    const BoardSession reloaded(LibraryChoice::Newer, 0, true);
    EXPECT_TRUE(reloaded.LoadedFirmware());
    EXPECT_EQ(RequestCodes(board).front(), protocol::kRequestRamAccess) << "no probe before a forced load";
}

TEST(BoardSessionTest, SweepStopsAfterThePointInProgressOrAtALostBoard) {
    emulator::Options options;
    options.unplugAfter = 7;   // the probe, two points of the first sweep, one of the second
    emulator::EmulatedBoard board(options);
    BoardSession session(LibraryChoice::Newer, 0, false);
    SweepPlan plan;
    plan.codes = SweepCodes(0, 0x3FFFF, std::nullopt, 6);
    std::size_t seen = 0;
    const SweepOutcome stopped = RunSweep(session, plan, [&](const SweepPoint&) { ++seen; }, [&] { return seen == 2; });
    EXPECT_EQ(stopped.end, SweepEnd::Stopped);
    EXPECT_EQ(stopped.points.size(), 2u);

    const SweepOutcome lost = RunSweep(session, plan, [](const SweepPoint&) {}, [] { return false; });
    EXPECT_EQ(lost.end, SweepEnd::TransferFailed);
    ASSERT_EQ(lost.points.size(), 1u) << "the point before the board left is kept";
    EXPECT_EQ(lost.points[0].readCode, 0.0);
    EXPECT_NE(lost.failure.find("writing data word 0CCCD failed: board disconnected"), std::string::npos) << lost.failure;
}

}  // namespace
}  // namespace tarnel::cli
