// The board start-up sequence, through a test double of each
// library variant.
#include <cstdint>
#include <string>
#include <vector>

#include "link/board_startup.h"
#include "spine_fixture.h"

namespace tarnel::testing {
namespace {

using BoardStartUp = SpineTest;

std::string ExpectedFirmwarePath() { return USBStuff::ProgramFolder() + "/Brisan.hex"; }

TEST_P(BoardStartUp, EachBuildJudgesTheLoadStatusByItsOwnRule) {
    const struct { Variant variant; std::int16_t status; bool accepted; } cases[] = {
        {Variant::Newer, 0, true},  {Variant::Newer, 1, false}, {Variant::Newer, -1, false},
        {Variant::Older, 1, true},  {Variant::Older, 7, true},  {Variant::Older, 0, false},
        {Variant::Older, -1, false},
    };
    for (const auto& c : cases) {
        if (c.variant != GetParam()) continue;
        Double().SetLoadStatus(c.status);
        EXPECT_EQ(link::RunBoardStartUp(), c.accepted) << c.status;
        EXPECT_EQ(Declare::LinkStatus, c.status);
    }
}

TEST_P(BoardStartUp, HandsTheFirmwarePathBesideTheProgramAndWritesNothingToTheDac) {
    Double().SetLoadStatus(DoneStatus(GetParam()));
    Double().SetSearchResult(/*board=*/3, /*handle=*/42);
    ASSERT_TRUE(link::RunBoardStartUp());

    EXPECT_EQ(USBStuff::FirmwarePath, ExpectedFirmwarePath());
    const auto calls = Double().Calls();
    if (GetParam() == Variant::Newer) {
        ASSERT_EQ(Double().Operations(),
                  (std::vector<std::string>{"Search_For_Boards", "Connect", "Download_Firmware"}));
        EXPECT_EQ(calls[0].args[1], 0xB211);
        EXPECT_EQ(calls[1].args[2], 3) << "connects to the board the search listed first";
        EXPECT_EQ(calls[2].args[0], 42) << "downloads through the handle Connect gave";
        EXPECT_EQ(Declare::BoardHandle, 42);
        EXPECT_EQ(calls[2].path, ExpectedFirmwarePath());
    } else {
        ASSERT_EQ(Double().Operations(), std::vector<std::string>{"LoadFirmWare"});
        EXPECT_EQ(calls[0].path, ExpectedFirmwarePath());
    }
    EXPECT_TRUE(Requests().empty());
}

TEST_P(BoardStartUp, StepByStepEachLibraryLoadsTheConnectedBoardItsOwnWay) {
    Double().SetLoadStatus(DoneStatus(GetParam()));
    Double().SetSearchResult(/*board=*/3, /*handle=*/42);
    link::BoardLibrary& library = BindingFor(GetParam());
    std::vector<std::uint8_t> boards;
    ASSERT_EQ(library.SearchForBoards(boards), 0);
    ASSERT_EQ(boards.size(), 1u);
    ASSERT_EQ(library.ConnectBoard(boards[0]), 0);
    ASSERT_TRUE(link::LoadFirmwareIntoConnectedBoard());
    EXPECT_EQ(Declare::LinkStatus, DoneStatus(GetParam()));
    if (GetParam() == Variant::Newer) {
        EXPECT_TRUE(library.ListsBoards());
        EXPECT_EQ(boards[0], 3);
        EXPECT_EQ(Double().Operations(),
                  (std::vector<std::string>{"Search_For_Boards", "Connect", "Download_Firmware"}));
        EXPECT_EQ(Double().Calls()[2].args[0], 42) << "into the board Connect gave";
    } else {
        EXPECT_FALSE(library.ListsBoards()) << "the older library lists its one board unseen";
        EXPECT_EQ(boards[0], 0);
        EXPECT_EQ(Double().Operations(), std::vector<std::string>{"LoadFirmWare"});
    }
    EXPECT_EQ(Double().Calls().back().path, ExpectedFirmwarePath());
}

// Only the newer library searches for boards.
using NewerStartUp = SpineTest;

TEST_P(NewerStartUp, DownloadsEvenWhenTheSearchFindsNothing) {
    Double().SetSearchResult(0, 0);
    Double().SetLoadStatus(-1);
    EXPECT_FALSE(link::RunBoardStartUp());
    EXPECT_EQ(Double().Operations().back(), "Download_Firmware");
}

INSTANTIATE_TEST_SUITE_P(NewerLibrary, NewerStartUp, ::testing::Values(Variant::Newer), VariantName);
INSTANTIATE_TEST_SUITE_P(BothLibraries, BoardStartUp, ::testing::Values(Variant::Newer, Variant::Older),
                         VariantName);

}  // namespace
}  // namespace tarnel::testing
