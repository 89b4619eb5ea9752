#include "board/attached_boards.h"

#include <libusb.h>

#include <memory>

#include <tarnel/board_protocol.h>
#include <tarnel/usb_port_path.h>

namespace tarnel::cli {

namespace {

struct ListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};

}  // namespace

std::optional<std::set<std::string>> AttachedBoardPaths(std::string& error) {
    // One context for every look, kept for the life of the process: its device
    // list follows the buses as boards come and go. Made and ended for each look
    // every few seconds, a context would lose the devices that arrive while it ends.
    static libusb_context* context = nullptr;
    static const int initStatus = libusb_init(&context);
    if (initStatus != LIBUSB_SUCCESS) {
        error = std::string("cannot list the USB devices: ") + libusb_strerror(initStatus);
        return std::nullopt;
    }
    libusb_device** rawList = nullptr;
    const ssize_t count = libusb_get_device_list(context, &rawList);
    if (count < 0) {
        error = std::string("cannot list the USB devices: ") + libusb_strerror(static_cast<int>(count));
        return std::nullopt;
    }
    const std::unique_ptr<libusb_device*, ListDeleter> list(rawList);
    std::set<std::string> paths;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list.get()[i], &descriptor) != LIBUSB_SUCCESS) continue;
        if (descriptor.idVendor != protocol::kVendorId || descriptor.idProduct != protocol::kProductId) continue;
        std::string path = usb::PortPathOf(list.get()[i]);
        if (!path.empty()) paths.insert(std::move(path));
    }
    return paths;
}

}  // namespace tarnel::cli
