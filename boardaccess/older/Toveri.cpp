// The single-board library: thin entry points over the board-access common code.
// It keeps the board it loaded the firmware into and sends every request there.
#include <tarnel/Toveri.h>

#include <memory>
#include <mutex>

#include "arguments.h"
#include "diagnostics.h"
#include "firmware_loader.h"
#include "intel_hex.h"
#include "last_failure.h"
#include "usb_board.h"

namespace {

namespace core = tarnel::boardaccess;

constexpr std::string_view kSpeaker = "libToveri";

// The board of the last successful firmware load, or why the last load
// failed. A request before any load opens the first board and keeps it, so
// that a caller can ask whether the firmware already runs without loading it
// again.
class KeptBoard {
public:
    void Load(char* path) {
        loadFailure_.Track([&] {
            core::RequirePointer(path, "path");
            const core::FirmwareImage image = core::ReadIntelHexFile(path);
            // A reload starts from a freshly opened board; the old one is
            // released first so its interface is free to claim again.
            Replace(nullptr);
            std::shared_ptr<core::UsbBoard> board = core::UsbBoard::Open(core::BoardId{}, 0);
            core::LoadFirmware(*board, image);
            Replace(std::move(board));
        });
    }
    // After a failed load, a request fails for the reason the load did.
    std::shared_ptr<core::UsbBoard> Get() {
        const std::lock_guard lock(mutex_);
        if (!board_) {
            loadFailure_.ThrowIfKept();
            board_ = core::UsbBoard::Open(core::BoardId{}, 0);
        }
        return board_;
    }

private:
    void Replace(std::shared_ptr<core::UsbBoard> board) {
        const std::lock_guard lock(mutex_);
        board_ = std::move(board);
    }

    std::mutex mutex_;
    std::shared_ptr<core::UsbBoard> board_;
    core::LastFailure loadFailure_;
};

KeptBoard& Kept() {
    static KeptBoard kept;
    return kept;
}

core::Reporter& Report() {
    static core::Reporter reporter(kSpeaker);
    return reporter;
}

// This library reports success as 1 and failure as the common code's negative status.
std::int16_t StatusOf(std::int16_t coreStatus) { return coreStatus == 0 ? 1 : coreStatus; }

}  // namespace

std::int16_t LoadFirmWare(char* path) {
    return StatusOf(Report().Run([&] { Kept().Load(path); }));
}

std::int16_t VendorIORequest(std::int16_t request, std::int32_t value, std::int32_t index, std::int16_t direction,
                             std::int16_t length, char* data) {
    return StatusOf(Report().Run([&] {
        const std::uint8_t code = core::RequestCodeFrom(request);
        const std::uint16_t valueField = core::FieldFrom(value, "value");
        const std::uint16_t indexField = core::FieldFrom(index, "index");
        const auto board = Kept().Get();
        board->VendorRequest(code, valueField, indexField, core::DirectionFrom(direction),
                             core::DataFrom(data, length));
    }));
}
