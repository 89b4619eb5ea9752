// The USB port path of a device, "1-1.2": its bus number, then the port
// numbers from the root hub down, as the system names the device in sysfs.
// It stays the same when the board is plugged into the same port again,
// whatever device number the bus gives it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct libusb_device;

namespace tarnel::boardaccess {

// "bus-port.port..."; empty when there are no port numbers.
std::string PortPathText(std::uint8_t bus, std::span<const std::uint8_t> ports);

// The device's port path from libusb; empty when the system does not tell
// the port chain (a device reached without sysfs).
std::string PortPathOf(libusb_device* device);

// Fills reply with the path, NUL-padded, as the port-path request answers.
// Throws BoardError(BadArgument) when reply is shorter than the path.
void WritePortPathReply(const std::string& path, std::span<std::uint8_t> reply);

}  // namespace tarnel::boardaccess
