// libusb's objects with owners, and what the USBTMC pipe and the instrument
// listing read from a device: its USBTMC interfaces, its strings, its node.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scpi/client/usb_pipe.h"

namespace tarnel::scpi::client::usb {

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
using Context = std::unique_ptr<libusb_context, ContextDeleter>;

struct HandleDeleter {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleDeleter>;

// A libusb context of its own; nothing (and `error` says why) when libusb
// cannot start, as on a host without USB.
Context NewContext(std::string& error);

// The devices on the buses while it lives.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context);
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    std::span<libusb_device* const> Devices() const { return {list_, count_}; }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

// The USBTMC interfaces (class 0xFE, subclass 0x03, alternate setting 0) of
// the device's active configuration, by interface number. An interface
// without one of its bulk endpoints has 0 in its place.
std::vector<usbtmc::PipeLayout> UsbtmcInterfaces(libusb_device* device);

// A string descriptor in printable ASCII; empty for index 0 or when unreadable.
std::string StringDescriptor(libusb_device_handle* handle, std::uint8_t index);

// "/dev/bus/usb/001/005".
std::string DeviceNode(libusb_device* device);

// "0x1209:0xB212".
std::string IdsText(std::uint16_t vendorId, std::uint16_t productId);

// What the udev rule gives, and how to get it: the end of a permission failure.
inline constexpr char kPermissionFix[] =
    "install the tarnel package (its udev rule /usr/lib/udev/rules.d/60-tarnel-board.rules gives the logged-in "
    "user every USBTMC instrument), then unplug the instrument and plug it in again";

}  // namespace tarnel::scpi::client::usb
