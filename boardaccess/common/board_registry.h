// The open boards of the handle-based library, each under a small positive
// handle. Handles are never reused, so a handle from an earlier connection
// stays unknown instead of reaching another board. A board that has left the
// bus is let go at the next connect (its USB handle closes once no call uses
// it), so a program that connects again after each unplug keeps no more
// open devices than it uses; its old handle then reports the board gone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "usb_board.h"

namespace tarnel::boardaccess {

class BoardRegistry {
public:
    // Takes the board and returns its handle (1, 2, ...).
    std::int32_t Add(std::unique_ptr<UsbBoard> board);

    // The board under handle; throws BoardError(BadArgument) for a handle
    // that was never issued, BoardError(Disconnected) for one whose board
    // left the bus and was let go.
    std::shared_ptr<UsbBoard> Find(std::int32_t handle) const;

private:
    mutable std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<UsbBoard>> boards_;
    std::set<std::int32_t> letGo_;
    std::int32_t lastHandle_ = 0;
};

}  // namespace tarnel::boardaccess
