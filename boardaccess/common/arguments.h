// Checking the arguments a library entry point receives before anything
// reaches the board. Each check throws BoardError(BadArgument) with a message
// naming the argument and what it must be.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include <tarnel/board_protocol.h>

#include "usb_board.h"

namespace tarnel::boardaccess {

void RequirePointer(const void* pointer, std::string_view name);

// A USB vendor/product id pair; each must fit in 16 bits.
BoardId BoardIdFrom(std::uint32_t vendor, std::uint32_t product);

// A request code 0..255.
std::uint8_t RequestCodeFrom(std::int32_t code);

// A 16-bit request field (value, index): 0..65535.
std::uint16_t FieldFrom(std::int64_t field, std::string_view name);

// 0 = to the board, 1 = from the board.
protocol::Direction DirectionFrom(std::int32_t direction);

// The request's data bytes; the pointer may be null only for length 0.
std::span<std::uint8_t> DataFrom(void* data, std::int32_t length);

}  // namespace tarnel::boardaccess
