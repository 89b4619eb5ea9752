// A file of DAC codes for `characterize --codes FILE`: data words in hex
// ("20000", "0x3FFFF"), separated by spaces, commas or line ends; '#' starts a
// comment to the end of its line. The codes are measured in the file's order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::cli {

// A file that cannot be read, a word that is not hex, or a file without codes
// throws CommandFailure(Usage) naming the line; a word above the DAC's
// largest throws CommandFailure(OutOfRange).
std::vector<std::uint32_t> ReadCodeListFile(const std::string& path);

// The same from the file's text; `path` names it in messages.
std::vector<std::uint32_t> ParseCodeList(const std::string& text, const std::string& path);

}  // namespace tarnel::cli
