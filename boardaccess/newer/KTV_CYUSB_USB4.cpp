// The handle-based library: thin entry points over the board-access common code.
#include <tarnel/KTV_CYUSB_USB4.h>

#include <algorithm>
#include <cstddef>

#include "arguments.h"
#include "board_registry.h"
#include "diagnostics.h"
#include "firmware_loader.h"
#include "intel_hex.h"
#include "last_failure.h"
#include "usb_board.h"

namespace {

namespace core = tarnel::boardaccess;

constexpr std::string_view kSpeaker = "libKTV_CYUSB_USB4";

core::Reporter& Report() {
    static core::Reporter reporter(kSpeaker);
    return reporter;
}

core::BoardRegistry& Boards() {
    static core::BoardRegistry registry;
    return registry;
}

// Why the last Connect failed, until one succeeds.
core::LastFailure& ConnectFailure() {
    static core::LastFailure failure;
    return failure;
}

// The board under handle. Handle 0 is what a failed Connect leaves behind:
// a call with it fails for the reason the connect did.
std::shared_ptr<core::UsbBoard> BoardUnder(std::int32_t handle) {
    if (handle == 0) ConnectFailure().ThrowIfKept();
    return Boards().Find(handle);
}

}  // namespace

extern "C" int32_t Search_For_Boards(uint32_t vendor_id, uint32_t product_id, int32_t* board_count,
                                     uint8_t* board_list) {
    return Report().Run([&] {
        core::RequirePointer(board_count, "board_count");
        core::RequirePointer(board_list, "board_list");
        *board_count = 0;
        const std::size_t attached = core::CountAttachedBoards(core::BoardIdFrom(vendor_id, product_id));
        const std::size_t listed = std::min<std::size_t>(attached, TARNEL_BOARD_LIST_BYTES);
        for (std::size_t number = 0; number < listed; ++number) board_list[number] = static_cast<uint8_t>(number);
        *board_count = static_cast<int32_t>(listed);
    });
}

extern "C" int32_t Connect(uint32_t vendor_id, uint32_t product_id, uint8_t board_number, int32_t* handle) {
    return Report().Run([&] {
        core::RequirePointer(handle, "handle");
        *handle = 0;
        ConnectFailure().Track([&] {
            *handle = Boards().Add(core::UsbBoard::Open(core::BoardIdFrom(vendor_id, product_id), board_number));
        });
    });
}

extern "C" int16_t Download_Firmware(int32_t handle, const char* path) {
    return Report().Run([&] {
        core::RequirePointer(path, "path");
        const auto board = BoardUnder(handle);
        core::LoadFirmware(*board, core::ReadIntelHexFile(path));
    });
}

extern "C" int16_t Vendor_Request(int32_t handle, uint8_t request, uint16_t value, uint16_t index,
                                  uint8_t direction, uint16_t length, uint8_t* data) {
    return Report().Run([&] {
        const auto board = BoardUnder(handle);
        board->VendorRequest(request, value, index, core::DirectionFrom(direction), core::DataFrom(data, length));
    });
}
