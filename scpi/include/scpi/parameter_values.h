// What a parameter means to the command that takes it: a number (with a unit
// for voltages), MIN, MAX or DEF, a boolean, or one of a few names. Each
// reader throws ScpiFailure for a parameter that is not such a value: -131
// for a unit the parameter does not take, -224 for anything else.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <variant>
#include <vector>

#include "scpi/message_parser.h"

namespace tarnel::scpi {

enum class NumericLimit { Minimum, Maximum, Default };
using NumericValue = std::variant<double, NumericLimit>;

enum class Unit { None, Volts };

// A numeric parameter's range and what MIN, MAX and DEF stand for.
struct Bounds {
    double least;       // MIN, and the smallest value taken
    double most;        // the largest value taken
    double maximum;     // MAX (below most when a setting holds it lower)
    double byDefault;   // DEF
};

// The number a value stands for within bounds (MIN, MAX, DEF resolved; a
// number as it is, not checked).
double Resolved(const NumericValue& value, const Bounds& bounds);

// A decimal number (for Volts with an optional V, MV or UV, any case), a
// number in #H, #Q or #B, or MINimum, MAXimum, DEFault.
NumericValue NumberIn(const Parameter& parameter, Unit unit);

// ON or OFF, or a number: 0 is OFF, any other (rounded) is ON.
bool BooleanIn(const Parameter& parameter);

// The position in names of the keyword the parameter names.
std::size_t ChoiceIn(const Parameter& parameter, const std::vector<std::string_view>& names);
inline std::size_t ChoiceIn(const Parameter& parameter, std::initializer_list<std::string_view> names) {
    return ChoiceIn(parameter, std::vector<std::string_view>(names));
}

}  // namespace tarnel::scpi
