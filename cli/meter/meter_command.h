// tarnelctl meter RESOURCE [MESSAGE ...]: talks to the meter alone, for
// checking the cabling before a long run and for anything the meter can do
// that tarnelctl does not. Each message is sent; a query's reply is printed;
// then the meter's error queue is read, and what it held ends the command as
// its one line on stderr.
// Exit 1 when it held errors, 3 when the meter cannot be reached, 5 when it
// stops answering.
#pragma once

#include "command_line/command_line.h"
#include "command_line/option_reader.h"

namespace tarnel::cli {

MeterCommand ParseMeterCommand(const OptionReader& args, const GlobalOptions& options);
void TalkToMeter(const GlobalOptions& options, const MeterCommand& command);

}  // namespace tarnel::cli
