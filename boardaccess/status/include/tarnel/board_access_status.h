// Why a call into either board-access library failed: the negative status it
// returns (the handle-based library returns 0 when done, the single-board one
// a value above 0), so a caller that looks at the value learns the kind of
// failure. The line on stderr names the cause and the fix in words.
#pragma once

#include <cstdint>

namespace tarnel {

enum class BoardAccessFailure : std::int16_t {
    BadArgument = -1,    // null pointer, out-of-range value, unknown handle
    NoBoard = -2,        // no board with that vendor/product id or number
    AccessDenied = -3,   // the board exists but may not be opened
    BadFirmware = -4,    // firmware file missing, unreadable or malformed
    RequestFailed = -5,  // the board refused or cut short a request
    Disconnected = -6,   // the board vanished under an open handle
    Timeout = -7,        // the board did not answer in time
    Internal = -8,       // anything unforeseen (out of memory, ...)
};

}  // namespace tarnel
