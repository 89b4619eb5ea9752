#include "port_path.h"

#include <algorithm>

#include <libusb.h>

#include <tarnel/board_protocol.h>

#include "board_error.h"

namespace tarnel::boardaccess {

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

void WritePortPathReply(const std::string& path, std::span<std::uint8_t> reply) {
    if (path.size() > reply.size()) {
        throw BoardError(FailureKind::BadArgument,
                         "the port path " + path + " needs " + std::to_string(path.size()) + " bytes, the request has " +
                             std::to_string(reply.size()) + " — ask for " +
                             std::to_string(protocol::kPortPathLength) + " bytes");
    }
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    std::copy(path.begin(), path.end(), reply.begin());
}

}  // namespace tarnel::boardaccess
