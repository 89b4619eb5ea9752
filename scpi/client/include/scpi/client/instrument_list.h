// The instruments a bench has connected to this host: every USBTMC
// instrument on the USB buses, and every serial port.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scpi/client/instrument_resource.h"

namespace tarnel::scpi::client {

struct ListedInstrument {
    InstrumentResource resource;
    std::string kind;             // "usbtmc" or "serial"
    std::string manufacturer;     // from the USB descriptors, or the serial port's USB device; may be empty
    std::string product;
    std::optional<std::string> identity;   // *IDN? when asked for and answered
    std::optional<std::string> problem;    // why a detail could not be read or *IDN? not asked: permission, busy
};

// Every USBTMC interface on the buses (class 0xFE, subclass 0x03) and every
// serial port with a device behind it (ttyS with a real UART, ttyUSB, ttyACM).
// With identify, each USB instrument is also asked *IDN?.
std::vector<ListedInstrument> ListInstruments(bool identify);

}  // namespace tarnel::scpi::client
