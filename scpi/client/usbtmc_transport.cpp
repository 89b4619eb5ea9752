// Not built yet: this connection kind is refused until its transport lands.
#include "scpi/client/usbtmc_transport.h"

#include "scpi/client/instrument_failure.h"

namespace tarnel::scpi::client {

std::unique_ptr<Transport> OpenUsbtmcTransport(const UsbResource&, std::chrono::milliseconds) {
    throw InstrumentFailure(FailureKind::Unreachable, "this connection kind is not supported yet — use a LAN socket");
}

}  // namespace tarnel::scpi::client
