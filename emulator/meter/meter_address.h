// Where the emulated meter listens, as --meter gives it: PORT alone
// (127.0.0.1), IPV4:PORT, or [IPV6]:PORT; port 0 lets the system pick one.
#pragma once

#include <optional>
#include <string_view>

#include "scpi/listen_address.h"

namespace tarnel::emulator {

using MeterAddress = scpi::ListenAddress;

// Nothing for text that is not such an address.
std::optional<MeterAddress> ParseMeterAddress(std::string_view text);

}  // namespace tarnel::emulator
