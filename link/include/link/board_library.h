// What the program needs of a board-access library, whichever variant a build
// binds: the firmware load at start-up and the vendor requests after it. Each
// variant knows its own argument forms and how its statuses read.
#pragma once

#include <cstdint>

#include <tarnel/board_protocol.h>

namespace tarnel::link {

class BoardLibrary {
public:
    virtual ~BoardLibrary() = default;

    // Opens the board as the variant does and has the library load the
    // firmware named by USBStuff::PathBuffer; returns the library's status.
    virtual std::int16_t LoadFirmware() = 0;
    virtual bool FirmwareLoaded(std::int16_t status) const = 0;

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
