// The commands every instrument on the engine answers alike, from its basics:
// the IEEE 488.2 common commands (*IDN? *RST *CLS *ESE[?] *ESR? *SRE[?] *STB?
// *OPC[?] *WAI *TST?), SYSTem:ERRor[:NEXT]? :COUNt? :ALL?, SYSTem:VERSion?,
// and the STATus subsystem (OPERation and QUEStionable: [:EVENt]?,
// :CONDition?, :ENABle[?]; PRESet).
#pragma once

#include <vector>

#include "scpi/command_table.h"
#include "scpi/connection_state.h"

namespace tarnel::scpi {

// The SCPI version the engine answers to SYSTem:VERSion?.
inline constexpr const char* kScpiVersion = "1999.0";

std::vector<CommandRow> StandardCommands(const InstrumentBasics& basics);

// Takes the instrument's conditions now into the connection's OPERation and
// QUEStionable registers (the bits that rose latch as events).
void UpdateConditions(const InstrumentBasics& basics, ConnectionState& connection);

}  // namespace tarnel::scpi
