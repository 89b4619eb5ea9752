#include "output/plot_title.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tarnel::cli {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string FactsLine(const std::vector<std::string>& facts) {
    std::string line;
    for (const std::string& fact : facts) {
        if (fact.empty()) continue;
        if (!line.empty()) line += "  \u00b7  ";
        line += fact;
    }
    return line;
}

std::string BoardFacts(LibraryChoice library, unsigned board) {
    return "board " + std::to_string(board) + (library == LibraryChoice::Newer ? ", newer library" : ", older library");
}

std::string PlotDate(const char* sourceDateEpoch, std::time_t now) {
    std::time_t when = now;
    if (sourceDateEpoch != nullptr && *sourceDateEpoch != '\0') {
        long long seconds = 0;
        const char* end = sourceDateEpoch + std::strlen(sourceDateEpoch);
        const auto [stop, error] = std::from_chars(sourceDateEpoch, end, seconds);
        if (error == std::errc() && stop == end && seconds >= 0) when = static_cast<std::time_t>(seconds);
    }
    std::tm utc{};
    char text[32] = "";
    if (::gmtime_r(&when, &utc) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &utc) == 0) return "";
    return text;
}

std::string PlotDate() { return PlotDate(std::getenv("SOURCE_DATE_EPOCH"), std::time(nullptr)); }

std::optional<std::string> MeterModel(const std::string& identity) {
    const std::string whole = Trimmed(identity);
    if (whole.empty()) return std::nullopt;
    const auto comma = whole.find(',');
    if (comma == std::string::npos) return whole;
    const std::string model = Trimmed(whole.substr(comma + 1, whole.find(',', comma + 1) - comma - 1));
    return model.empty() ? whole : model;
}

}  // namespace tarnel::cli
