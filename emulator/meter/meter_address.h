// Where the emulated meter listens, as --meter gives it: PORT alone
// (127.0.0.1), IPV4:PORT, or [IPV6]:PORT; port 0 lets the system pick one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::emulator {

struct MeterAddress {
    std::string host = "127.0.0.1";   // numeric, without brackets
    std::uint16_t port = 0;
    bool v6 = false;

    // "127.0.0.1:5025", "[::1]:5025"
    std::string Text() const;
};

// Nothing for text that is not such an address.
std::optional<MeterAddress> ParseMeterAddress(std::string_view text);

}  // namespace tarnel::emulator
