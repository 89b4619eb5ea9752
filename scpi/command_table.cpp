#include "scpi/command_table.h"

#include "scpi/keywords.h"

namespace tarnel::scpi {

namespace {

struct Entry {
    std::string_view header;
    Command command;
    bool setting;   // has a form without '?'
    bool query;     // has a form with '?'
};

constexpr Entry kTable[] = {
    {"*IDN", Command::Identify, false, true},
    {"*RST", Command::Reset, true, false},
    {"*CLS", Command::ClearStatus, true, false},
    {"*ESE", Command::EventEnable, true, true},
    {"*ESR", Command::EventStatus, false, true},
    {"*SRE", Command::ServiceRequestEnable, true, true},
    {"*STB", Command::StatusByte, false, true},
    {"*OPC", Command::OperationComplete, true, true},
    {"*WAI", Command::Wait, true, false},
    {"*TST", Command::SelfTest, false, true},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", Command::Level, true, true},
    {"[SOURce:]VOLTage:LIMit[:AMPLitude]", Command::Limit, true, true},
    {"[SOURce:]DAC:CODE", Command::DacCode, true, true},
    {"OUTPut[:STATe]", Command::Output, true, true},
    {"OUTPut:OFF:MODE", Command::OffMode, true, true},
    {"MEASure[:VOLTage][:DC]", Command::Measure, false, true},
    {"[SENSe:]AVERage:COUNt", Command::AverageCount, true, true},
    {"SYSTem:ERRor[:NEXT]", Command::NextError, false, true},
    {"SYSTem:ERRor:COUNt", Command::ErrorCount, false, true},
    {"SYSTem:VERSion", Command::Version, false, true},
};

struct PatternNode {
    std::string_view keyword;   // as the table writes it: "VOLTage"
    bool optional = false;
};

// "[SOURce:]DAC:CODE" -> SOURce (optional), DAC, CODE.
std::vector<PatternNode> PatternOf(std::string_view header) {
    std::vector<PatternNode> nodes;
    bool optional = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        const char c = i < header.size() ? header[i] : ':';
        if (c != ':' && c != '[' && c != ']') continue;
        if (i > start) nodes.push_back({header.substr(start, i - start), optional});
        if (c == '[') optional = true;
        if (c == ']') optional = false;
        start = i + 1;
    }
    return nodes;
}

bool Matches(const std::vector<PatternNode>& pattern, std::size_t p, const std::vector<std::string_view>& nodes,
             std::size_t n) {
    if (p == pattern.size()) return n == nodes.size();
    if (n < nodes.size() && NamesKeyword(nodes[n], pattern[p].keyword) && Matches(pattern, p + 1, nodes, n + 1)) {
        return true;
    }
    return pattern[p].optional && Matches(pattern, p + 1, nodes, n);
}

// The table's headers as patterns, in table order, split once.
const std::vector<std::vector<PatternNode>>& Patterns() {
    static const auto patterns = [] {
        std::vector<std::vector<PatternNode>> all;
        for (const Entry& entry : kTable) all.push_back(PatternOf(entry.header));
        return all;
    }();
    return patterns;
}

}  // namespace

std::optional<Command> FindCommand(const std::vector<std::string_view>& nodes, bool query) {
    const auto& patterns = Patterns();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const Entry& entry = kTable[i];
        if ((query ? entry.query : entry.setting) && Matches(patterns[i], 0, nodes, 0)) return entry.command;
    }
    return std::nullopt;
}

}  // namespace tarnel::scpi
