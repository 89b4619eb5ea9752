#include "board/usb_port_path.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

namespace tarnel::cli {

namespace {

constexpr std::size_t kMostPorts = 7;   // tiers of hubs below the root hub

// 1 to 255 in decimal without a leading zero.
std::optional<unsigned> SmallNumber(std::string_view text) {
    if (text.empty() || text.size() > 3 || text.front() == '0') return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 255) return std::nullopt;
    return value;
}

// Bus first, then the ports; empty when text is not a port path.
std::vector<unsigned> Numbers(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return {};
    const auto bus = SmallNumber(text.substr(0, dash));
    if (!bus) return {};
    std::vector<unsigned> numbers{*bus};
    std::string_view ports = text.substr(dash + 1);
    for (;;) {
        const std::size_t dot = ports.find('.');
        const auto port = SmallNumber(ports.substr(0, dot));
        if (!port || numbers.size() > kMostPorts) return {};
        numbers.push_back(*port);
        if (dot == std::string_view::npos) return numbers;
        ports.remove_prefix(dot + 1);
    }
}

}  // namespace

bool IsUsbPortPath(std::string_view text) { return !Numbers(text).empty(); }

bool UsbPortPathBefore(std::string_view left, std::string_view right) {
    const std::vector<unsigned> a = Numbers(left);
    const std::vector<unsigned> b = Numbers(right);
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace tarnel::cli
