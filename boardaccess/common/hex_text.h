// Hexadecimal numbers as the messages show them: 0x12, 0xE600.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tarnel::boardaccess {

inline std::string HexText(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace tarnel::boardaccess
