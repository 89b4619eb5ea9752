#include "scpi/keywords.h"

namespace tarnel::scpi {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

std::string ShortForm(std::string_view keyword) {
    std::string shortForm;
    for (const char c : keyword) {
        if (c == '*' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) shortForm += c;
    }
    return shortForm;
}

bool NamesKeyword(std::string_view typed, std::string_view keyword) {
    return EqualsIgnoringCase(typed, keyword) || EqualsIgnoringCase(typed, ShortForm(keyword));
}

}  // namespace tarnel::scpi
