// A LAN instrument on VXI-11 (ONC RPC): the core channel's port asked of the
// host's portmapper, a link made to the resource's device (inst0 unless
// given), messages written with device_write in pieces no longer than the
// link takes (END on the last), replies read with device_read until the END
// reason, the status byte with device_readstb, device clear with
// device_clear, and the link destroyed when the transport ends. Every RPC
// waits at most its io_timeout and a grace beyond it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "scpi/client/transport.h"

namespace tarnel::scpi::client {

struct Vxi11Settings {
    std::uint32_t readSize = 65536;                    // bytes one device_read asks for
    std::chrono::milliseconds sendTimeout{5000};       // io_timeout of a whole message's device_write calls
    std::chrono::milliseconds requestTimeout{2000};    // device_readstb, device_clear, destroy_link
    std::chrono::milliseconds answerGrace{1000};       // beyond io_timeout, the wait for the RPC's reply
};

// Throws InstrumentFailure: Unreachable (no portmapper, no VXI-11 server, no
// such device, no answer while opening) or Busy (the device locked by another
// link, or no links left), naming the host, the device and the fix.
std::unique_ptr<Transport> OpenVxi11Transport(const Vxi11Resource& resource, std::chrono::milliseconds timeout,
                                              const Vxi11Settings& settings = {});

}  // namespace tarnel::scpi::client
