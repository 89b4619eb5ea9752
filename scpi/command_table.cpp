#include "scpi/command_table.h"

#include <utility>

#include "scpi/keywords.h"
#include "scpi/standard_commands.h"

namespace tarnel::scpi {

CommandTable::CommandTable(InstrumentBasics basics, std::vector<CommandRow> rows)
    : basics_(std::move(basics)), rows_(StandardCommands(basics_)) {
    for (CommandRow& row : rows) rows_.push_back(std::move(row));
    for (const CommandRow& row : rows_) patterns_.push_back(PatternOf(row.header));
}

const CommandRow* CommandTable::Find(const std::vector<std::string_view>& nodes, bool query) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const CommandRow& row = rows_[i];
        if ((query ? static_cast<bool>(row.query) : static_cast<bool>(row.set)) && Matches(patterns_[i], 0, nodes, 0)) {
            return &row;
        }
    }
    return nullptr;
}

// "[SOURce:]DAC:CODE" -> SOURce (optional), DAC, CODE.
CommandTable::Pattern CommandTable::PatternOf(std::string_view header) {
    Pattern nodes;
    bool optional = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        const char c = i < header.size() ? header[i] : ':';
        if (c != ':' && c != '[' && c != ']') continue;
        if (i > start) {
            const std::string_view keyword = header.substr(start, i - start);
            nodes.push_back({std::string(keyword), ShortForm(keyword), optional});
        }
        if (c == '[') optional = true;
        if (c == ']') optional = false;
        start = i + 1;
    }
    return nodes;
}

bool CommandTable::Matches(const Pattern& pattern, std::size_t p, const std::vector<std::string_view>& nodes,
                           std::size_t n) {
    if (p == pattern.size()) return n == nodes.size();
    const PatternNode& node = pattern[p];
    const bool named = n < nodes.size() &&
                       (EqualsIgnoringCase(nodes[n], node.shortForm) || EqualsIgnoringCase(nodes[n], node.keyword));
    if (named && Matches(pattern, p + 1, nodes, n + 1)) {
        return true;
    }
    return node.optional && Matches(pattern, p + 1, nodes, n);
}

}  // namespace tarnel::scpi
