// Opens the evaluation board through libusb and sends it a converter read,
// which a board without firmware stalls; board-emulator's tests run it as the
// emulated command to see that the board is there and answers, or is absent.
#include <libusb.h>

#include <cstdio>

#include <tarnel/board_protocol.h>

namespace p = tarnel::protocol;

int main() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        std::fprintf(stderr, "board_probe: libusb_init failed — check that libusb-1.0 is installed\n");
        return 1;
    }
    libusb_device_handle* board = libusb_open_device_with_vid_pid(context, p::kVendorId, p::kProductId);
    std::printf("boards: %d\n", board != nullptr ? 1 : 0);
    if (board != nullptr) {
        unsigned char reply[p::kConverterReadLength];
        const int status = libusb_control_transfer(board, 0xC0, p::kRequestConverterRead, 0, 0, reply, sizeof reply,
                                                   p::kControlTimeoutMs);
        std::printf("converter read: %s\n", libusb_error_name(status));
        libusb_close(board);
    }
    libusb_exit(context);
    return 0;
}
