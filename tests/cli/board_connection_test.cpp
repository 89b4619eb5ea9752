// The board connection against the emulated board, in process, so that the
// board's request log shows exactly what reaches it: the firmware only when
// it does not run, one DAC request per written code, one read-back request
// per read. And the same connection as the SCPI server's board, with each
// library: a setting is one DAC request packed as the program packs it, a
// setting query makes none; a board unplugged and plugged in again is opened
// by the next command that needs it, its firmware loaded, its DAC not written.
#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board/board_connection.h"
#include "scpi/board_commands.h"
#include "scpi/message_executor.h"
#include "serve/board_instrument.h"
#include "sweep/sweep.h"

namespace tarnel::cli {
namespace {

namespace protocol = tarnel::protocol;

std::vector<std::uint8_t> RequestCodes(const emulator::EmulatedBoard& board) {
    std::vector<std::uint8_t> codes;
    for (const auto& request : board.Requests()) codes.push_back(request.request);
    return codes;
}

TEST(BoardConnectionTest, FirmwareOnceThenOneRequestPerWriteAndRead) {
    emulator::EmulatedBoard board;
    {
        const BoardConnection first(LibraryChoice::Newer, 0, false);
        EXPECT_TRUE(first.LoadedFirmware());
        EXPECT_TRUE(board.FirmwareRunning());
    }
    board.ClearRequests();
    BoardConnection session(LibraryChoice::Newer, 0, false);
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
    EXPECT_EQ(session.Read(1).mean, 2048.0);
    EXPECT_EQ(RequestCodes(board), (std::vector<std::uint8_t>{dd, da}));
}

TEST(BoardConnectionTest, ReloadLoadsRunningFirmwareAgain) {
    emulator::EmulatedBoard board;
    { const BoardConnection first(LibraryChoice::Newer, 0, false); }
    board.ClearRequests();
    const BoardConnection reloaded(LibraryChoice::Newer, 0, true);
    EXPECT_TRUE(reloaded.LoadedFirmware());
    EXPECT_EQ(RequestCodes(board).front(), protocol::kRequestRamAccess) << "no probe before a forced load";
}

TEST(BoardConnectionTest, SweepStopsAfterThePointInProgressOrAtALostBoard) {
    emulator::Options options;
    options.unplugAfter = 7;   // the probe, two points of the first sweep, one of the second
    emulator::EmulatedBoard board(options);
    BoardConnection session(LibraryChoice::Newer, 0, false);
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

TEST(BoardConnectionTest, AveragedReadsReportTheirSpread) {
    emulator::Options options;
    options.noise = true;   // +-1 LSB on each read-back
    emulator::EmulatedBoard board(options);
    BoardConnection connection(LibraryChoice::Newer, 0, false);
    connection.Write(0x20000, protocol::PowerDown::Normal);
    const Reading reading = connection.Read(200);
    EXPECT_EQ(reading.count, 200u);
    EXPECT_EQ(reading.min, 2047.0);
    EXPECT_EQ(reading.max, 2049.0);
    EXPECT_GT(reading.standardDeviation, 0.3);
    EXPECT_LT(reading.standardDeviation, 1.0);
    EXPECT_NEAR(reading.mean, 2048.0, 0.3);
    const Reading single = connection.Read(1);
    EXPECT_EQ(single.standardDeviation, 0.0);
    EXPECT_EQ(single.min, single.mean);
    EXPECT_EQ(single.max, single.mean);
}

// The park word is written however the sweep ends, unless the board is gone.
TEST(BoardConnectionTest, ParkWordEndsEverySweepWhileTheBoardIsThere) {
    const auto dd = protocol::kRequestDacWrite;
    const auto da = protocol::kRequestConverterRead;
    emulator::Options options;
    options.unplugAfter = 10;   // the probe, the stopped sweep's 2 points and park, 1 point of the last
    emulator::EmulatedBoard board(options);
    BoardConnection connection(LibraryChoice::Newer, 0, false);
    SweepPlan plan;
    plan.codes = SweepCodes(0, 0x3FFFF, std::nullopt, 6);
    plan.park = 0x20000;

    board.ClearRequests();
    std::size_t seen = 0;
    const SweepOutcome stopped = RunSweep(connection, plan, [&](const SweepPoint&) { ++seen; }, [&] { return seen == 2; });
    EXPECT_EQ(stopped.end, SweepEnd::Stopped);
    EXPECT_TRUE(stopped.parked);
    EXPECT_EQ(RequestCodes(board), (std::vector<std::uint8_t>{dd, da, dd, da, dd}));
    EXPECT_EQ(protocol::DecodeInputWord(board.DacInputWord()).data, 0x20000u) << "parked after the stop";

    const auto throwing = [](const SweepPoint&) { throw std::runtime_error("disk full"); };
    EXPECT_THROW(RunSweep(connection, plan, throwing, [] { return false; }), std::runtime_error);
    EXPECT_EQ(protocol::DecodeInputWord(board.DacInputWord()).data, 0x20000u) << "parked after a failing row";

    const SweepOutcome lost = RunSweep(connection, plan, [](const SweepPoint&) {}, [] { return false; });
    EXPECT_EQ(lost.end, SweepEnd::TransferFailed);
    EXPECT_FALSE(lost.parked) << "no write to a board that has gone";
    EXPECT_EQ(lost.parkFailure, "");
}

TEST(BoardConnectionTest, ParkWordFollowsAFailedReadOfABoardStillThere) {
    emulator::Options options;
    options.stallRequests = {protocol::kRequestConverterRead};
    emulator::EmulatedBoard board(options);
    BoardConnection connection(LibraryChoice::Newer, 0, false);
    SweepPlan plan;
    plan.codes = {0x3FFFF};
    plan.park = 0x10000;
    const SweepOutcome failed = RunSweep(connection, plan, [](const SweepPoint&) {}, [] { return false; });
    EXPECT_EQ(failed.end, SweepEnd::TransferFailed);
    EXPECT_TRUE(failed.parked);
    EXPECT_EQ(protocol::DecodeInputWord(board.DacInputWord()).data, 0x10000u);
}

class BoardInstrumentTest : public ::testing::TestWithParam<LibraryChoice> {
protected:
    std::string Run(const std::string& message) {
        return scpi::ExecuteMessage(message, *table_, connection_).value_or("<none>");
    }
    std::string NextError() { return connection_.errors.PopEntry().substr(0, 4); }

    void Open() {
        scpi::InstrumentSetup setup;
        setup.reopen = BoardInstrument::Reopener(GetParam(), 0);
        table_.reset();
        instrument_ = std::make_unique<scpi::Instrument>(std::make_unique<BoardInstrument>(GetParam(), 0, false), setup);
        table_ = std::make_unique<scpi::CommandTable>(scpi::BoardCommands(*instrument_));
    }

    emulator::EmulatedBoard board_;
    scpi::ConnectionState connection_;
    std::unique_ptr<scpi::Instrument> instrument_;
    std::unique_ptr<scpi::CommandTable> table_;   // calls instrument_
};

TEST_P(BoardInstrumentTest, SettingsAreSingleWritesAndAReturningBoardIsOpenedAgain) {
    const auto dd = protocol::kRequestDacWrite;
    const auto da = protocol::kRequestConverterRead;
    Open();
    board_.ClearRequests();
    EXPECT_EQ(Run("VOLT 2.465;VOLT?;:OUTP:OFF:MODE R1K"), "2.465E+00");
    ASSERT_EQ(RequestCodes(board_), std::vector<std::uint8_t>{dd});
    const emulator::RequestRecord write = board_.Requests().front();
    EXPECT_EQ((protocol::DacWriteFields{write.value, write.index}), protocol::PackDacWrite(24, 0x080000));
    EXPECT_EQ(Run("AVER:COUN 3;:MEAS?"), "2.465E+00");
    EXPECT_EQ(RequestCodes(board_), (std::vector<std::uint8_t>{dd, da, da, da}));

    board_.Unplug();
    EXPECT_EQ(Run("MEAS?"), "9.91E+37");
    EXPECT_EQ(Run("OUTP OFF;:MEAS?"), "9.91E+37") << "no board to open: the message goes on";
    EXPECT_EQ(NextError(), "-241");
    EXPECT_EQ(NextError(), "-241");
    EXPECT_EQ(NextError(), "-241");

    board_.Plug();
    board_.ClearRequests();
    EXPECT_EQ(Run("MEAS?"), "0E+00") << "a board back from power-up, its DAC at 0";
    EXPECT_TRUE(board_.FirmwareRunning());
    const std::vector<std::uint8_t> opening = RequestCodes(board_);
    EXPECT_EQ(std::count(opening.begin(), opening.end(), dd), 0) << "opening again writes no DAC word";
    EXPECT_EQ(opening.front(), GetParam() == LibraryChoice::Newer ? da : protocol::kRequestRamAccess)
        << "the newer library asks the firmware first; the older one reaches a new board only by loading it";
    EXPECT_NEAR(std::stod(Run("VOLT 1;:OUTP ON;:MEAS?")), 1.0, 2 * protocol::ConverterVolts(1));
    EXPECT_EQ(connection_.errors.Count(), 0u);
}

// A board unplugged and plugged into the same port again: a new device
// number, the same port path; the path request never reaches the board. (The
// older library keeps the board it first opened until a firmware load, so in
// one process only the newer one reaches the board back.)
TEST(BoardConnectionTest, PortPathOutlastsAReplug) {
    emulator::EmulatedBoard board;
    const std::string before = board.DeviceNode();
    const ScanResult first = BoardConnection::Scan(LibraryChoice::Newer);
    board.Unplug();
    board.Plug();
    // The library learns of the new device from the system's event, a moment after the plug-in.
    ScanResult second = BoardConnection::Scan(LibraryChoice::Newer);
    for (int attempt = 0; attempt < 100 && !(second.boards.size() == 1 && second.boards[0].reachable); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        second = BoardConnection::Scan(LibraryChoice::Newer);
    }
    ASSERT_EQ(first.boards.size(), 1u);
    ASSERT_EQ(second.boards.size(), 1u);
    EXPECT_NE(board.DeviceNode(), before) << "the bus numbers the device again";
    EXPECT_EQ(first.boards[0].path, "1-1");
    EXPECT_EQ(second.boards[0].path, "1-1") << second.boards[0].problem;
    EXPECT_EQ(BoardConnection::NumberOfBoardAt(LibraryChoice::Newer, "1-1"), 0);
    const std::vector<std::uint8_t> codes = RequestCodes(board);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), protocol::kRequestPortPath), 0);
}

INSTANTIATE_TEST_SUITE_P(Libraries, BoardInstrumentTest, ::testing::Values(LibraryChoice::Newer, LibraryChoice::Older),
                         [](const auto& info) { return info.param == LibraryChoice::Newer ? "Newer" : "Older"; });

}  // namespace
}  // namespace tarnel::cli
