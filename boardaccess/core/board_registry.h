// The open boards of the handle-based library, each under a small positive
// handle. Handles are never reused, so a handle from an earlier connection
// stays unknown instead of reaching another board.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "usb_board.h"

namespace tarnel::boardaccess {

class BoardRegistry {
public:
    // Takes the board and returns its handle (1, 2, ...).
    std::int32_t Add(std::unique_ptr<UsbBoard> board);

    // The board under handle; throws BoardError(BadArgument) for a handle
    // that was never issued.
    std::shared_ptr<UsbBoard> Find(std::int32_t handle) const;

private:
    mutable std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<UsbBoard>> boards_;
    std::int32_t lastHandle_ = 0;
};

}  // namespace tarnel::boardaccess
