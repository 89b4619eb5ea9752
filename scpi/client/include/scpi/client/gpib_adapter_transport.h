// A GPIB instrument through a "++" adapter on a serial line or the LAN: the
// adapter set up as controller for the instrument's address (++mode 1,
// ++addr N, ++auto 0, ++eoi 1, ++eos 3, ++read_tmo_ms), data escaped, each
// reply asked for with "++read eoi" and asked for again while a long reading
// is under way, until the deadline.
#pragma once

#include <chrono>
#include <memory>

#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

// Throws InstrumentFailure: NotFound (no such adapter device, naming the
// path), NoPermission, Busy, Unreachable (nothing answers "++ver").
std::unique_ptr<Transport> OpenGpibAdapterTransport(const GpibResource& resource, const GpibAdapter& adapter,
                                                    std::chrono::milliseconds timeout);

}  // namespace tarnel::scpi::client
