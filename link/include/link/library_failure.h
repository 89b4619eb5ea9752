// What kind of failure a board-access library's status reports, for callers
// that act on the kind (no board, no permission, a lost board, ...).
#pragma once

#include <cstdint>

#include <tarnel/board_access_status.h>

namespace tarnel::link {

// The kind a failed call's status names; a status outside the libraries'
// list counts as Internal.
BoardAccessFailure FailureKindOf(std::int32_t failedStatus);

}  // namespace tarnel::link
