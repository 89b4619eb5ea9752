// The meter's SCPI commands: its command table on the SCPI engine, DC volts
// only. Each handler works on the meter session that the client's message
// holds (held() gives it), so a table serves one client.
#pragma once

#include <functional>
#include <string>

#include "scpi/command_table.h"

#include "shared_meter.h"

namespace tarnel::emulator {

// "Velorn,Tarnel Emulated DMM,0,<version>"
std::string MeterIdentity();

scpi::CommandTable MeterCommands(std::function<SharedMeter::Session&()> held);

}  // namespace tarnel::emulator
