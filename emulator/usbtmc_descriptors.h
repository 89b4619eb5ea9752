// How the USB meter presents itself on the bus: a high-speed USB 2.0 device
// of class 0 with one configuration and one USBTMC USB488 interface
// (class 0xFE, subclass 0x03, protocol 0x01) with a bulk-OUT, a bulk-IN and
// an interrupt-IN endpoint; its string descriptors; and its umockdev record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "usb_descriptors.h"

namespace tarnel::emulator {

inline constexpr std::uint8_t kMeterInterface = 0;
inline constexpr std::uint8_t kMeterBulkOut = 0x01;
inline constexpr std::uint8_t kMeterBulkIn = 0x82;
inline constexpr std::uint8_t kMeterInterruptIn = 0x83;
inline constexpr std::size_t kMeterBulkPacket = 512;
inline constexpr std::size_t kMeterInterruptPacket = 8;
inline constexpr std::uint16_t kEnglishUs = 0x0409;   // the one language of its strings

struct MeterIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
    std::string manufacturer = "Tarnel emulated bench";
    std::string product = "Emulated 6.5-digit DMM";
};

// Device descriptor followed by the configuration descriptor with its
// interface and endpoints.
std::vector<std::uint8_t> MeterDescriptors(const MeterIdentity& identity);
// GET_DESCRIPTOR of string `index`: 0 the language list, 1 the manufacturer,
// 2 the product, 3 the serial number; nothing for any other.
std::optional<std::vector<std::uint8_t>> MeterString(const MeterIdentity& identity, std::uint8_t index);
// The record for umockdev_testbed_add_from_string, with the attributes and
// udev properties that libusb, pyusb and udev rules look at.
std::string MeterDeviceRecord(const BusAddress& address, const MeterIdentity& identity);

}  // namespace tarnel::emulator
