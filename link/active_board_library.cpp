#include "link/board_library.h"
#include "state/run_time_error.h"

namespace tarnel::link {

namespace {
BoardLibrary* active = nullptr;
}

BoardLibrary& ActiveBoardLibrary() {
    if (active == nullptr) throw RunTimeError("No board-access library is bound to this program");
    return *active;
}

void SetActiveBoardLibrary(BoardLibrary* library) { active = library; }

}  // namespace tarnel::link
