// The board probe on the older libusb-0.1 API (see probe_steps.h): it scans
// the bus itself through usbfs (device files, read() of the descriptors,
// CONNECTINFO) and carries every request as a synchronous CONTROL ioctl.
#include <usb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <tarnel/board_protocol.h>

#include "probe_steps.h"

namespace p = tarnel::protocol;
using tarnel::emulator::probe::ControlResult;

namespace {

struct usb_device* FindBoard() {
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (device->descriptor.idVendor == p::kVendorId && device->descriptor.idProduct == p::kProductId) {
                return device;
            }
        }
    }
    return nullptr;
}

// libusb-0.1 returns the negated errno of the failed ioctl.
std::string FaultName(int error) {
    switch (-error) {
    case EPIPE: return "stall";
    case ETIMEDOUT: return "timeout";
    case ENODEV: return "no device";
    case EPROTO:
    case EIO: return "I/O error";
    default: return std::strerror(-error);
    }
}

}  // namespace

int main(int argc, char** argv) {
    usb_init();
    struct usb_device* device = FindBoard();
    usb_dev_handle* board = device != nullptr ? usb_open(device) : nullptr;
    std::printf("boards: %d\n", board != nullptr ? 1 : 0);
    if (board == nullptr) return 0;
    const int status = tarnel::emulator::probe::Run(
        argc, argv, [&](bool toHost, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                        std::span<std::uint8_t> data) {
            const int type = USB_TYPE_VENDOR | USB_RECIP_DEVICE | (toHost ? USB_ENDPOINT_IN : USB_ENDPOINT_OUT);
            const int moved = usb_control_msg(board, type, request, value, index, reinterpret_cast<char*>(data.data()),
                                              static_cast<int>(data.size()), static_cast<int>(p::kControlTimeoutMs));
            return moved < 0 ? ControlResult{0, FaultName(moved)} : ControlResult{moved, {}};
        });
    usb_close(board);
    return status;
}
