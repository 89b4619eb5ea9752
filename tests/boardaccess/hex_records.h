// Building Intel HEX text for the tests: records with correct checksums, so a
// test spells out only what it is about.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnel::boardaccess::testing {

inline std::string HexRecord(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    std::string text = ":";
    for (const std::uint8_t byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text + "\n";
}

inline std::string DataRecord(std::uint16_t offset, std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> data(count);
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(first + i);
    return HexRecord(0x00, offset, data);
}

inline std::string EndRecord() { return HexRecord(0x01, 0, {}); }

inline std::string ExtendedLinear(std::uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

inline std::string ExtendedSegment(std::uint16_t segment) {
    return HexRecord(0x02, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)});
}

}  // namespace tarnel::boardaccess::testing
