// Runs one program message of a connection, unit after unit, against the
// instrument. A unit whose header or parameters are refused ends the message
// there, its error queued; a board failure is queued and the message goes on,
// a query that failed on the board answering 9.91E+37 (SCPI's not-a-number),
// so that a client never waits for a reply that cannot come.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "scpi/connection_state.h"
#include "scpi/instrument.h"

namespace tarnel::scpi {

// The reply line: the answers of the message's queries joined by ';'
// (IEEE 488.2), without the line end; nothing when no query answered.
std::optional<std::string> ExecuteMessage(std::string_view message, ConnectionState& connection,
                                          Instrument& instrument);

}  // namespace tarnel::scpi
