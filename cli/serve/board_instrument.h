// The SCPI instrument's board, served by a board connection: the same library binding,
// board choice and firmware rule as every tarnelctl command, the program's
// own encoding for each write and its read-back for each read. Failures of a
// write or a read become the server's BoardFailure, missing when the board
// has gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "board/board_connection.h"
#include "command_line/command_line.h"
#include "scpi/board.h"

namespace tarnel::cli {

class BoardInstrument final : public scpi::Board {
public:
    // Opens the board as a BoardConnection; a failure throws CommandFailure.
    BoardInstrument(LibraryChoice library, std::uint8_t board, bool reload);
    // Serves a connection opened already (by BoardConnection::OpenEach).
    explicit BoardInstrument(std::unique_ptr<BoardConnection> connection);

    void Write(std::uint32_t data, protocol::PowerDown mode) override;
    double Read(unsigned count) override;

    // Opens the board again after it went missing: the firmware only when it
    // does not run (the older library: always); any failure is a missing board.
    static scpi::BoardOpener Reopener(LibraryChoice library, std::uint8_t board);
    // The same for the board at a USB port path, whatever its number is now:
    // missing at once, without reaching any board, while no board is there.
    static scpi::BoardOpener ReopenerAt(LibraryChoice library, std::string path);

private:
    template <typename Request>
    auto Transfer(Request&& request) -> decltype(request());

    std::unique_ptr<BoardConnection> connection_;
};

}  // namespace tarnel::cli
