// The board start-up sequence, run once while the main window loads.
#pragma once

namespace tarnel::link {

// Builds FirmwarePath from the program folder, fills PathBuffer, has the
// active library open the board and load the firmware, stores the status in
// LinkStatus. Returns whether the build's library accepted the load.
// RunTimeError passes through (path too long, library missing).
bool RunBoardStartUp();

}  // namespace tarnel::link
