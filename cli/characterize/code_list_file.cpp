#include "characterize/code_list_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <tarnel/board_protocol.h>

#include "command_line/command_failure.h"
#include "command_line/usage_failure.h"
#include "command_line/value_parsing.h"
#include "output/number_format.h"

namespace tarnel::cli {

std::vector<std::uint32_t> ReadCodeListFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        UsageFailure("cannot read the --codes file " + path + ": " + std::strerror(errno) +
                     " (--codes takes bits, carries, grid:N, all or a file of hex codes)");
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseCodeList(text.str(), path);
}

std::vector<std::uint32_t> ParseCodeList(const std::string& text, const std::string& path) {
    std::vector<std::uint32_t> codes;
    std::istringstream lines(text);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        for (char& c : line) {
            if (c == ',' || c == '\t' || c == '\r') c = ' ';
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const auto code = ParseHexWord(word);
            const std::string where = path + " line " + std::to_string(number);
            if (!code) UsageFailure(where + ": '" + word + "' is not a data word in hex such as 20000 or 0x3FFFF");
            if (*code > protocol::kDataMask) {
                throw CommandFailure(ExitStatus::OutOfRange, where + ": " + word + " is above the largest word " +
                                                                 WordText(protocol::kDataMask) + " — nothing written");
            }
            codes.push_back(static_cast<std::uint32_t>(*code));
        }
    }
    if (codes.empty()) UsageFailure(path + " holds no codes; list data words in hex, one or more a line");
    return codes;
}

}  // namespace tarnel::cli
