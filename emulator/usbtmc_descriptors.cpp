#include "usbtmc_descriptors.h"

#include <algorithm>
#include <cstdio>

#include "scpi/client/usbtmc_header.h"

namespace tarnel::emulator {

namespace {

namespace usbtmc = scpi::client::usbtmc;

constexpr std::uint8_t kBulk = 0x02;
constexpr std::uint8_t kInterrupt = 0x03;
constexpr std::uint8_t kManufacturerString = 1;
constexpr std::uint8_t kProductString = 2;
constexpr std::uint8_t kSerialString = 3;
constexpr std::uint16_t kRelease = 0x0100;
// High speed: 2^(8-1) microframes, 16 ms.
constexpr std::uint8_t kInterruptInterval = 8;

// Lower-case hex as the kernel writes ids: "%04x" in attributes, "%x" in PRODUCT.
std::string HexOf(unsigned value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) text += HexOf(byte, "%02x");
    return text;
}

std::string Attribute(const std::string& name, const std::string& value) { return "A: " + name + "=" + value + "\\n\n"; }
std::string Property(const std::string& name, const std::string& value) { return "E: " + name + "=" + value + "\n"; }

}  // namespace

std::vector<std::uint8_t> MeterDescriptors(const MeterIdentity& identity) {
    const std::uint16_t configTotal = 9 + 9 + 3 * 7;
    const std::uint8_t bulkLow = Low(kMeterBulkPacket), bulkHigh = High(kMeterBulkPacket);
    return {
        // device: USB 2.0, class per interface, 64-byte endpoint 0, release 1.00, one configuration
        18, kDeviceDescriptorType, 0x00, 0x02, 0, 0, 0, 64, Low(identity.vendorId), High(identity.vendorId),
        Low(identity.productId), High(identity.productId), Low(kRelease), High(kRelease), kManufacturerString,
        kProductString, kSerialString, 1,
        // configuration 1: one interface, self powered
        9, kConfigDescriptorType, Low(configTotal), High(configTotal), 1, kConfigurationValue, 0, 0xC0, 0,
        // interface 0: USBTMC USB488 with three endpoints
        9, kInterfaceDescriptorType, kMeterInterface, 0, 3, usbtmc::kInterfaceClass, usbtmc::kInterfaceSubClass,
        usbtmc::kUsb488Protocol, 0,
        7, kEndpointDescriptorType, kMeterBulkOut, kBulk, bulkLow, bulkHigh, 0,
        7, kEndpointDescriptorType, kMeterBulkIn, kBulk, bulkLow, bulkHigh, 0,
        7, kEndpointDescriptorType, kMeterInterruptIn, kInterrupt, static_cast<std::uint8_t>(kMeterInterruptPacket), 0,
        kInterruptInterval,
    };
}

std::optional<std::vector<std::uint8_t>> MeterString(const MeterIdentity& identity, std::uint8_t index) {
    if (index == 0) return std::vector<std::uint8_t>{4, kStringDescriptorType, Low(kEnglishUs), High(kEnglishUs)};
    const std::string* text = index == kManufacturerString ? &identity.manufacturer
                              : index == kProductString    ? &identity.product
                              : index == kSerialString     ? &identity.serial
                                                           : nullptr;
    if (text == nullptr) return std::nullopt;
    // UTF-16LE of ASCII text; a descriptor holds at most 126 characters.
    const std::size_t characters = std::min<std::size_t>(text->size(), 126);
    std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * characters), kStringDescriptorType};
    for (std::size_t i = 0; i < characters; ++i) {
        const char c = (*text)[i];
        descriptor.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<std::uint8_t>(c) : '?');
        descriptor.push_back(0);
    }
    return descriptor;
}

std::string MeterDeviceRecord(const BusAddress& address, const MeterIdentity& identity) {
    const std::string vendor = HexOf(identity.vendorId, "%04x");
    const std::string product = HexOf(identity.productId, "%04x");
    const std::string interfaces =
        ":" + Hex({usbtmc::kInterfaceClass, usbtmc::kInterfaceSubClass, usbtmc::kUsb488Protocol}) + ":";
    const std::string more =
        Property("PRODUCT", HexOf(identity.vendorId, "%x") + "/" + HexOf(identity.productId, "%x") + "/" +
                                HexOf(kRelease, "%x")) +
        Property("TYPE", "0/0/0") + Property("ID_VENDOR_ID", vendor) + Property("ID_MODEL_ID", product) +
        Property("ID_SERIAL_SHORT", identity.serial) + Property("ID_USB_INTERFACES", interfaces) +
        Attribute("idVendor", vendor) + Attribute("idProduct", product) + Attribute("bcdDevice", HexOf(kRelease, "%04x")) +
        Attribute("bDeviceClass", "00") + Attribute("bNumConfigurations", "1") + Attribute("bNumInterfaces", " 1") +
        Attribute("bMaxPacketSize0", "64") + Attribute("version", " 2.00") +
        Attribute("manufacturer", identity.manufacturer) + Attribute("product", identity.product) +
        Attribute("serial", identity.serial);
    return DeviceRecord(address, MeterDescriptors(identity), more);
}

}  // namespace tarnel::emulator
