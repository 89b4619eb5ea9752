#include "board/board_access_lock.h"

namespace tarnel::cli {

std::unique_lock<std::recursive_mutex> LockBoardAccess() {
    static std::recursive_mutex boardAccess;
    return std::unique_lock(boardAccess);
}

}  // namespace tarnel::cli
