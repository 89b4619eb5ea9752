// RPC messages written byte by byte, for the tests that send what a client
// library never would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::vxi11::test {

inline void PutWord(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

inline std::string Words(std::initializer_list<std::uint32_t> words) {
    std::string out;
    for (const std::uint32_t word : words) PutWord(out, word);
    return out;
}

// A call with no credentials.
inline std::string CallMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                               std::uint32_t procedure, std::string_view arguments, std::uint32_t rpcVersion = 2) {
    std::string out = Words({xid, 0, rpcVersion, program, version, procedure, 0, 0, 0, 0});
    out.append(arguments);
    return out;
}

inline std::uint32_t WordAt(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

// Reply offsets: xid 0, type 4, reply state 8, then for an accepted reply
// the verifier (12, 16) and the accept state at 20, results from 24.
inline constexpr std::size_t kReplyState = 8;
inline constexpr std::size_t kAcceptState = 20;
inline constexpr std::size_t kResults = 24;

}  // namespace tarnel::vxi11::test
