// Module CommsFunctions: the two board commands after start-up.
#pragma once

#include <cstdint>
#include <optional>

namespace CommsFunctions {

// Sends one DAC input word with request 0xDD: bits 15..0 in the value field,
// registerLength in the high byte and bits 23..16 in the low byte of the index
// field, no data bytes. The status goes to LinkStatus; returns whether the
// library reports the write as done. An input word outside 0..0xFFFFFF, or a
// register length outside -128..127, raises RunTimeError (overflow) and
// sends nothing.
bool WriteDacWord(std::int16_t registerLength, std::int32_t inputWord);

// Fetches the two read-back bytes with request 0xDA into ReadBuffer and
// returns the value of the reply's high byte (byte 0) and low byte
// (byte 1), each put through ReverseBits. The status goes to
// LinkStatus; a failed request gives no value (the buffer's bytes are stale).
std::optional<std::int32_t> ReadConverter();

// Mirrors the bits of one byte: bit 0 to bit 7, bit 1 to bit 6, ...
std::uint8_t ReverseBits(std::uint8_t byte);

}  // namespace CommsFunctions
