// The board probe on libusb-1.0 (see probe_steps.h): board-emulator's tests
// run it as the emulated command to see that the board is there, answers,
// and fails the way the emulator's options say.
#include <libusb.h>

#include <cstdio>

#include <tarnel/board_protocol.h>

#include "probe_steps.h"

namespace p = tarnel::protocol;
using tarnel::emulator::probe::ControlResult;

namespace {

std::string FaultName(int error) {
    switch (error) {
    case LIBUSB_ERROR_PIPE: return "stall";
    case LIBUSB_ERROR_TIMEOUT: return "timeout";
    case LIBUSB_ERROR_NO_DEVICE: return "no device";
    case LIBUSB_ERROR_IO: return "I/O error";
    default: return libusb_error_name(error);
    }
}

}  // namespace

int main(int argc, char** argv) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        std::fprintf(stderr, "board_probe: libusb_init failed — check that libusb-1.0 is installed\n");
        return 1;
    }
    libusb_device_handle* board = libusb_open_device_with_vid_pid(context, p::kVendorId, p::kProductId);
    std::printf("boards: %d\n", board != nullptr ? 1 : 0);
    int status = 0;
    if (board != nullptr) {
        status = tarnel::emulator::probe::Run(
            argc, argv, [&](bool toHost, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                            std::span<std::uint8_t> data) {
                const auto type = static_cast<std::uint8_t>(unsigned{LIBUSB_REQUEST_TYPE_VENDOR} |
                                                            unsigned{toHost ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT});
                const int moved = libusb_control_transfer(board, type, request, value, index, data.data(),
                                                          static_cast<std::uint16_t>(data.size()), p::kControlTimeoutMs);
                return moved < 0 ? ControlResult{0, FaultName(moved)} : ControlResult{moved, {}};
            });
        libusb_close(board);
    }
    libusb_exit(context);
    return status;
}
