// Runs one program message of a connection, unit after unit, through an
// instrument's command table. A unit whose header or parameters are refused
// ends the message there, its error queued; a hardware failure (-240, -241,
// and -300 for any other exception of a handler) is queued and the message
// goes on, a query that failed so answering
// 9.91E+37 (SCPI's not-a-number), so that a client never waits for a reply
// that cannot come. Before and after each unit the instrument's conditions
// go to the connection's STATus registers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "scpi/command_table.h"
#include "scpi/connection_state.h"
#include "scpi/input_lines.h"

namespace tarnel::scpi {

// The reply line: the answers of the message's queries joined by ';'
// (IEEE 488.2), without the line end; nothing when no query answered.
std::optional<std::string> ExecuteMessage(std::string_view message, const CommandTable& table,
                                          ConnectionState& connection);

// Queues -363 for a line that was longer than InputLines keeps: it was
// dropped unrun, and the connection goes on.
void ReportDroppedLine(ConnectionState& connection);

}  // namespace tarnel::scpi
