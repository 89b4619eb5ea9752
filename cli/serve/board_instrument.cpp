#include "serve/board_instrument.h"

#include <memory>
#include <utility>

#include "board/attached_boards.h"
#include "command_line/command_failure.h"

namespace tarnel::cli {

BoardInstrument::BoardInstrument(LibraryChoice library, std::uint8_t board, bool reload)
    : connection_(std::make_unique<BoardConnection>(library, board, reload)) {}

BoardInstrument::BoardInstrument(std::unique_ptr<BoardConnection> connection) : connection_(std::move(connection)) {}

template <typename Request>
auto BoardInstrument::Transfer(Request&& request) -> decltype(request()) {
    try {
        return request();
    } catch (const CommandFailure& failure) {
        throw scpi::BoardFailure(connection_->BoardGone(), failure.what());
    }
}

void BoardInstrument::Write(std::uint32_t data, protocol::PowerDown mode) {
    Transfer([&] { return connection_->Write(data, mode); });
}

double BoardInstrument::Read(unsigned count) {
    return Transfer([&] { return connection_->Read(count).mean; });
}

scpi::BoardOpener BoardInstrument::Reopener(LibraryChoice library, std::uint8_t board) {
    return [library, board]() -> std::unique_ptr<scpi::Board> {
        // The older library keeps the board it reached first and reaches a
        // board attached since only by loading the firmware into it (which a
        // board plugged in again has lost anyway).
        const bool reload = library == LibraryChoice::Older;
        try {
            return std::make_unique<BoardInstrument>(library, board, reload);
        } catch (const CommandFailure& failure) {
            throw scpi::BoardFailure(true, failure.what());
        }
    };
}

scpi::BoardOpener BoardInstrument::ReopenerAt(LibraryChoice library, std::string path) {
    return [library, path = std::move(path)]() -> std::unique_ptr<scpi::Board> {
        // Each command tries while the board is away: looking at the buses
        // costs no connection, which the library would keep.
        std::string listing;
        const auto attached = AttachedBoardPaths(listing);
        if (attached && !attached->contains(path)) {
            throw scpi::BoardFailure(true, "no board at USB port " + path + " — plug it in again there");
        }
        try {
            return std::make_unique<BoardInstrument>(std::make_unique<BoardConnection>(library, path, false));
        } catch (const CommandFailure& failure) {
            throw scpi::BoardFailure(true, failure.what());
        }
    };
}

}  // namespace tarnel::cli
