// A SCPI program message (one line, without its end) cut into program units,
// each header resolved to a row of the command table by the SCPI path rules and its parameters
// kept as typed. Text only: no board, no sockets.
//
// Path rules: a header that starts with ':' starts from the root; any other
// header continues from the path of the unit before it in the message (its
// header without the last node), and from the root when nothing is found
// there. Common commands (*IDN?) neither use nor change the path.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/command_table.h"
#include "scpi/scpi_error.h"

namespace tarnel::scpi {

struct Parameter {
    enum class Kind { Decimal, NonDecimal, Character, String };
    Kind kind = Kind::Decimal;
    std::string text;     // Decimal: the number ("-1.5E3"); NonDecimal: the digits;
                          // Character: the name; String: the content, quotes undone
    std::string suffix;   // Decimal: the unit as typed ("mV"), or empty
    int radix = 10;       // NonDecimal: 16 (#H), 8 (#Q) or 2 (#B)
};

struct ProgramUnit {
    const CommandRow* row = nullptr;   // the table's row of the header
    bool query = false;
    std::string header;   // as typed, for the details of errors
    std::vector<Parameter> parameters;
};

struct ParseError {
    ErrorCode code = ErrorCode::SyntaxError;
    std::string detail;
};

struct ParsedMessage {
    std::vector<ProgramUnit> units;     // every unit before the first error
    std::optional<ParseError> error;    // the error that ended the message early
};

ParsedMessage ParseMessage(std::string_view message, const CommandTable& table);

}  // namespace tarnel::scpi
