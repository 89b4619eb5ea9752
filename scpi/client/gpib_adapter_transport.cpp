// Not built yet: this connection kind is refused until its transport lands.
#include "scpi/client/gpib_adapter_transport.h"

#include "scpi/client/instrument_failure.h"

namespace tarnel::scpi::client {

std::unique_ptr<Transport> OpenGpibAdapterTransport(const GpibResource&, const GpibAdapter&, std::chrono::milliseconds) {
    throw InstrumentFailure(FailureKind::Unreachable, "this connection kind is not supported yet — use a LAN socket");
}

}  // namespace tarnel::scpi::client
