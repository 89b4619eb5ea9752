// SCPI keywords as a client types them: the long form or the short form (the
// keyword's upper-case letters and digits, "VOLT" for "VOLTage"), in any case,
// and nothing in between.
#pragma once

#include <string>
#include <string_view>

namespace tarnel::scpi {

bool NamesKeyword(std::string_view typed, std::string_view keyword);

// A keyword's short form: its upper-case letters, digits and '*' ("VOLT").
std::string ShortForm(std::string_view keyword);

// Whether a and b are the same text but for the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tarnel::scpi
