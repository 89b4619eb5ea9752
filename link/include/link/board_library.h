// What the program needs of a board-access library, whichever variant a build
// binds: the firmware load at start-up and the vendor requests after it. Each
// variant knows its own argument forms and how its statuses read.
#pragma once

#include <cstdint>
#include <vector>

#include <tarnel/board_protocol.h>

namespace tarnel::link {

class BoardLibrary {
public:
    virtual ~BoardLibrary() = default;

    // Opens the board as the variant does and has the library load the
    // firmware named by USBStuff::PathBuffer; returns the library's status.
    virtual std::int16_t LoadFirmware() = 0;
    virtual bool FirmwareLoaded(std::int16_t status) const = 0;

    // The start-up one step at a time, for a caller that picks the board by
    // its number and loads the firmware only when it does not run yet.
    // The boards attached, by the numbers ConnectBoard takes, in the
    // library's order; returns the library's status (0 = done). A variant
    // that cannot list boards lists its one board 0 unseen.
    virtual std::int32_t SearchForBoards(std::vector<std::uint8_t>& boardNumbers) = 0;
    virtual bool ListsBoards() const = 0;
    // Makes that board the one the requests go to; returns the library's status (0 = done).
    virtual std::int32_t ConnectBoard(std::uint8_t boardNumber) = 0;
    // Loads the firmware named by USBStuff::PathBuffer into the connected
    // board; FirmwareLoaded tells whether the returned status means done.
    virtual std::int16_t DownloadFirmware() = 0;

    // One vendor request; length bytes move through data.
    virtual std::int16_t Request(std::uint8_t code, std::uint16_t value, std::uint16_t index,
                                 protocol::Direction direction, std::uint16_t length,
                                 std::uint8_t* data) = 0;
    virtual bool RequestDone(std::int16_t status) const = 0;
};

// The library the running program talks to. Each program build installs its
// variant at start; tests install a binding to a test double.
BoardLibrary& ActiveBoardLibrary();
void SetActiveBoardLibrary(BoardLibrary* library);

}  // namespace tarnel::link
