// The one exception type of the board-access libraries' common code. Every
// failure it detects becomes a BoardError carrying a status and a one-line
// message that names the cause and the fix; the library entry points turn it
// into their status value and a line on stderr, so no exception crosses the
// C boundary.
#pragma once

#include <stdexcept>
#include <string>

#include <tarnel/board_access_status.h>

namespace tarnel::boardaccess {

// The statuses the libraries return, published in their headers.
using FailureKind = BoardAccessFailure;

class BoardError : public std::runtime_error {
public:
    BoardError(FailureKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    FailureKind Kind() const { return kind_; }

private:
    FailureKind kind_;
};

}  // namespace tarnel::boardaccess
