#include "scpi/client/usbtmc_transport.h"

#include "libusb_pipe.h"
#include "scpi/client/usbtmc_session.h"

namespace tarnel::scpi::client {

std::unique_ptr<Transport> OpenUsbtmcTransport(const UsbResource& resource, std::chrono::milliseconds timeout) {
    auto session = std::make_unique<usbtmc::Session>(usb::OpenLibusbPipe(resource), InstrumentResource{resource}.Text());
    session->Start(timeout);
    return session;
}

}  // namespace tarnel::scpi::client
