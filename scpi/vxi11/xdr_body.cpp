#include "vxi11/xdr_body.h"

namespace tarnel::vxi11 {

bool LengthWordFits(std::string_view arguments, std::size_t offset) {
    if (arguments.size() < offset + 4) return false;
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) length = (length << 8) | static_cast<unsigned char>(arguments[offset + i]);
    return length <= arguments.size() - offset - 4;
}

}  // namespace tarnel::vxi11
