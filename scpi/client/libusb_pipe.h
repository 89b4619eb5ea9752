// The USBTMC pipe on a device through libusb: the instrument found by its ids
// and serial number, its USBTMC interface claimed. A kernel driver bound to
// the interface (the kernel's usbtmc) is detached for the run and attached
// again when the pipe closes.
#pragma once

#include <memory>

#include "scpi/client/instrument_resource.h"
#include "scpi/client/usb_pipe.h"

namespace tarnel::scpi::client::usb {

// Throws InstrumentFailure: NotFound, NoPermission, Busy or Unreachable.
std::unique_ptr<usbtmc::UsbPipe> OpenLibusbPipe(const UsbResource& resource);

}  // namespace tarnel::scpi::client::usb
