#include "scpi/client/usbtmc_header.h"

#include <algorithm>

namespace tarnel::scpi::client::usbtmc {

std::array<std::uint8_t, kHeaderSize> EncodeHeader(const BulkHeader& header) {
    const std::uint32_t size = header.transferSize;
    return {static_cast<std::uint8_t>(header.msgId),
            header.tag,
            static_cast<std::uint8_t>(~header.tag),
            0,
            static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 24),
            header.attributes,
            header.termChar,
            0,
            0};
}

std::optional<BulkHeader> DecodeHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderSize) return std::nullopt;
    if (static_cast<std::uint8_t>(~bytes[1]) != bytes[2]) return std::nullopt;
    BulkHeader header;
    header.msgId = static_cast<MsgId>(bytes[0]);
    header.tag = bytes[1];
    header.transferSize = static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
                          static_cast<std::uint32_t>(bytes[6]) << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    header.attributes = bytes[8];
    header.termChar = bytes[9];
    return header;
}

namespace {

std::vector<std::uint8_t> Transfer(MsgId id, std::uint8_t tag, std::string_view bytes, std::uint8_t attributes) {
    const auto header = EncodeHeader({id, tag, static_cast<std::uint32_t>(bytes.size()), attributes, 0});
    std::vector<std::uint8_t> transfer(kHeaderSize + Padded(bytes.size()), 0);
    std::copy(header.begin(), header.end(), transfer.begin());
    std::copy(bytes.begin(), bytes.end(), transfer.begin() + kHeaderSize);
    return transfer;
}

}  // namespace

std::vector<std::uint8_t> DevDepMsgOut(std::uint8_t tag, std::string_view bytes, bool endOfMessage) {
    return Transfer(MsgId::DevDepMsgOut, tag, bytes, static_cast<std::uint8_t>(endOfMessage ? kEom : 0));
}

std::vector<std::uint8_t> DevDepMsgIn(std::uint8_t tag, std::string_view bytes, std::uint8_t attributes) {
    return Transfer(MsgId::DevDepMsgIn, tag, bytes, attributes);
}

std::array<std::uint8_t, kHeaderSize> RequestDevDepMsgIn(std::uint8_t tag, std::uint32_t maxSize,
                                                         std::optional<char> termChar) {
    return EncodeHeader({MsgId::RequestDevDepMsgIn, tag, maxSize,
                         static_cast<std::uint8_t>(termChar ? kTermCharEnabled : 0),
                         static_cast<std::uint8_t>(termChar.value_or(0))});
}

}  // namespace tarnel::scpi::client::usbtmc
