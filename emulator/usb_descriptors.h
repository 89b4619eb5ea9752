// How the emulated board presents itself on the bus: its USB descriptors and
// the umockdev device record (sysfs attributes, udev properties, device node)
// that makes libusb find it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::emulator {

// The bytes of a 16-bit field, low first, as descriptors carry it.
constexpr std::uint8_t Low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
constexpr std::uint8_t High(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

// Descriptor types (bDescriptorType).
inline constexpr std::uint8_t kDeviceDescriptorType = 0x01;
inline constexpr std::uint8_t kConfigDescriptorType = 0x02;
inline constexpr std::uint8_t kStringDescriptorType = 0x03;
inline constexpr std::uint8_t kInterfaceDescriptorType = 0x04;
inline constexpr std::uint8_t kEndpointDescriptorType = 0x05;

// The board's only configuration.
inline constexpr std::uint8_t kConfigurationValue = 1;

// Device descriptor followed by the one configuration descriptor (interface 0,
// vendor class, no endpoints besides endpoint 0), as sysfs "descriptors" holds them.
std::vector<std::uint8_t> BoardDescriptors();

// Where the board sits on the emulated bus: a port of its own on the root
// hub of bus 1, so its USB port path is 1-<port> and stays across replugs.
// Each plug-in gets a new device number, as on a real bus, so handles from an
// earlier plug-in never reach it.
struct BusAddress {
    unsigned bus = 1;
    unsigned port = 1;                 // hub port: one per board
    unsigned device = 2;
    std::string SysfsPath() const;     // e.g. /sys/devices/pci0000:00/.../usb1/1-1
    std::string DeviceNode() const;    // e.g. /dev/bus/usb/001/002
};

// The umockdev record of a device at `address` (for
// umockdev_testbed_add_from_string): its udev properties, the sysfs
// attributes libusb reads and `descriptors` as sysfs "descriptors" holds
// them. `moreLines` are further "E:" and "A:" lines, each ending in a newline.
std::string DeviceRecord(const BusAddress& address, const std::vector<std::uint8_t>& descriptors,
                         const std::string& moreLines);
// The board's record.
std::string BoardDeviceRecord(const BusAddress& address);

}  // namespace tarnel::emulator
