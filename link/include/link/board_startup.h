// The board start-up sequence, run once while the main window loads, and its
// firmware load alone for a caller that has already picked and connected
// the board.
#pragma once

namespace tarnel::link {

// Builds FirmwarePath from the program folder, fills PathBuffer, has the
// active library open the board and load the firmware, stores the status in
// LinkStatus. Returns whether the build's library accepted the load.
// RunTimeError passes through (path too long, library missing).
bool RunBoardStartUp();

// The same, but the firmware goes into the board the active library is
// connected to (BoardLibrary::ConnectBoard), the library's own way.
bool LoadFirmwareIntoConnectedBoard();

}  // namespace tarnel::link
