// The one exception type of the board-access core. Every failure the core
// detects becomes a BoardError carrying a status and a one-line message that
// names the cause and the fix; the library entry points turn it into their
// status value and a line on stderr, so no exception crosses the C boundary.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarnel::boardaccess {

// Negative statuses, shared by both libraries, so a caller that looks at the
// value learns the kind of failure.
enum class FailureKind : std::int16_t {
    BadArgument = -1,    // null pointer, out-of-range value, unknown handle
    NoBoard = -2,        // no board with that vendor/product id or number
    AccessDenied = -3,   // the board exists but may not be opened
    BadFirmware = -4,    // firmware file missing, unreadable or malformed
    RequestFailed = -5,  // the board refused or cut short a request
    Disconnected = -6,   // the board vanished under an open handle
    Timeout = -7,        // the board did not answer in time
    Internal = -8,       // anything unforeseen (out of memory, ...)
};

class BoardError : public std::runtime_error {
public:
    BoardError(FailureKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    FailureKind kind() const { return kind_; }

private:
    FailureKind kind_;
};

}  // namespace tarnel::boardaccess
