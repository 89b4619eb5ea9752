// The program's spine through the real board-access libraries and libusb,
// against the emulated board. Each test runs in a process of its own (CTest
// filters by name), as each program binds one library for its whole run.
#include <gtest/gtest.h>

#include <tarnel/emulated_board.h>

#include "link/board_startup.h"
#include "link/comms_functions.h"
#include "state/declare.h"
#include "core/encode_and_send.h"
#include "link/newer_library_binding.h"
#include "link/older_library_binding.h"

namespace {

using tarnel::emulator::EmulatedBoard;
using tarnel::emulator::Options;

tarnel::link::BoardLibrary& Binding(bool newer) {
    static tarnel::link::NewerLibraryBinding newerBinding(TARNEL_REAL_NEWER_LIBRARY);
    // Found by name, as the program finds it: beside this executable.
    static tarnel::link::OlderLibraryBinding olderBinding(tarnel::link::kOlderLibraryName);
    return newer ? static_cast<tarnel::link::BoardLibrary&>(newerBinding) : olderBinding;
}

void StartsProgramsAndReadsBack(bool newer, Options options = {}) {
    EmulatedBoard board(options);
    tarnel::link::SetActiveBoardLibrary(&Binding(newer));
    Declare::WordLength = 24;
    Declare::Resolution = 18;

    ASSERT_TRUE(tarnel::link::RunBoardStartUp());
    EXPECT_TRUE(board.FirmwareRunning());
    for (const auto& request : board.Requests()) EXPECT_NE(request.request, 0xDD) << "no DAC write at start";

    const struct { std::int32_t data; std::int16_t mode; std::uint32_t word; std::int32_t code; } cases[] = {
        {0x20000, 0, 0x080000, 2048},   // about 2.465 V
        {0x3FFFF, 0, 0x0FFFFC, 4095},
        {0x3FFFF, 3, 0x3FFFFC, 0},      // three-state: no output
        {0x00000, 0, 0x000000, 0},
    };
    for (const auto& c : cases) {
        Declare::DacWord = c.data;
        Declare::PowerDownMode = c.mode;
        EXPECT_EQ(tarnel::EncodeAndSend(), tarnel::WriteOutcome::Written);
        EXPECT_EQ(board.DacInputWord(), c.word);
        const auto raw = CommsFunctions::ReadConverter();
        ASSERT_TRUE(raw.has_value());
        EXPECT_EQ(*raw & 0xFFF, c.code) << std::hex << c.data;
    }
}

void RefusesStartUpWithoutBoard(bool newer) {
    Options options;
    options.noBoard = true;
    EmulatedBoard board(options);
    tarnel::link::SetActiveBoardLibrary(&Binding(newer));
    EXPECT_FALSE(tarnel::link::RunBoardStartUp());
}

void ReportsALostBoard(bool newer) {
    Options options;
    options.unplugAfter = 1;
    EmulatedBoard board(options);
    tarnel::link::SetActiveBoardLibrary(&Binding(newer));
    Declare::WordLength = 24;
    Declare::Resolution = 18;
    ASSERT_TRUE(tarnel::link::RunBoardStartUp());
    EXPECT_EQ(tarnel::EncodeAndSend(), tarnel::WriteOutcome::Written);
    EXPECT_EQ(tarnel::EncodeAndSend(), tarnel::WriteOutcome::Failed);
    EXPECT_EQ(CommsFunctions::ReadConverter(), std::nullopt);
}

TEST(Newer, StartsAndReadsBack) { StartsProgramsAndReadsBack(true); }
TEST(Older, StartsAndReadsBack) { StartsProgramsAndReadsBack(false); }
Options Renumerating() {
    Options options;
    options.renumeration = tarnel::emulator::Renumeration::ComesBack;
    return options;
}

TEST(NewerRenumerating, StartsAndReadsBack) { StartsProgramsAndReadsBack(true, Renumerating()); }
TEST(OlderRenumerating, StartsAndReadsBack) { StartsProgramsAndReadsBack(false, Renumerating()); }
TEST(NewerNoBoard, RefusesStartUp) { RefusesStartUpWithoutBoard(true); }
TEST(OlderNoBoard, RefusesStartUp) { RefusesStartUpWithoutBoard(false); }
TEST(NewerUnplugged, ReportsFailedCommands) { ReportsALostBoard(true); }
TEST(OlderUnplugged, ReportsFailedCommands) { ReportsALostBoard(false); }

}  // namespace
