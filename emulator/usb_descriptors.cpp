#include "usb_descriptors.h"

#include <cstdio>

#include <tarnel/board_protocol.h>

namespace tarnel::emulator {

namespace {

constexpr std::uint8_t kVendorSpecificClass = 0xFF;
constexpr std::uint8_t kConfigDescriptorLength = 9;
constexpr std::uint8_t kInterfaceDescriptorLength = 9;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

std::string ThreeDigits(unsigned number) {
    char text[8];
    std::snprintf(text, sizeof text, "%03u", number % 1000);
    return text;
}

}  // namespace

std::vector<std::uint8_t> BoardDescriptors() {
    const std::uint16_t vendor = protocol::kVendorId;
    const std::uint16_t product = protocol::kProductId;
    const std::uint16_t configTotal = kConfigDescriptorLength + kInterfaceDescriptorLength;
    return {
        // device: USB 2.0, vendor class, 64-byte endpoint 0, release 1.00, one configuration
        18, kDeviceDescriptorType, 0x00, 0x02, kVendorSpecificClass, kVendorSpecificClass,
        kVendorSpecificClass, 64, Low(vendor), High(vendor), Low(product), High(product),
        0x00, 0x01, 0, 0, 0, 1,
        // configuration 1: one interface, bus powered, 100 mA
        kConfigDescriptorLength, kConfigDescriptorType, Low(configTotal), High(configTotal), 1,
        kConfigurationValue, 0, 0x80, 50,
        // interface 0, alternate setting 0, no endpoints of its own
        kInterfaceDescriptorLength, kInterfaceDescriptorType, static_cast<std::uint8_t>(protocol::kInterfaceNumber),
        0, 0, kVendorSpecificClass, kVendorSpecificClass, kVendorSpecificClass, 0,
    };
}

std::string BusAddress::SysfsPath() const {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus) + "/" + std::to_string(bus) + "-" + std::to_string(port);
}

std::string BusAddress::DeviceNode() const {
    return "/dev/bus/usb/" + ThreeDigits(bus) + "/" + ThreeDigits(device);
}

std::string DeviceRecord(const BusAddress& address, const std::vector<std::uint8_t>& descriptors,
                         const std::string& moreLines) {
    const std::string node = address.DeviceNode();
    const std::string bus = std::to_string(address.bus);
    const std::string device = std::to_string(address.device);
    // Sysfs attribute values end in a newline, written "\n" in the record.
    return "P: " + address.SysfsPath().substr(4) + "\n"
           "E: SUBSYSTEM=usb\n"
           "E: DEVTYPE=usb_device\n"
           "E: DEVNAME=" + node + "\n"
           "E: BUSNUM=" + ThreeDigits(address.bus) + "\n"
           "E: DEVNUM=" + ThreeDigits(address.device) + "\n" + moreLines +
           "A: busnum=" + bus + "\\n\n"
           "A: devnum=" + device + "\\n\n"
           // The port chain below the root hub, as the kernel writes it:
           // the board keeps it across a replug while devnum changes.
           "A: devpath=" + std::to_string(address.port) + "\\n\n"
           "A: speed=480\\n\n"
           "A: bConfigurationValue=" + std::to_string(kConfigurationValue) + "\\n\n"
           "H: descriptors=" + Hex(descriptors) + "\n";
}

std::string BoardDeviceRecord(const BusAddress& address) { return DeviceRecord(address, BoardDescriptors(), ""); }

}  // namespace tarnel::emulator
