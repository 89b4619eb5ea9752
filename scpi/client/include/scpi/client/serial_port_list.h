// The serial ports of the host as the instrument listing shows them: the
// ttyUSB and ttyACM ports, and the ttyS ports with a real UART behind them,
// each with the maker and product of the USB device it belongs to.
#pragma once

#include <filesystem>
#include <vector>

#include "scpi/client/instrument_list.h"

namespace tarnel::scpi::client {

// `ttyClass` is sysfs' tty class folder (/sys/class/tty), `devices` the
// folder of the device nodes (/dev).
std::vector<ListedInstrument> ListSerialPorts(const std::filesystem::path& ttyClass,
                                              const std::filesystem::path& devices);

}  // namespace tarnel::scpi::client
