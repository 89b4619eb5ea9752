// The USBTMC interfaces on the host's USB buses, for the instrument listing.
#pragma once

#include <vector>

#include "scpi/client/instrument_list.h"

namespace tarnel::scpi::client::usb {

// Each interface with its resource (the interface number written only for
// a device's second and later USBTMC interfaces), maker and product; a
// device this user cannot open is listed with serial "?" and the reason.
// Nothing on a host without USB.
std::vector<ListedInstrument> ListUsbtmcInterfaces();

}  // namespace tarnel::scpi::client::usb
