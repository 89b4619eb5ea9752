#include "arguments.h"

#include <string>

#include "board_error.h"
#include "hex_text.h"

namespace tarnel::boardaccess {
namespace {

[[noreturn]] void Reject(const std::string& message) { throw BoardError(FailureKind::BadArgument, message); }

}  // namespace

void RequirePointer(const void* pointer, std::string_view name) {
    if (pointer == nullptr) Reject(std::string(name) + " is a null pointer — pass the address of a buffer");
}

BoardId BoardIdFrom(std::uint32_t vendor, std::uint32_t product) {
    for (const auto& [id, name] : {std::pair{vendor, "vendor id"}, std::pair{product, "product id"}}) {
        if (id > UINT16_MAX) Reject(std::string(name) + " " + HexText(id, 4) + " is not a 16-bit USB id — pass the board's USB id");
    }
    return BoardId{static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product)};
}

std::uint8_t RequestCodeFrom(std::int32_t code) {
    if (code < 0 || code > UINT8_MAX) {
        Reject("request code " + std::to_string(code) + " is outside 0..255 — pass an 8-bit request code");
    }
    return static_cast<std::uint8_t>(code);
}

std::uint16_t FieldFrom(std::int64_t field, std::string_view name) {
    if (field < 0 || field > UINT16_MAX) {
        Reject(std::string(name) + " " + std::to_string(field) + " is outside 0..65535 — pass a 16-bit " +
               std::string(name));
    }
    return static_cast<std::uint16_t>(field);
}

protocol::Direction DirectionFrom(std::int32_t direction) {
    if (direction != 0 && direction != 1) {
        Reject("direction " + std::to_string(direction) + " is neither 0 (to the board) nor 1 (from the board) — pass 0 or 1");
    }
    return static_cast<protocol::Direction>(direction);
}

std::span<std::uint8_t> DataFrom(void* data, std::int32_t length) {
    if (length < 0) Reject("length " + std::to_string(length) + " is negative — pass the number of data bytes");
    if (length > 0) RequirePointer(data, "data");
    return {static_cast<std::uint8_t*>(data), static_cast<std::size_t>(length)};
}

}  // namespace tarnel::boardaccess
