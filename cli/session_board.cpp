#include "cli/session_board.h"

#include <memory>

#include "cli/command_failure.h"

namespace tarnel::cli {

SessionBoard::SessionBoard(LibraryChoice library, std::uint8_t board, bool reload) : session_(library, board, reload) {}

template <typename Request>
auto SessionBoard::Transfer(Request&& request) -> decltype(request()) {
    try {
        return request();
    } catch (const CommandFailure& failure) {
        throw scpi::BoardFailure(session_.BoardGone(), failure.what());
    }
}

void SessionBoard::Write(std::uint32_t data, protocol::PowerDown mode) {
    Transfer([&] { return session_.Write(data, mode); });
}

double SessionBoard::Read(unsigned count) {
    return Transfer([&] { return session_.Read(count); });
}

scpi::BoardOpener SessionBoard::Reopener(LibraryChoice library, std::uint8_t board) {
    return [library, board]() -> std::unique_ptr<scpi::Board> {
        // The older library keeps the board it reached first and reaches a
        // board attached since only by loading the firmware into it (which a
        // board plugged in again has lost anyway).
        const bool reload = library == LibraryChoice::Older;
        try {
            return std::make_unique<SessionBoard>(library, board, reload);
        } catch (const CommandFailure& failure) {
            throw scpi::BoardFailure(true, failure.what());
        }
    };
}

}  // namespace tarnel::cli
