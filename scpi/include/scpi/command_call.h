// What a command's handler gets: the unit as typed, the connection it came
// from (its error queue and status registers), and readers for its
// parameters that refuse, with the SCPI error, what the command does not take.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scpi/connection_state.h"
#include "scpi/message_parser.h"
#include "scpi/parameter_values.h"

namespace tarnel::scpi {

class CommandCall {
public:
    CommandCall(const ProgramUnit& unit, ConnectionState& connection, bool replyWaiting)
        : unit_(unit), connection_(connection), replyWaiting_(replyWaiting) {}

    const std::string& Header() const { return unit_.header; }
    const std::vector<Parameter>& Parameters() const { return unit_.parameters; }
    ConnectionState& Connection() const { return connection_; }
    // An earlier query of the same message has answered (*STB?'s MAV bit).
    bool ReplyWaiting() const { return replyWaiting_; }

    // -108 when the unit has a parameter.
    void NoParameter() const;
    // -108 when the unit has more than count parameters.
    void AtMostParameters(std::size_t count) const;
    // The one parameter: -109 without it, -108 with more.
    const Parameter& OneParameter() const;
    // A query's optional MIN, MAX or DEF; -224 for any other parameter.
    std::optional<NumericLimit> QueriedLimit() const;
    // The one parameter as a number in unit, MIN, MAX and DEF resolved
    // within bounds, -222 outside bounds.least..bounds.most.
    double Number(Unit unit, const Bounds& bounds) const;
    // The same, rounded to a whole number.
    double Whole(const Bounds& bounds) const;

private:
    const ProgramUnit& unit_;
    ConnectionState& connection_;
    bool replyWaiting_;
};

}  // namespace tarnel::scpi
