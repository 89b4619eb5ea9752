#include "link/library_failure.h"

namespace tarnel::link {

BoardAccessFailure FailureKindOf(std::int32_t failedStatus) {
    constexpr auto first = static_cast<std::int32_t>(BoardAccessFailure::Internal);
    constexpr auto last = static_cast<std::int32_t>(BoardAccessFailure::BadArgument);
    if (failedStatus < first || failedStatus > last) return BoardAccessFailure::Internal;
    return static_cast<BoardAccessFailure>(failedStatus);
}

}  // namespace tarnel::link
