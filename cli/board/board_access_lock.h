// The board-access state every board connection of the process shares: the
// bound library (link::ActiveBoardLibrary), the control state it reads and
// writes (Declare::BoardHandle, DacWord, PowerDownMode, AdcCode, LinkStatus,
// ...) and the buffers of USBStuff. Each board transfer, connect and scan
// runs while holding this lock, with its own board's handle put in
// Declare::BoardHandle, so that several boards' connections coexist in one
// process (tarnelctl serve) and one thread's call never sees another's state.
#pragma once

#include <mutex>

namespace tarnel::cli {

// Held by the thread that runs a board-access call; the same thread may take
// it again (a scan inside a connect).
std::unique_lock<std::recursive_mutex> LockBoardAccess();

}  // namespace tarnel::cli
