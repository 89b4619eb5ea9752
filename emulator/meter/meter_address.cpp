#include "meter_address.h"

#include <string>

namespace tarnel::emulator {

std::optional<MeterAddress> ParseMeterAddress(std::string_view text) {
    if (text.find(':') != std::string_view::npos) return scpi::ParseListenAddress(text);
    return scpi::ParseListenAddress(MeterAddress{}.host + ":" + std::string(text));
}

}  // namespace tarnel::emulator
