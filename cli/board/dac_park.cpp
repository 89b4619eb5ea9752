#include "board/dac_park.h"

#include "command_line/command_failure.h"

namespace tarnel::cli {

bool ParkDac(BoardConnection& board, std::uint32_t word, protocol::PowerDown mode, bool afterFailedTransfer,
             std::string& failure) {
    if (afterFailedTransfer && board.BoardGone()) return false;
    try {
        board.Write(word, mode);
        return true;
    } catch (const CommandFailure& error) {
        if (error.Status() != ExitStatus::TransferFailed) throw;
        failure = std::string("parking the DAC failed: ") + error.what();
        return false;
    }
}

}  // namespace tarnel::cli
