// Prints how many evaluation boards libusb finds; board-emulator's tests run
// it as the emulated command.
#include <libusb.h>

#include <cstdio>

#include "tarnel/board_protocol.h"

int main() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        std::fprintf(stderr, "count_boards: libusb_init failed — check that libusb-1.0 is installed\n");
        return 1;
    }
    libusb_device** devices = nullptr;
    const ssize_t total = libusb_get_device_list(context, &devices);
    int boards = 0;
    for (ssize_t i = 0; i < total; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) == LIBUSB_SUCCESS &&
            descriptor.idVendor == tarnel::protocol::kVendorId && descriptor.idProduct == tarnel::protocol::kProductId) {
            ++boards;
        }
    }
    if (total >= 0) libusb_free_device_list(devices, 1);
    libusb_exit(context);
    std::printf("boards: %d\n", boards);
    return 0;
}
