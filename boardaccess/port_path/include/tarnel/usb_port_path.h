// The USB port path of a device, "1-1.2": its bus number, then the port
// numbers from the root hub down, as the system names the device in sysfs
// (/sys/bus/usb/devices/1-1.2). It stays the same when a device is plugged
// into the same port again, whatever device number the bus gives it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct libusb_device;

namespace tarnel::usb {

// "bus-port.port..."; empty when there are no port numbers.
std::string PortPathText(std::uint8_t bus, std::span<const std::uint8_t> ports);

// The device's port path from libusb; empty when the system does not tell
// the port chain (a device reached without sysfs).
std::string PortPathOf(libusb_device* device);

}  // namespace tarnel::usb
