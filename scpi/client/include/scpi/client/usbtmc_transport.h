// A USBTMC (USB488) instrument through libusb: found by its ids and serial
// number, its USBTMC interface claimed (the kernel's usbtmc driver detached
// for the run and attached again at the end). Messages go out as
// DEV_DEP_MSG_OUT with EOM; replies come back through REQUEST_DEV_DEP_MSG_IN,
// joined across transfers until EOM. A timeout aborts the transfer so that
// the next exchange starts clean. The USBTMC logic is usbtmc_session, the
// device side libusb_pipe.
#pragma once

#include <chrono>
#include <memory>

#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

// Throws InstrumentFailure: NotFound (naming the ids and "tarnelctl meters"),
// NoPermission (naming the udev rule), Busy, Unreachable.
std::unique_ptr<Transport> OpenUsbtmcTransport(const UsbResource& resource, std::chrono::milliseconds timeout);

}  // namespace tarnel::scpi::client
