#include "tarnel/usb_port_path.h"

#include <libusb.h>

namespace tarnel::usb {

std::string PortPathText(std::uint8_t bus, std::span<const std::uint8_t> ports) {
    if (ports.empty()) return {};
    std::string path = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) path += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    return path;
}

std::string PortPathOf(libusb_device* device) {
    // USB allows seven tiers of hubs below the root hub.
    std::uint8_t ports[7];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    if (depth <= 0) return {};
    return PortPathText(libusb_get_bus_number(device), std::span(ports, static_cast<std::size_t>(depth)));
}

}  // namespace tarnel::usb
