// The commands the server knows, each under its SCPI header: keywords in long
// or short form (the upper-case part of a keyword is its short form), any
// case, optional nodes in [ ]; and whether the command has a setting form, a
// query form, or both.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tarnel::scpi {

enum class Command {
    Identify,               // *IDN?
    Reset,                  // *RST
    ClearStatus,            // *CLS
    EventEnable,            // *ESE, *ESE?
    EventStatus,            // *ESR?
    ServiceRequestEnable,   // *SRE, *SRE?
    StatusByte,             // *STB?
    OperationComplete,      // *OPC, *OPC?
    Wait,                   // *WAI
    SelfTest,               // *TST?
    Level,                  // [SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]
    Limit,                  // [SOURce:]VOLTage:LIMit[:AMPLitude]
    DacCode,                // [SOURce:]DAC:CODE
    Output,                 // OUTPut[:STATe]
    OffMode,                // OUTPut:OFF:MODE
    Measure,                // MEASure[:VOLTage][:DC]?
    AverageCount,           // [SENSe:]AVERage:COUNt
    NextError,              // SYSTem:ERRor[:NEXT]?
    ErrorCount,             // SYSTem:ERRor:COUNt?
    Version,                // SYSTem:VERSion?
};

// The command whose header is these nodes (a common command is one node,
// "*IDN"), in the form asked for; nothing when there is none.
std::optional<Command> FindCommand(const std::vector<std::string_view>& nodes, bool query);

}  // namespace tarnel::scpi
