// The SCPI server's board on the emulated board, in process, with each
// library: a setting is one DAC request packed as the program packs it, a
// setting query makes none, a measurement makes one read-back per read; a
// board unplugged and plugged in again is opened by the next command that
// needs it, its firmware loaded and its DAC not written.
#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/session_board.h"
#include "scpi/message_executor.h"

namespace tarnel::cli {
namespace {

namespace protocol = tarnel::protocol;

std::vector<std::uint8_t> RequestCodes(const emulator::EmulatedBoard& board) {
    std::vector<std::uint8_t> codes;
    for (const auto& request : board.Requests()) codes.push_back(request.request);
    return codes;
}

class SessionBoardTest : public ::testing::TestWithParam<LibraryChoice> {
protected:
    std::string Run(const std::string& message) {
        return scpi::ExecuteMessage(message, connection_, *instrument_).value_or("<none>");
    }
    std::string NextError() { return connection_.errors.PopEntry().substr(0, 4); }

    void Open() {
        scpi::InstrumentSetup setup;
        setup.reopen = SessionBoard::Reopener(GetParam(), 0);
        instrument_ = std::make_unique<scpi::Instrument>(std::make_unique<SessionBoard>(GetParam(), 0, false), setup);
    }

    emulator::EmulatedBoard board_;
    scpi::ConnectionState connection_;
    std::unique_ptr<scpi::Instrument> instrument_;
};

TEST_P(SessionBoardTest, SettingsAreSingleWritesAndAReturningBoardIsOpenedAgain) {
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

INSTANTIATE_TEST_SUITE_P(Libraries, SessionBoardTest, ::testing::Values(LibraryChoice::Newer, LibraryChoice::Older),
                         [](const auto& info) { return info.param == LibraryChoice::Newer ? "Newer" : "Older"; });

}  // namespace
}  // namespace tarnel::cli
