#include "scpi/command_call.h"

#include <cmath>
#include <cstdio>

namespace tarnel::scpi {

namespace {

[[noreturn]] void OutOfRange(double value, const Bounds& bounds) {
    char text[96];
    std::snprintf(text, sizeof text, "%.15g is outside %.15g to %.15g", value, bounds.least, bounds.most);
    throw ScpiFailure(ErrorCode::DataOutOfRange, text);
}

}  // namespace

void CommandCall::NoParameter() const { AtMostParameters(0); }

void CommandCall::AtMostParameters(std::size_t count) const {
    if (unit_.parameters.size() <= count) return;
    if (count == 0) throw ScpiFailure(ErrorCode::ParameterNotAllowed, unit_.header + " takes no parameter");
    throw ScpiFailure(ErrorCode::ParameterNotAllowed,
                      unit_.header + " takes at most " + std::to_string(count) + " parameters");
}

const Parameter& CommandCall::OneParameter() const {
    if (unit_.parameters.empty()) throw ScpiFailure(ErrorCode::MissingParameter, unit_.header + " needs a value");
    if (unit_.parameters.size() > 1) throw ScpiFailure(ErrorCode::ParameterNotAllowed, unit_.header + " takes one value");
    return unit_.parameters.front();
}

std::optional<NumericLimit> CommandCall::QueriedLimit() const {
    if (unit_.parameters.empty()) return std::nullopt;
    const NumericValue value = NumberIn(OneParameter(), Unit::None);
    if (const NumericLimit* limit = std::get_if<NumericLimit>(&value)) return *limit;
    throw ScpiFailure(ErrorCode::IllegalParameterValue, unit_.header + " takes MIN, MAX or DEF");
}

double CommandCall::Number(Unit unit, const Bounds& bounds) const {
    const double value = Resolved(NumberIn(OneParameter(), unit), bounds);
    if (!(value >= bounds.least && value <= bounds.most)) OutOfRange(value, bounds);
    return value;
}

double CommandCall::Whole(const Bounds& bounds) const {
    const double value = std::round(Resolved(NumberIn(OneParameter(), Unit::None), bounds));
    if (!(value >= bounds.least && value <= bounds.most)) OutOfRange(value, bounds);
    return value;
}

}  // namespace tarnel::scpi
