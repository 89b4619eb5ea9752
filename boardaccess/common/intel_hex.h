// Reading a firmware file in Intel HEX format into a validated image of the
// microcontroller's on-chip RAM. The whole file is checked before anything
// reaches the board: a file that fails any check yields no image at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string_view>

namespace tarnel::boardaccess {

// Address -> byte for every byte the file places; all inside on-chip RAM.
using FirmwareImage = std::map<std::uint16_t, std::uint8_t>;

// Largest firmware file accepted; real images of the 16.5 KiB of on-chip RAM
// are far smaller, so anything bigger is not firmware for this board.
inline constexpr std::size_t kMaxFirmwareFileBytes = 1 << 20;

// Parses the text of an Intel HEX file. Records 00 (data), 01 (end),
// 02 (extended segment address) and 04 (extended linear address) are used;
// 03 and 05 (start addresses) are checked and ignored. Blank lines are
// skipped; anything but blank lines after the end record is an error.
// fileName (a base name) starts every error message, with the line number.
// Throws BoardError(BadFirmware) on the first problem found.
FirmwareImage ParseIntelHex(std::string_view text, std::string_view fileName);

// Reads and parses the file at path. Throws BoardError(BadFirmware) when the
// file is missing, unreadable, too large or malformed.
FirmwareImage ReadIntelHexFile(const std::filesystem::path& path);

}  // namespace tarnel::boardaccess
